// A detached tmux server of the test's own (socket in a temporary
// directory) running one shell command in a window of a fixed size.
#pragma once

#include <string>

#include "test_support.h"

namespace qodemo {

class TmuxSession {
public:
    static constexpr int COLUMNS = 200;
    static constexpr int ROWS = 50;

    // Path of tmux, or "" when it is not installed.
    static std::string tmux_program();

    TmuxSession(const qotest::TempDir& dir, const std::string& shell_command);
    ~TmuxSession();  // ends the tmux server and whatever still runs in it
    TmuxSession(const TmuxSession&) = delete;
    TmuxSession& operator=(const TmuxSession&) = delete;

    bool started() const { return started_; }
    // The first pane's text with its history, wrapped lines joined.
    std::string history() const;
    // Number of panes of the session's window.
    int pane_count() const;

private:
    bool run(std::vector<std::string> arguments, std::string* out) const;

    std::string program_;
    std::string socket_;
    bool started_ = false;
};

// Waits until `path` exists and holds a line; its number, or -1 at the bound.
int wait_for_status_file(const std::string& path, int timeout_ms);

}  // namespace qodemo
