// SPDX-License-Identifier: MIT
// The qo3964_server being measured: started with an rc-file of the
// benchmark's own, watched through its standard output, stopped with SIGINT
// (its orderly shutdown). Whatever it leaves behind (segment, lockfile) is
// removed when this object goes.
#pragma once

#include <string>
#include <sys/types.h>

namespace qobench {

class ServerUnderTest {
public:
    // `rc_file` must exist and name `shm_file` as SHMNAME; the server's
    // output goes to `output_file`.
    ServerUnderTest(std::string program, std::string rc_file, std::string shm_file, std::string output_file);
    ~ServerUnderTest();
    ServerUnderTest(const ServerUnderTest&) = delete;
    ServerUnderTest& operator=(const ServerUnderTest&) = delete;

    // Starts the server; true once it printed "[14] is up and ok" within
    // `timeout_ms`. On false `error` says why.
    bool start(int timeout_ms, std::string& error);
    // SIGINT, then waits up to `timeout_ms` for the exit; kills it after
    // that. True when it ended on its own.
    bool stop(int timeout_ms);
    bool running();

    pid_t pid() const { return pid_; }
    std::string output() const;
    std::string lockfile() const;

private:
    bool wait_exit(int timeout_ms);
    void remove_leftovers() const;

    std::string program_;
    std::string rc_file_;
    std::string shm_file_;
    std::string output_file_;
    pid_t pid_ = -1;
    bool reaped_ = true;
    bool killed_ = false;
};

}  // namespace qobench
