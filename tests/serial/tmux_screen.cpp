// SPDX-License-Identifier: MIT
#include "tmux_screen.h"

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace {

// Keeps the colour state of a capture with escapes (SGR sequences only).
void apply_sgr(const std::string& parameters, ScreenCell& pen)
{
    std::vector<int> codes;
    std::istringstream list(parameters);
    std::string item;
    while (std::getline(list, item, ';')) {
        codes.push_back(item.empty() ? 0 : std::atoi(item.c_str()));
    }
    if (codes.empty()) {
        codes.push_back(0);
    }
    for (size_t i = 0; i < codes.size(); ++i) {
        const int code = codes[i];
        if (code == 0) {
            pen.foreground = -1;
            pen.background = -1;
        } else if (code >= 30 && code <= 37) {
            pen.foreground = code - 30;
        } else if (code == 39) {
            pen.foreground = -1;
        } else if (code >= 40 && code <= 47) {
            pen.background = code - 40;
        } else if (code == 49) {
            pen.background = -1;
        } else if (code == 38 || code == 48) {
            // Extended colours: skip their arguments.
            i += (i + 1 < codes.size() && codes[i + 1] == 2) ? 4 : 2;
        }
    }
}

}  // namespace

std::string TmuxScreen::tmux_program()
{
    return qotest::TmuxServer::program();
}

// Own configuration: a terminal type every ncurses knows, and the pane kept
// after its program ended so that a failure can still be read.
TmuxScreen::TmuxScreen(const qotest::TempDir& dir, const std::vector<std::string>& command)
    : tmux_(dir, "set -g default-terminal screen\nset -g remain-on-exit on\n", COLUMNS, ROWS, command)
{
}

std::string TmuxScreen::capture(bool colours) const
{
    std::string text;
    if (colours) {
        tmux_.run({"capture-pane", "-p", "-e"}, &text);
    } else {
        tmux_.run({"capture-pane", "-p"}, &text);
    }
    return text;
}

std::vector<std::string> TmuxScreen::rows() const
{
    std::vector<std::string> result;
    std::istringstream lines(capture(false));
    std::string line;
    while (std::getline(lines, line)) {
        line.erase(line.find_last_not_of(' ') + 1);
        result.push_back(line);
    }
    result.resize(ROWS);
    return result;
}

std::vector<std::vector<ScreenCell>> TmuxScreen::cells() const
{
    std::vector<std::vector<ScreenCell>> result(1);
    const std::string text = capture(true);
    ScreenCell pen;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            result.emplace_back();
        } else if (text[i] == '\x1b' && i + 1 < text.size() && text[i + 1] == '[') {
            size_t end = i + 2;
            while (end < text.size() && (text[end] < 0x40 || text[end] > 0x7e)) {
                ++end;
            }
            if (end < text.size() && text[end] == 'm') {
                apply_sgr(text.substr(i + 2, end - i - 2), pen);
            }
            i = end;
        } else {
            ScreenCell cell = pen;
            cell.ch = text[i];
            result.back().push_back(cell);
        }
    }
    result.resize(ROWS);
    for (std::vector<ScreenCell>& row : result) {
        row.resize(COLUMNS);
    }
    return result;
}

std::vector<std::string> TmuxScreen::rows_when(const std::function<bool(const std::vector<std::string>&)>& ready,
                                               int timeout_ms) const
{
    using namespace std::chrono;
    const auto end = steady_clock::now() + milliseconds(timeout_ms);
    std::vector<std::string> current = rows();
    while (!ready(current) && steady_clock::now() < end) {
        std::this_thread::sleep_for(milliseconds(20));
        current = rows();
    }
    return current;
}

std::string cell_text(const std::vector<std::string>& rows, int row, int column)
{
    const std::string& line = rows.at(static_cast<size_t>(row));
    const std::string cell = static_cast<size_t>(column) < line.size() ? line.substr(static_cast<size_t>(column), 2) : "";
    return cell + std::string(2 - cell.size(), ' ');
}
