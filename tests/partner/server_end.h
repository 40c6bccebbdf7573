// SPDX-License-Identifier: MIT
// The test's end of the partner's line: it plays the server with raw bytes.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "partner.h"
#include "test_support.h"
#include "wait_until.h"

namespace partnertest {

using qotest::Bytes;
using qotest::wait_until;

// Opens a tty path in raw mode, non-blocking, like a server would.
class ServerEnd {
public:
    explicit ServerEnd(const std::string& path);
    ~ServerEnd();
    ServerEnd(const ServerEnd&) = delete;
    ServerEnd& operator=(const ServerEnd&) = delete;

    void write(const Bytes& bytes) { qotest::write_bytes(fd_, bytes); }
    // Hex of up to `count` bytes, waiting at most `timeout_ms`.
    std::string read(size_t count, int timeout_ms = 3000) { return qotest::hex(qotest::read_bytes(fd_, count, timeout_ms)); }
    // Hex of what arrives until the line has been quiet for `quiet_ms`.
    std::string read_quiet(int quiet_ms, int limit_ms = 3000)
    {
        return qotest::hex(qotest::read_until_quiet(fd_, quiet_ms, limit_ms));
    }

private:
    int fd_ = -1;
};

// Milliseconds since `start`.
long elapsed_ms(std::chrono::steady_clock::time_point start);

// Short procedure times, with generous bounds in the tests around them.
qopartner::PartnerSettings fast_settings();

// A partner on a fresh pty, the test's server end opened on its slave.
class PartnerTest : public ::testing::Test {
protected:
    void start(const qopartner::PartnerSettings& settings = fast_settings(), bool run = true);

    // The server takes a telegram of the partner: STX, DLE, the expected
    // block (hex), DLE.
    void accept_block(const std::string& block);
    // The server sends a block (hex); the partner answers STX and the block with DLE.
    void send_block(const std::string& block);
    // The outcome of a send, waiting up to 5 s; a failure when none comes.
    static qopartner::SendReport outcome(std::future<qopartner::SendReport>& report);

    std::unique_ptr<qopartner::Partner> partner;
    std::unique_ptr<ServerEnd> server;
};

}  // namespace partnertest
