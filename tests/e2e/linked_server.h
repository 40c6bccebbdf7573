// SPDX-License-Identifier: MIT
// A real qo3964_server whose serial line ends at the simulated partner
// device: the partner creates the pseudo-terminal, and the server's
// rc-file names its slave (a PORT line after the harness's own wins).
#pragma once

#include <memory>
#include <string>

#include "partner.h"
#include "server_harness.h"

namespace e2etest {

using qopartner::Bytes;

// Procedure times of the server for exchanges that are to succeed. Every
// wait for the partner is far longer than a loaded machine may keep the
// partner's thread from running (half a second has been seen with the
// sanitized suite running in parallel on two cores): a late first byte
// after the DLE would make the server refuse the telegram, and each byte
// still on the line then costs a NAK after ZVZ. While the partner answers
// at once the long times cost nothing. TDS and TDR 2 keep deliberate
// failures short.
inline constexpr char LINE_TIMES[] = "ZVZ 2000\nQVZ 4000\nTDS 2\nTDR 2\n";
// Short times for a partner that stays silent on purpose: a send then
// fails after two waits of half a second.
inline constexpr char SHORT_TIMES[] = "ZVZ 100\nQVZ 500\nTDS 2\nTDR 2\n";

// The partner for LINE_TIMES, as patient as the server. It repeats a
// refused telegram many times, so that a server that is short of room
// delays the partner's telegrams but never makes it give one up.
qopartner::PartnerSettings patient_partner();

class LinkedServer {
public:
    // `server` is a program name in this build's bin folder, or a path.
    explicit LinkedServer(const std::string& rc_lines = LINE_TIMES,
                          const qopartner::PartnerSettings& settings = patient_partner(),
                          const std::string& server = "qo3964_server");
    LinkedServer(const LinkedServer&) = delete;
    LinkedServer& operator=(const LinkedServer&) = delete;

    // Starts the partner's loop and the server; true once the server is up.
    bool start(int timeout_ms = 30000);

    qopartner::Partner& partner() { return *partner_; }
    qotest::ServerHarness& server() { return *server_; }
    const std::string& rc_file() const { return server_->rc_file(); }

private:
    // Declared first, so the server goes before its line does.
    std::unique_ptr<qopartner::Partner> partner_;
    std::unique_ptr<qotest::ServerHarness> server_;
};

}  // namespace e2etest
