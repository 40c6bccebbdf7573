// SPDX-License-Identifier: MIT
#include <iomanip>
#include <sstream>

#include "fault_plan.h"
#include "soak_run.h"

namespace qosoak {

namespace {

// "-84:3 -67:1", or "none".
template <typename Map>
std::string counts_of(const Map& counts)
{
    std::ostringstream text;
    for (const auto& [key, count] : counts) {
        text << (text.tellp() > 0 ? " " : "") << key << ':' << count;
    }
    return text.tellp() > 0 ? text.str() : "none";
}

std::string faults_of(const qopartner::PartnerStats& stats)
{
    std::ostringstream text;
    for (size_t i = 0; i < qopartner::FAULT_KINDS; ++i) {
        text << (i > 0 ? " " : "") << qopartner::fault_names[i] << '=' << stats.faults[i];
    }
    return text.str();
}

}  // namespace

std::string SoakResult::report() const
{
    std::ostringstream text;
    text << "soak: seed " << plan.seed << " (QO3964_SOAK_SEED), " << plan.telegrams << " telegrams each way, "
         << std::fixed << std::setprecision(1) << seconds << " s\n";
    text << "  application -> partner: sent " << outbound.sent << ", acknowledged (2) " << outbound.acknowledged
         << ", failed by code " << counts_of(outbound.failed) << "; the partner received "
         << outbound.received_by_partner << "\n";
    text << "  partner -> application: sent " << inbound.sent << " (" << inbound.conflict_telegrams
         << " of them conflict telegrams), acknowledged " << inbound.acknowledged << ", failed by the partner's report "
         << counts_of(inbound.failed) << "\n";
    text << "    delivered once and intact " << inbound.delivered << ", by carried status "
         << counts_of(inbound.delivered_with_status) << "; arrived though given up " << inbound.arrived_though_given_up
         << "; entries without data by code " << counts_of(inbound.error_entries) << "; connect conflicts "
         << inbound.connect_conflicts << "\n";
    text << "  faults injected: " << faults_of(partner) << " slow-reader=" << slow_reader_pauses << "\n";
    text << "  partner counts: attempts=" << partner.attempts << " refused=" << partner.refused
         << " rejected=" << partner.rejected << " stray=" << partner.stray << " conflicts=" << partner.conflicts
         << "\n";
    for (const std::string& note : inbound.notes) {
        text << "  " << note << "\n";
    }
    text << "  problems: " << problems.size() << "\n";
    return text.str();
}

std::vector<std::pair<std::string, std::string>> SoakResult::properties() const
{
    std::vector<std::pair<std::string, std::string>> list = {
        {"seed", std::to_string(plan.seed)},
        {"telegrams_each_way", std::to_string(plan.telegrams)},
        {"out_sent", std::to_string(outbound.sent)},
        {"out_acknowledged", std::to_string(outbound.acknowledged)},
        {"out_failed", counts_of(outbound.failed)},
        {"in_sent", std::to_string(inbound.sent)},
        {"in_acknowledged", std::to_string(inbound.acknowledged)},
        {"in_failed", counts_of(inbound.failed)},
        {"in_delivered", std::to_string(inbound.delivered)},
        {"in_status", counts_of(inbound.delivered_with_status)},
        {"in_given_up_arrived", std::to_string(inbound.arrived_though_given_up)},
        {"in_error_entries", counts_of(inbound.error_entries)},
        {"connect_conflicts", std::to_string(inbound.connect_conflicts)},
        {"faults", faults_of(partner) + " slow-reader=" + std::to_string(slow_reader_pauses)},
        {"problems", std::to_string(problems.size())},
    };
    return list;
}

}  // namespace qosoak
