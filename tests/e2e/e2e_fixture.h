// SPDX-License-Identifier: MIT
// The common frame of the end-to-end tests: one server with its partner,
// and handle 0 of the client library opened on it. Every test runs as a
// process of its own, so the library's handle table starts empty.
#pragma once

#include <chrono>
#include <memory>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "client_calls.h"
#include "linked_server.h"
#include "telegrams.h"

namespace e2etest {

using namespace std::chrono_literals;

// Bounds of the waits: far beyond what the procedure needs, for a loaded
// machine running sanitized builds in parallel.
inline constexpr std::chrono::milliseconds LINE_BOUND = 15s;
inline constexpr int SEND_TIMEOUT_S = 30;

class LinkedTest : public ::testing::Test {
protected:
    static constexpr int HANDLE = 0;

    // Starts a server (this build's, or the one at `server`) with its
    // partner and opens HANDLE on it.
    void connect(const std::string& rc_lines = LINE_TIMES,
                 const qopartner::PartnerSettings& settings = patient_partner(),
                 const std::string& server = "qo3964_server");
    void TearDown() override;

    qopartner::Partner& partner() { return link->partner(); }
    // The partner's next received telegram, as hex ("none" when none came).
    std::string partner_received(std::chrono::milliseconds timeout = LINE_BOUND);

    std::unique_ptr<LinkedServer> link;
    // What the partner did, shown when the test fails.
    std::ostringstream partner_log;
};

}  // namespace e2etest
