// SPDX-License-Identifier: MIT
#include "service_notify.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace qo3964 {

namespace {

bool ready_told = false;

}  // namespace

bool notify_service(const char* state)
{
    const char* socket_path = std::getenv("NOTIFY_SOCKET");
    if (socket_path == nullptr || socket_path[0] == '\0') {
        return false;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const size_t length = std::strlen(socket_path);
    // A path, or an abstract name written with a leading '@'.
    if ((socket_path[0] != '/' && socket_path[0] != '@') || length >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, socket_path, length);
    if (address.sun_path[0] == '@') {
        address.sun_path[0] = '\0';
    }
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    const auto address_size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
    const size_t state_length = std::strlen(state);
    const ssize_t sent = sendto(fd, state, state_length, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&address),
                                address_size);
    close(fd);
    return sent == static_cast<ssize_t>(state_length);
}

void notify_ready()
{
    ready_told = true;
    notify_service("READY=1");
}

void notify_start_failed(const char* status, int error)
{
    if (ready_told) {
        return;
    }
    char message[640];
    if (error != 0) {
        std::snprintf(message, sizeof message, "STATUS=%s\nERRNO=%d", status, error);
    } else {
        std::snprintf(message, sizeof message, "STATUS=%s", status);
    }
    notify_service(message);
}

}  // namespace qo3964
