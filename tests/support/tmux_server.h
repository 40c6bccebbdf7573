// SPDX-License-Identifier: MIT
// A tmux server of the test's own: its socket and configuration lie in the
// test's temporary directory, so parallel tests and the user's own tmux
// never meet. It runs one detached session of a fixed size and ends, with
// whatever still runs in it, when the object goes.
#pragma once

#include <string>
#include <vector>

#include "test_support.h"

namespace qotest {

class TmuxServer {
public:
    // Path of tmux, or "" when it is not installed.
    static std::string program();

    // Starts the session running `command` (tmux's new-session arguments:
    // one shell line, or a program and its arguments) in a window of
    // `columns` x `rows`; `config` holds the lines of the configuration.
    TmuxServer(const TempDir& dir, const std::string& config, int columns, int rows,
               const std::vector<std::string>& command);
    ~TmuxServer();
    TmuxServer(const TmuxServer&) = delete;
    TmuxServer& operator=(const TmuxServer&) = delete;

    bool started() const { return started_; }
    // Runs one tmux command on this server (bounded); true on exit status
    // 0. Its standard output goes into `out` when given.
    bool run(std::vector<std::string> arguments, std::string* out = nullptr) const;

private:
    std::string program_;
    std::string socket_;
    bool started_ = false;
};

}  // namespace qotest
