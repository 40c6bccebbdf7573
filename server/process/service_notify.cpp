// SPDX-License-Identifier: MIT
#include "service_notify.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace qo3964 {

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

}  // namespace qo3964
