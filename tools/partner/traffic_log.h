// SPDX-License-Identifier: MIT
// One line per event, with the time of day to the millisecond:
//   "14:03:07.215 RX 01 10 02"
// Written whole under a lock, so lines of several threads do not mix.
#pragma once

#include <mutex>
#include <ostream>
#include <string_view>

namespace qopartner {

class TrafficLog {
public:
    // No stream: nothing is written.
    void set_stream(std::ostream* out);
    void line(std::string_view event, std::string_view text);

private:
    std::mutex mutex_;
    std::ostream* out_ = nullptr;
};

}  // namespace qopartner
