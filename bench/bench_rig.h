// SPDX-License-Identifier: MIT
// Everything a measurement runs against: a partner simulator on a fresh
// pty (bare, or as slow as a real line), a qo3964_server on the pty's
// other end with an rc-file, SHMNAME file and lockfile name of its own,
// and two client handles attached to it: one that sends, one that drains
// received telegrams on a thread of its own while the first one sends.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bench_options.h"
#include "partner.h"
#include "scratch_dir.h"
#include "server_under_test.h"
#include "wire_floor.h"

namespace qobench {

inline constexpr int BENCH_HANDLE = 0;
inline constexpr int DRAIN_HANDLE = 1;

class BenchRig {
public:
    BenchRig() = default;
    ~BenchRig();
    BenchRig(const BenchRig&) = delete;
    BenchRig& operator=(const BenchRig&) = delete;

    // Sets everything up; on false `error` says what failed.
    bool open(const BenchOptions& options, const LineUnderTest& line, const std::string& server_program,
              std::string& error);
    // Detaches, stops the server in order and then the partner.
    void close();

    qopartner::Partner& partner() { return *partner_; }
    ServerUnderTest& server() { return *server_; }

    // Numbers of the telegrams the partner received since the last call.
    std::vector<uint32_t> take_partner_numbers();
    // From now on the partner answers every numbered telegram with one of
    // `length` bytes and the same number; 0: it does not answer.
    void answer_with(size_t length) { answer_length_ = length; }

private:
    ScratchDir dir_;
    std::unique_ptr<qopartner::Partner> partner_;
    std::unique_ptr<ServerUnderTest> server_;
    std::vector<int> attached_;
    std::atomic<size_t> answer_length_{0};

    std::mutex numbers_mutex_;
    std::vector<uint32_t> partner_numbers_;
};

// The server's QVZ on `line`. A pty has no output queue that the server
// could watch drain, so on an emulated line the server begins to wait for
// the acknowledgement when it has handed the block over, not when the
// block's last character has left: its QVZ is lengthened by the wire time
// of the longest telegram, so that this wait still covers the wire.
int server_qvz_ms(const BenchOptions& options, const LineUnderTest& line);

// Fetches and drops what the server holds for BENCH_HANDLE.
void drop_received();

// Set by SIGINT: measurements end early and everything is taken down.
bool interrupted();
void install_interrupt_handler();

}  // namespace qobench
