// SPDX-License-Identifier: MIT
// What the partner has done so far; read as a snapshot.
#pragma once

#include <array>
#include <cstdint>

#include "fault_plan.h"

namespace qopartner {

struct PartnerStats {
    uint64_t received = 0;      // telegrams received and acknowledged with DLE
    uint64_t rejected = 0;      // receptions answered with NAK (faulty telegram, or a fault)
    uint64_t attempts = 0;      // connection requests (STX) made for own telegrams
    uint64_t sent = 0;          // own telegram blocks written (every attempt that got that far)
    uint64_t acknowledged = 0;  // own telegrams the other side acknowledged
    uint64_t refused = 0;       // NAK answers of the other side to own STX or blocks
    uint64_t failed = 0;        // own telegrams given up after all attempts
    uint64_t stray = 0;         // unexpected bytes read while idle (NAK included)
    uint64_t conflicts = 0;     // times both sides sent STX at once
    std::array<uint64_t, FAULT_KINDS> faults{};  // injected, by kind

    uint64_t injected(Fault fault) const { return faults[static_cast<size_t>(fault)]; }
};

}  // namespace qopartner
