// SPDX-License-Identifier: MIT
// Everything a measurement runs against: a partner simulator on a fresh
// pty, a qo3964_server on the pty's other end with an rc-file, SHMNAME file
// and lockfile name of its own, and client handle 0 attached to it.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bench_options.h"
#include "partner.h"
#include "scratch_dir.h"
#include "server_under_test.h"

namespace qobench {

inline constexpr int BENCH_HANDLE = 0;

class BenchRig {
public:
    BenchRig() = default;
    ~BenchRig();
    BenchRig(const BenchRig&) = delete;
    BenchRig& operator=(const BenchRig&) = delete;

    // Sets everything up; on false `error` says what failed.
    bool open(const BenchOptions& options, const std::string& server_program, std::string& error);
    // Detaches, stops the server in order and then the partner.
    void close();

    qopartner::Partner& partner() { return *partner_; }
    ServerUnderTest& server() { return *server_; }

    // Numbers of the telegrams the partner received since the last call.
    std::vector<uint32_t> take_partner_numbers();

private:
    ScratchDir dir_;
    std::unique_ptr<qopartner::Partner> partner_;
    std::unique_ptr<ServerUnderTest> server_;
    bool attached_ = false;

    std::mutex numbers_mutex_;
    std::vector<uint32_t> partner_numbers_;
};

// Set by SIGINT: measurements end early and everything is taken down.
bool interrupted();
void install_interrupt_handler();

}  // namespace qobench
