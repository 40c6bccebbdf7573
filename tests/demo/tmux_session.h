// SPDX-License-Identifier: MIT
// A detached tmux session of the test's own running one shell command in a
// window of a fixed size, read back with its history.
#pragma once

#include <string>

#include "test_support.h"
#include "tmux_server.h"

namespace qodemo {

class TmuxSession {
public:
    static constexpr int COLUMNS = 200;
    static constexpr int ROWS = 50;

    TmuxSession(const qotest::TempDir& dir, const std::string& shell_command);

    bool started() const { return tmux_.started(); }
    // The first pane's text with its history, wrapped lines joined.
    std::string history() const;
    // Number of panes of the session's window.
    int pane_count() const;

private:
    qotest::TmuxServer tmux_;
};

// Waits until `path` exists and holds a line; its number, or -1 at the bound.
int wait_for_status_file(const std::string& path, int timeout_ms);

}  // namespace qodemo
