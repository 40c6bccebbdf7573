// SPDX-License-Identifier: MIT
// Keeps, from the partner's traffic log, how each of its own telegrams
// went: the outcome of every failed attempt ("TX-FAIL" lines) and how the
// telegram ended ("TX" lines), in the order the partner sent them. Every
// other line is dropped, so a long run does not pile up the hex of every
// telegram.
#pragma once

#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace qosoak {

struct PartnerSend {
    std::string hex;                    // the telegram as the log writes it ("-" when empty)
    std::string outcome;                // "acknowledged", "refused", ...
    int attempts = 0;
    std::vector<std::string> failures;  // outcome of each failed attempt, the last one included
};

class PartnerSendLog : private std::streambuf {
public:
    PartnerSendLog() : stream_(this) {}
    // Every line, not only the kept ones, also goes to `copy` (for a
    // person looking into a failed run).
    void copy_to(std::ostream* copy) { copy_ = copy; }
    // The stream to give Partner::set_log.
    std::ostream& stream() { return stream_; }
    std::vector<PartnerSend> sends() const;

private:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    void take(char c);
    void take_line();

    mutable std::mutex mutex_;
    std::string line_;
    std::vector<std::string> failures_;
    std::vector<PartnerSend> sends_;
    std::ostream* copy_ = nullptr;
    std::ostream stream_;
};

}  // namespace qosoak
