// SPDX-License-Identifier: MIT
#include "notify_socket.h"

#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace qotest {

NotifySocket::NotifySocket(const TempDir& dir) : path_(dir.file("notify"))
{
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path_.c_str());
    if (fd_ < 0 || bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        std::perror("notify socket");
        std::abort();
    }
}

NotifySocket::~NotifySocket()
{
    close(fd_);
}

std::string NotifySocket::next(int timeout_ms)
{
    pollfd ready{fd_, POLLIN, 0};
    if (poll(&ready, 1, timeout_ms) != 1) {
        return "(nothing)";
    }
    char text[1024] = {};
    const ssize_t n = recv(fd_, text, sizeof text - 1, 0);
    return std::string(text, n > 0 ? static_cast<size_t>(n) : 0);
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name)
{
    setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv()
{
    unsetenv(name_);
}

}  // namespace qotest
