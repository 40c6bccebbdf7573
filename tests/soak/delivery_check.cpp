// SPDX-License-Identifier: MIT
#include "delivery_check.h"

#include <algorithm>
#include <array>
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

// One of the partner's telegrams on its way to the application.
struct Expected {
    size_t index = 0;       // in the partner's log
    std::string attempts;   // how its attempts failed, for notes
    std::string hex;
    bool required = false;  // acknowledged: must arrive once
    int most = 0;           // deliveries it can explain
    int delivered = 0;
};

// Walks the application's entries along the partner's sends. The server
// keeps the order of the line, so each entry is the next telegram still
// owed, a telegram before it that the partner gave up on (or a repetition)
// when a late DLE explains it, or a status entry without data.
class InboundMatcher {
public:
    InboundMatcher(const std::vector<PartnerSend>& sends, InboundTally& tally) : tally_(tally)
    {
        for (const PartnerSend& send : sends) {
            Expected expected;
            expected.index = expected_.size();
            for (const std::string& failure : send.failures) {
                expected.attempts += failure + ", ";
            }
            expected.attempts += send.outcome;
            expected.hex = send.hex;
            expected.required = send.outcome == "acknowledged";
            expected.most = (expected.required ? 1 : 0) + send.unanswered_blocks();
            expected_.push_back(expected);
        }
    }

    void take(const AppEntry& entry, size_t index)
    {
        // An entry without data and with a negative status is either a
        // status entry of its own or an empty telegram that carries an
        // earlier failure: the application cannot tell. It is settled once
        // the next telegram with data shows whether an empty one was owed.
        if (entry.length == 0 && entry.status < 0) {
            open_entries_.push_back(entry.status);
            return;
        }
        // An empty entry with a good status is an empty telegram when one
        // is owed; otherwise the server gave way to the partner's STX while
        // connecting, and offered its empty rx_data on the way (one entry
        // per conflict, none when a held telegram took its place).
        if (entry.length == 0 && expected_at(owed()) != "-" && tally_.conflict_entries < tally_.connect_conflicts) {
            ++tally_.conflict_entries;
            return;
        }
        const std::string hex = log_hex(entry.data);
        if (!match(hex, entry.status)) {
            problem("entry " + std::to_string(index) + " (status " + std::to_string(entry.status) +
                    ") is no telegram the partner sent at this point: " + shown(entry.data) + difference(hex));
        }
        if (entry.length > 0) {
            close_open_entries();
        }
    }

    void finish()
    {
        while (!open_entries_.empty() && owed() < expected_.size() && expected_[owed()].hex == "-") {
            settle_as_empty_telegram(owed());
        }
        close_open_entries();
        for (size_t i = 0; i < expected_.size(); ++i) {
            const Expected& e = expected_[i];
            if (e.required && e.delivered == 0) {
                problem("lost: the partner's telegram " + std::to_string(i) + " was acknowledged but never reached "
                        "the application: [" + shown(e.hex) + "]");
            }
        }
    }

private:
    std::string expected_at(size_t r) const { return r < expected_.size() ? expected_[r].hex : std::string(); }

    // The first telegram still owed from the current position on.
    size_t owed() const
    {
        size_t r = position_;
        while (r < expected_.size() && !(expected_[r].required && expected_[r].delivered == 0)) {
            ++r;
        }
        return r;
    }

    bool match(const std::string& hex, int status)
    {
        for (;;) {
            const size_t r = owed();
            if (r < expected_.size() && expected_[r].hex == hex) {
                deliver(r, status);
                return true;
            }
            // Nothing owed can be passed over; before it, a telegram the
            // partner gave up on, or one delivered already, may come again
            // when a late DLE explains it.
            for (size_t j = position_; j < r && j < expected_.size(); ++j) {
                if (expected_[j].hex == hex && expected_[j].delivered < expected_[j].most) {
                    ++tally_.late_acknowledged;
                    tally_.notes.push_back("late acknowledgement: the partner's telegram " + std::to_string(j) + " (" +
                                           expected_[j].attempts + ") arrived once more: [" +
                                           shown(expected_[j].hex) + "]");
                    deliver(j, status);
                    return true;
                }
            }
            if (r < expected_.size() && expected_[r].hex == "-" && !open_entries_.empty()) {
                settle_as_empty_telegram(r);
                continue;
            }
            return false;
        }
    }

    // How an entry differs from the telegram owed at this point.
    std::string difference(const std::string& hex) const
    {
        const size_t r = owed();
        if (r >= expected_.size()) {
            return "; no telegram is owed";
        }
        const std::string& owed_hex = expected_[r].hex;
        size_t same = 0;
        while (same < hex.size() && same < owed_hex.size() && hex[same] == owed_hex[same]) {
            ++same;
        }
        const size_t from = same - same % 3;  // the first differing byte's "XX "
        return "; the owed telegram " + std::to_string(r) + " differs from byte " + std::to_string(from / 3) +
               " on: entry [" + shown(hex.substr(std::min(from, hex.size()))) + "], telegram [" +
               shown(owed_hex.substr(std::min(from, owed_hex.size()))) + "]";
    }

    // A telegram handed over with a negative code instead of its length is
    // lost to the application, which cannot take it.
    void deliver(size_t j, int status)
    {
        Expected& e = expected_[j];
        const bool good = status == GOOD_STATUS;
        if (e.required && e.delivered == 0 && good) {
            ++tally_.delivered;
        }
        ++e.delivered;
        position_ = j;
        ++tally_.delivered_with_status[status];
        if (!good) {
            problem("lost: the partner's telegram " + std::to_string(j) + " reached the application with status " +
                    std::to_string(status) + " instead of its length");
        }
    }

    void settle_as_empty_telegram(size_t r)
    {
        const int status = open_entries_.front();
        open_entries_.erase(open_entries_.begin());
        deliver(r, status);
    }

    void close_open_entries()
    {
        for (int code : open_entries_) {
            ++tally_.error_entries[code];
            if (!one_of(RECEIVE_FAILURES, code) && code != REFUSED_WHILE_FULL) {
                problem("an entry without data carries " + std::to_string(code) +
                        ", which no failed reception gives");
            }
        }
        open_entries_.clear();
    }

    void problem(const std::string& text) { tally_.problems.push_back("partner -> application: " + text); }

    InboundTally& tally_;
    std::vector<Expected> expected_;
    size_t position_ = 0;
    std::vector<int> open_entries_;  // statuses of entries not settled yet
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
