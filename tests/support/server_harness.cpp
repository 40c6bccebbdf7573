// SPDX-License-Identifier: MIT
#include "server_harness.h"

#include <csignal>
#include <cstdio>

#include "test_segment.h"

namespace qotest {

std::string lockfile_for(const std::string& shm_name)
{
    std::string name = shm_name;
    for (char& c : name) {
        if (c == '/' || c == '.' || c == ' ') {
            c = '_';
        }
    }
    return "/tmp/qo_" + name + "_A";
}

ServerHarness::ServerHarness(const std::string& rc_lines, const std::string& server)
    : server_(server.find('/') == std::string::npos ? program_path(server) : server)
{
    shm_file_ = dir_.file("link.shm");
    rc_file_ = dir_.file("qo3964.rc");
    write_file(shm_file_, "");
    write_file(rc_file_, "PORT " + pty_.slave_path() + "\nSHMNAME " + shm_file_ + "\n" + rc_lines);
}

ServerHarness::~ServerHarness()
{
    process_.reset();
    remove_segment(shm_file_);
    std::remove(lockfile().c_str());
}

std::string ServerHarness::lockfile() const
{
    return lockfile_for(shm_file_);
}

bool ServerHarness::start(int timeout_ms)
{
    process_ = std::make_unique<Process>(std::vector<std::string>{server_, rc_file_}, dir_.path());
    return process_->wait_for_output("[14] is up and ok", timeout_ms);
}

void ServerHarness::launch(const StdioPlan& plan)
{
    process_ = std::make_unique<Process>(std::vector<std::string>{server_, rc_file_}, dir_.path(), plan);
}

int ServerHarness::stop(int timeout_ms)
{
    if (!process_) {
        return -1;
    }
    process_->signal(SIGINT);
    return process_->wait_exit(timeout_ms);
}

}  // namespace qotest
