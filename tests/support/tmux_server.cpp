// SPDX-License-Identifier: MIT
#include "tmux_server.h"

#include "find_on_path.h"

namespace qotest {

namespace {

constexpr int COMMAND_LIMIT_MS = 10000;

}  // namespace

std::string TmuxServer::program()
{
    return find_on_path("tmux");
}

TmuxServer::TmuxServer(const TempDir& dir, const std::string& config, int columns, int rows,
                       const std::vector<std::string>& command)
    : program_(program()), socket_(dir.file("tmux.socket"))
{
    const std::string config_file = dir.file("tmux.conf");
    write_file(config_file, config);
    std::vector<std::string> arguments{"-f", config_file, "new-session", "-d", "-x", std::to_string(columns),
                                       "-y", std::to_string(rows)};
    arguments.insert(arguments.end(), command.begin(), command.end());
    started_ = !program_.empty() && run(arguments);
}

TmuxServer::~TmuxServer()
{
    if (started_) {
        run({"kill-server"});
    }
}

bool TmuxServer::run(std::vector<std::string> arguments, std::string* out) const
{
    arguments.insert(arguments.begin(), {program_, "-S", socket_});
    Process tmux(arguments);
    const bool ok = tmux.wait_exit(COMMAND_LIMIT_MS) == 0;
    if (out != nullptr) {
        *out = tmux.out();
    }
    return ok;
}

}  // namespace qotest
