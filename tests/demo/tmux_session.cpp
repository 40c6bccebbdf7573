// SPDX-License-Identifier: MIT
#include "tmux_session.h"

#include <chrono>
#include <cstdlib>
#include <thread>

namespace qodemo {

namespace {

constexpr auto POLL = std::chrono::milliseconds(50);

// A terminal type every ncurses knows; a history long enough for the whole
// demo.
constexpr const char* CONFIG = "set -g default-terminal screen\nset -g history-limit 5000\n";

}  // namespace

TmuxSession::TmuxSession(const qotest::TempDir& dir, const std::string& shell_command)
    : tmux_(dir, CONFIG, COLUMNS, ROWS, {shell_command})
{
}

std::string TmuxSession::history() const
{
    std::string text;
    tmux_.run({"capture-pane", "-p", "-J", "-S", "-", "-t", ":0.0"}, &text);
    return text;
}

int TmuxSession::pane_count() const
{
    std::string text;
    if (!tmux_.run({"list-panes"}, &text)) {
        return 0;
    }
    int count = 0;
    for (const char c : text) {
        count += c == '\n' ? 1 : 0;
    }
    return count;
}

int wait_for_status_file(const std::string& path, int timeout_ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        if (qotest::file_exists(path)) {
            const std::string text = qotest::read_file(path);
            if (text.find('\n') != std::string::npos) {
                return std::atoi(text.c_str());
            }
        }
        if (std::chrono::steady_clock::now() >= end) {
            return -1;
        }
        std::this_thread::sleep_for(POLL);
    }
}

}  // namespace qodemo
