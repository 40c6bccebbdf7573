#include "tmux_session.h"

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace qodemo {

namespace {

constexpr int COMMAND_LIMIT_MS = 10000;
constexpr auto POLL = std::chrono::milliseconds(50);

}  // namespace

std::string TmuxSession::tmux_program()
{
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const std::string candidate = dir + "/tmux";
        if (!dir.empty() && access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return "";
}

TmuxSession::TmuxSession(const qotest::TempDir& dir, const std::string& shell_command)
    : program_(tmux_program()), socket_(dir.file("tmux.socket"))
{
    // A terminal type every ncurses knows; a history long enough for the
    // whole demo.
    const std::string config = dir.file("tmux.conf");
    qotest::write_file(config, "set -g default-terminal screen\nset -g history-limit 5000\n");
    started_ = !program_.empty() &&
               run({"-f", config, "new-session", "-d", "-x", std::to_string(COLUMNS), "-y", std::to_string(ROWS),
                    shell_command},
                   nullptr);
}

TmuxSession::~TmuxSession()
{
    if (started_) {
        run({"kill-server"}, nullptr);
    }
}

bool TmuxSession::run(std::vector<std::string> arguments, std::string* out) const
{
    arguments.insert(arguments.begin(), {program_, "-S", socket_});
    qotest::Process tmux(arguments);
    const bool ok = tmux.wait_exit(COMMAND_LIMIT_MS) == 0;
    if (out != nullptr) {
        *out = tmux.out();
    }
    return ok;
}

std::string TmuxSession::history() const
{
    std::string text;
    run({"capture-pane", "-p", "-J", "-S", "-", "-t", ":0.0"}, &text);
    return text;
}

int TmuxSession::pane_count() const
{
    std::string text;
    if (!run({"list-panes"}, &text)) {
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
