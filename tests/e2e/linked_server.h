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

// Procedure times of the server: short, so that failing sends end within
// seconds, while the tests around them keep bounds of many seconds.
inline constexpr char FAST_TIMES[] = "ZVZ 100\nQVZ 500\nTDS 2\nTDR 2\n";

// The partner with the same times as FAST_TIMES. It repeats a refused
// telegram many times, so that a server that is short of room delays
// the partner's telegrams but never makes it give one up.
qopartner::PartnerSettings fast_partner();

class LinkedServer {
public:
    // `server` is a program name in this build's bin folder, or a path.
    explicit LinkedServer(const std::string& rc_lines = FAST_TIMES,
                          const qopartner::PartnerSettings& settings = fast_partner(),
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
