// SPDX-License-Identifier: MIT
#include "linked_server.h"

namespace e2etest {

qopartner::PartnerSettings patient_partner()
{
    qopartner::PartnerSettings settings;
    settings.zvz_ms = 2000;
    settings.qvz_ms = 4000;
    // Not 2 x zvz: the server refuses a telegram at once, or after its
    // 400 ms wait for room; a repetition need not wait longer than that.
    settings.retry_delay_ms = 600;
    settings.send_attempts = 50;
    return settings;
}

LinkedServer::LinkedServer(const std::string& rc_lines, const qopartner::PartnerSettings& settings,
                           const std::string& server)
    : partner_(std::make_unique<qopartner::Partner>(qopartner::PartnerLine::open_pty(), settings))
{
    server_ = std::make_unique<qotest::ServerHarness>("PORT " + partner_->path() + "\n" + rc_lines, server);
}

bool LinkedServer::start(int timeout_ms)
{
    partner_->start();
    return server_->start(timeout_ms);
}

}  // namespace e2etest
