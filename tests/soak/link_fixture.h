// SPDX-License-Identifier: MIT
// A qo3964_server whose line ends at the partner simulator, with short
// procedure times, and an application attached through the client library
// (handle 0). The application's fetches look into receive_job first, so
// that each entry is known with its length and status.
#pragma once

#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "delivery_check.h"
#include "partner.h"
#include "segment_view.h"
#include "server_harness.h"
#include "slave_link.h"
#include "wait_until.h"

namespace qosoak {

using qotest::wait_until;

inline constexpr int LINK_ZVZ_MS = 100;
inline constexpr int LINK_QVZ_MS = 400;
inline constexpr int LINK_ATTEMPTS = 3;
inline constexpr int APP_HANDLE = 0;

qopartner::PartnerSettings link_partner_settings();
// The rc-file lines of the server on `port` with the procedure times above.
std::string link_rc_lines(const std::string& port);

class LinkFixture : public ::testing::Test {
protected:
    void TearDown() override;

    // Server up on the partner's line, partner loop running, handle 0 open.
    // `rc_lines` are added to the server's rc-file (e.g. "BCC_MODE 0\n").
    void bring_up(const qopartner::PartnerSettings& settings = link_partner_settings(), bool start_partner = true,
                  const std::string& rc_lines = "");

    // One entry fetched with qo3964m_receive, waiting up to `timeout_ms`;
    // checks that the library's result agrees with the entry.
    std::optional<AppEntry> fetch(int timeout_ms);
    // Fetches until `telegram` arrives (true) or `timeout_ms` passed; every
    // entry fetched before it goes to `before`.
    bool fetch_telegram(const Bytes& telegram, int timeout_ms, std::vector<AppEntry>* before = nullptr);
    // The partner sends `telegram`; true when it was acknowledged within `timeout_ms`.
    bool partner_sends(const Bytes& telegram, int timeout_ms = 10000);

    // The server's PORT is a symbolic link to the partner's pty, so that
    // the partner can go away and a new one come up behind the same path.
    // Closing the partner's pty hangs the server's line up, as when an
    // adapter is pulled.
    void drop_partner();
    // A telegram from the application to the partner and one back, each
    // acknowledged and delivered whole; false when that took longer than
    // `timeout_ms`. Entries fetched before the partner's telegram must be
    // status entries.
    bool both_ways(int timeout_ms);
    void new_partner(const qopartner::PartnerSettings& settings = link_partner_settings());
    const std::string& port_path() const { return port_path_; }
    // The private directory that holds the port's link.
    const std::string& port_dir() const { return port_dir_.path(); }

    std::unique_ptr<qopartner::Partner> partner;
    std::unique_ptr<qotest::ServerHarness> server;
    std::unique_ptr<SegmentView> view;  // read and write

private:
    qotest::TempDir port_dir_;
    std::string port_path_ = port_dir_.file("port");
    qopartner::SlaveLink port_link_;
};

// Entries fetched before a telegram may only be status entries without
// data, with a code of a failed reception.
void expect_status_entries_only(const std::vector<AppEntry>& entries);

}  // namespace qosoak
