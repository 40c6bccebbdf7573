// SPDX-License-Identifier: MIT
// The soak run: a real qo3964_server on a pseudo-terminal, the simulated
// partner at the other end injecting faults at random, and an application
// on the client library sending and receiving at the same time. Afterwards
// every telegram of both directions is accounted for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "delivery_check.h"
#include "partner_stats.h"

namespace qosoak {

struct SoakPlan {
    int telegrams = 300;  // each way, at most
    int seconds = 0;      // > 0: both sides stop sending after this time
    uint64_t seed = 3964;
    // Per occasion, for each kind of the partner's faults; silence costs a
    // whole QVZ, so it comes less often.
    double fault_chance = 0.03;
    double silence_chance = 0.02;
    double pause_chance = 0.03;
    double conflict_chance = 0.03;
    double slow_reader_chance = 0.01;  // per fetched entry: stop fetching for 1.5 to 2.5 s
};

struct SoakResult {
    SoakPlan plan;
    OutboundTally outbound;
    InboundTally inbound;
    qopartner::PartnerStats partner;
    int slow_reader_pauses = 0;
    double seconds = 0;
    std::vector<std::string> problems;  // of the run itself and of both tallies

    // The counts, a few lines for people and CI logs.
    std::string report() const;
    // name=value pairs of the counts, for a test's recorded properties.
    std::vector<std::pair<std::string, std::string>> properties() const;
};

SoakResult run_soak(const SoakPlan& plan);

// The seed of a run: QO3964_SOAK_SEED from the environment, for repeating
// a run, else the fixed default.
uint64_t soak_seed();

}  // namespace qosoak
