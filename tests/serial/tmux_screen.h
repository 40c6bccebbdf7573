// SPDX-License-Identifier: MIT
// A program run in a detached tmux terminal of 80 x 24 cells, whose screen
// the test reads back as text and as per-cell colours. Each screen has a
// tmux server of its own, on a socket in the test's temporary directory.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "test_support.h"
#include "tmux_server.h"

struct ScreenCell {
    char ch = ' ';
    int foreground = -1;  // colour number 0..7; -1 is the terminal default
    int background = -1;
};

class TmuxScreen {
public:
    static constexpr int ROWS = 24;
    static constexpr int COLUMNS = 80;

    // Path of tmux, or "" when it is not installed.
    static std::string tmux_program();

    TmuxScreen(const qotest::TempDir& dir, const std::vector<std::string>& command);

    bool started() const { return tmux_.started(); }
    // The rows as text, trailing blanks removed.
    std::vector<std::string> rows() const;
    // The cells of every row with their colours.
    std::vector<std::vector<ScreenCell>> cells() const;
    // Reads the rows until `ready` holds for them, at most timeout_ms;
    // returns the last rows read.
    std::vector<std::string> rows_when(const std::function<bool(const std::vector<std::string>&)>& ready,
                                       int timeout_ms) const;

private:
    std::string capture(bool colours) const;

    qotest::TmuxServer tmux_;
};

// The text of a row cell: the two characters from `column` on.
std::string cell_text(const std::vector<std::string>& rows, int row, int column);
