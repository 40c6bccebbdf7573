// SPDX-License-Identifier: MIT
// The service manager's end of the notify protocol (sd_notify(3)): a
// datagram socket in a test's directory whose path a server gets in
// $NOTIFY_SOCKET, and the messages it sends there.
#pragma once

#include <string>

#include "test_support.h"

namespace qotest {

class NotifySocket {
public:
    explicit NotifySocket(const TempDir& dir);
    ~NotifySocket();
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;

    const std::string& path() const { return path_; }
    // The next message, waiting at most timeout_ms; "(nothing)" when none came.
    std::string next(int timeout_ms = 10000);

private:
    std::string path_;
    int fd_ = -1;
};

// Sets an environment variable for the processes started while it lives.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
};

}  // namespace qotest
