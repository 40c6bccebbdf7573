// SPDX-License-Identifier: MIT
// A real qo3964_server on a pseudo-terminal, for tests that need one: its
// own temporary directory, SHMNAME file, rc-file and pty; the segment and
// the lockfile are removed when the harness goes.
#pragma once

#include <memory>
#include <string>

#include "test_support.h"

namespace qotest {

class ServerHarness {
public:
    // `rc_lines` are added after PORT and SHMNAME (e.g. "ZVZ 50\nQVZ 300\n").
    explicit ServerHarness(const std::string& rc_lines = "", const std::string& server = "qo3964_server");
    ~ServerHarness();

    // Starts the server; true once it printed "[14] is up and ok".
    bool start(int timeout_ms = 10000);
    // Starts the server with its standard descriptors as planned, and
    // returns at once.
    void launch(const StdioPlan& plan);
    // SIGINT, then waits for the exit; returns the exit status.
    int stop(int timeout_ms = 15000);

    Process& process() { return *process_; }
    PtyPair& pty() { return pty_; }
    const TempDir& dir() const { return dir_; }
    const std::string& rc_file() const { return rc_file_; }
    const std::string& shm_file() const { return shm_file_; }
    std::string lockfile() const;

private:
    TempDir dir_;
    PtyPair pty_;
    std::string rc_file_;
    std::string shm_file_;
    std::string server_;
    std::unique_ptr<Process> process_;
};

// The lockfile name the server derives from a SHMNAME path.
std::string lockfile_for(const std::string& shm_name);

}  // namespace qotest
