// SPDX-License-Identifier: MIT
#include "delivery_check.h"

#include <algorithm>
#include <array>
#include <optional>
#include <sstream>

#include "hex_text.h"

namespace qosoak {

namespace {

constexpr int SEND_ACKNOWLEDGED = 2;
constexpr int GOOD_STATUS = 1;
// What a failed send of the application may end with on a line without
// BREAKs: no DLE to STX (-84) or to the closing block (-67).
constexpr std::array<int, 2> SEND_FAILURES = {-84, -67};
// Codes a failed reception gives, after TDR failures in a row, in an entry
// of its own.
constexpr std::array<int, 4> RECEIVE_FAILURES = {-81, -82, -85, -86};
// A telegram refused while the ring was full: an entry of its own, queued
// ahead of the next telegram.
constexpr int REFUSED_WHILE_FULL = -83;

constexpr size_t HEX_SHOWN = 48;

template <size_t N>
bool one_of(const std::array<int, N>& codes, int code)
{
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

// A telegram in a problem report: its length and the start of its hex.
std::string shown(const std::string& hex)
{
    return hex.size() <= HEX_SHOWN ? hex : hex.substr(0, HEX_SHOWN) + " ...";
}

std::string shown(const Bytes& telegram)
{
    return std::to_string(telegram.size()) + " bytes [" + shown(log_hex(telegram)) + "]";
}

// Walks the application's entries along the partner's sends. The server
// keeps the order of the line, so an entry with data (or an empty one with
// a good status) must be the next telegram still to come: a telegram the
// partner gave up on may be passed over, an acknowledged one may not, and
// none may come twice. Anything else is a duplicate, a fragment or a
// loss. Entries without data and with a negative status are the status
// entries of failed receptions and refusals.
class InboundMatcher {
public:
    InboundMatcher(const std::vector<PartnerSend>& sends, InboundTally& tally)
        : sends_(sends), delivered_(sends.size(), 0), tally_(tally)
    {
    }

    void take(const AppEntry& entry, size_t index)
    {
        if (entry.length == 0 && entry.status < 0) {
            ++tally_.error_entries[entry.status];
            if (!one_of(RECEIVE_FAILURES, entry.status) && entry.status != REFUSED_WHILE_FULL) {
                problem("entry " + std::to_string(index) + " carries " + std::to_string(entry.status) +
                        ", which no failed reception gives");
            }
            return;
        }
        // The sends it may be: from the next one up to the first that was
        // acknowledged (which may not be passed over). Of equal telegrams
        // (the partner's conflict telegrams) the acknowledged one is taken.
        const std::string hex = log_hex(entry.data);
        std::optional<size_t> match;
        for (size_t j = next_; j < sends_.size(); ++j) {
            if (sends_[j].hex == hex && (!match || acknowledged(j))) {
                match = j;
            }
            if (acknowledged(j)) {
                break;
            }
        }
        if (match) {
            deliver(*match, entry.status);
            next_ = *match + 1;
            return;
        }
        problem("entry " + std::to_string(index) + " (status " + std::to_string(entry.status) + ") " +
                what_it_is(hex) + ": " + shown(entry.data));
    }

    void finish()
    {
        for (size_t j = 0; j < sends_.size(); ++j) {
            if (acknowledged(j) && delivered_[j] == 0) {
                problem("lost: the partner's telegram " + std::to_string(j) +
                        " was acknowledged but never reached the application: [" + shown(sends_[j].hex) + "]");
            }
        }
    }

private:
    bool acknowledged(size_t j) const { return sends_[j].outcome == "acknowledged"; }

    void deliver(size_t j, int status)
    {
        delivered_[j] += 1;
        ++tally_.delivered_with_status[status];
        if (status != GOOD_STATUS) {
            problem("lost: the partner's telegram " + std::to_string(j) + " reached the application with status " +
                    std::to_string(status) + " instead of its length");
            return;
        }
        if (acknowledged(j)) {
            ++tally_.delivered;
        } else {
            // The server acknowledged it, but too late for the partner.
            ++tally_.arrived_though_given_up;
            tally_.notes.push_back("the partner's telegram " + std::to_string(j) + " (" + sends_[j].outcome +
                                   ") reached the application: [" + shown(sends_[j].hex) + "]");
        }
    }

    // An entry that is not the next telegram to come.
    std::string what_it_is(const std::string& hex) const
    {
        for (size_t j = 0; j < next_; ++j) {
            if (sends_[j].hex == hex && delivered_[j] > 0) {
                return "is the partner's telegram " + std::to_string(j) + " once more (a duplicate)";
            }
        }
        for (size_t j = next_; j < sends_.size(); ++j) {
            if (hex != "-" && sends_[j].hex.find(hex) != std::string::npos) {
                return "is a fragment of the partner's telegram " + std::to_string(j);
            }
            if (sends_[j].hex == hex) {
                return "is the partner's telegram " + std::to_string(j) + ", out of order";
            }
        }
        return "is no telegram the partner sent";
    }

    void problem(const std::string& text) { tally_.problems.push_back("partner -> application: " + text); }

    const std::vector<PartnerSend>& sends_;
    std::vector<int> delivered_;
    InboundTally& tally_;
    size_t next_ = 0;  // the first send that may still come
};

}  // namespace

std::string log_hex(const Bytes& telegram)
{
    return telegram.empty() ? "-" : qopartner::to_hex(telegram);
}

OutboundTally check_outbound(const std::vector<AppSend>& sends, const std::vector<Bytes>& partner_received)
{
    OutboundTally tally;
    tally.sent = static_cast<int>(sends.size());
    tally.received_by_partner = static_cast<int>(partner_received.size());
    auto problem = [&](const std::string& text) { tally.problems.push_back("application -> partner: " + text); };

    size_t next = 0;  // the partner's next delivery
    for (size_t k = 0; k < sends.size(); ++k) {
        const AppSend& send = sends[k];
        if (send.result != SEND_ACKNOWLEDGED) {
            ++tally.failed[send.result];
            if (!one_of(SEND_FAILURES, send.result)) {
                problem("send " + std::to_string(k) + " ended with " + std::to_string(send.result) +
                        ", which no failed send on this line gives");
            }
            continue;
        }
        ++tally.acknowledged;
        if (next >= partner_received.size()) {
            problem("lost: send " + std::to_string(k) + " was acknowledged (2) but the partner never got it: " +
                    shown(send.data));
            continue;
        }
        if (partner_received[next] != send.data) {
            // A telegram the partner got in between: twice, corrupted, or
            // one whose send was reported failed (a DLE later than qvz).
            std::string which = "no telegram the application sent";
            for (size_t j = 0; j < sends.size(); ++j) {
                if (sends[j].data == partner_received[next]) {
                    which = "send " + std::to_string(j) + " (result " + std::to_string(sends[j].result) + ")";
                    break;
                }
            }
            problem("the partner's delivery " + std::to_string(next) + " is " + shown(partner_received[next]) +
                    ", " + which + ", where send " + std::to_string(k) + " " + shown(send.data) + " was expected");
            return tally;
        }
        ++next;
    }
    for (; next < partner_received.size(); ++next) {
        problem("the partner got " + shown(partner_received[next]) + " after the last acknowledged send");
    }
    return tally;
}

InboundTally check_inbound(const std::vector<PartnerSend>& sends, const std::vector<AppEntry>& entries,
                           const std::string& conflict_hex, int conflicts)
{
    InboundTally tally;
    tally.connect_conflicts = conflicts;
    tally.sent = static_cast<int>(sends.size());
    for (const PartnerSend& send : sends) {
        if (send.outcome == "acknowledged") {
            ++tally.acknowledged;
        } else {
            ++tally.failed[send.outcome];
        }
        if (send.hex == conflict_hex) {
            ++tally.conflict_telegrams;
        }
    }
    InboundMatcher matcher(sends, tally);
    for (size_t i = 0; i < entries.size(); ++i) {
        matcher.take(entries[i], i);
    }
    matcher.finish();
    return tally;
}

}  // namespace qosoak
