// SPDX-License-Identifier: MIT
// The accounting of a soak run: every telegram its sender saw acknowledged
// arrived exactly once and intact; one its sender gave up on arrived at
// most once; every other thing the application was handed is a status
// entry with a code the procedure gives. A duplicate, a fragment or a loss
// is a problem, collected as text, one line each.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "partner_send_log.h"
#include "telegram_source.h"

namespace qosoak {

// One telegram the application sent, and what the send call returned.
struct AppSend {
    Bytes data;
    int result = 0;
};

// One entry the application fetched: the length and status the server put
// into receive_job, and the bytes the library copied out.
struct AppEntry {
    int32_t length = 0;
    int32_t status = 0;
    Bytes data;
};

// Application -> partner.
struct OutboundTally {
    int sent = 0;
    int acknowledged = 0;                 // send result 2
    std::map<int, int> failed;            // send result -> count
    int received_by_partner = 0;
    std::vector<std::string> problems;
};

// The partner's deliveries must be exactly the acknowledged sends, in order.
OutboundTally check_outbound(const std::vector<AppSend>& sends, const std::vector<Bytes>& partner_received);

// Partner -> application.
struct InboundTally {
    int sent = 0;                              // the partner's own telegrams, conflict telegrams included
    int acknowledged = 0;
    std::map<std::string, int> failed;         // partner outcome -> count
    int conflict_telegrams = 0;                // sent by the partner's conflict fault
    int delivered = 0;                         // acknowledged, arrived intact and once
    std::map<int, int> delivered_with_status;  // status carried by a delivered telegram (1; a code counts as lost)
    int arrived_though_given_up = 0;           // the partner gave up on it, yet it arrived once
                                               // (its last DLE came later than qvz)
    std::map<int, int> error_entries;          // entries without data: code -> count
    int connect_conflicts = 0;                 // both sides sent STX at once (the partner's count)
    std::vector<std::string> notes;            // each telegram that arrived though given up, for the report
    std::vector<std::string> problems;         // a duplicate, a fragment or a loss, each
};

// `sends` is the partner's log of its own telegrams in the order it sent
// them; `entries` what the application fetched, in order; `conflicts` how
// often both sides sent STX at once.
InboundTally check_inbound(const std::vector<PartnerSend>& sends, const std::vector<AppEntry>& entries,
                           const std::string& conflict_hex, int conflicts);

// The partner's log hex of a telegram ("-" for the empty one).
std::string log_hex(const Bytes& telegram);

}  // namespace qosoak
