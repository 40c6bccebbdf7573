// SPDX-License-Identifier: MIT
#include "traffic_log.h"

#include <cstdio>
#include <ctime>

namespace qopartner {

namespace {

// "HH:MM:SS.mmm" of the wall clock: log lines are read by people.
std::string_view time_of_day(char (&text)[16])
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    const int length = std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03ld", local.tm_hour, local.tm_min,
                                     local.tm_sec, now.tv_nsec / 1000000);
    return {text, static_cast<size_t>(length)};
}

}  // namespace

void TrafficLog::set_stream(std::ostream* out)
{
    std::lock_guard lock(mutex_);
    out_ = out;
}

void TrafficLog::line(std::string_view event, std::string_view text)
{
    std::lock_guard lock(mutex_);
    if (out_ == nullptr) {
        return;
    }
    char stamp[16];
    *out_ << time_of_day(stamp) << ' ' << event;
    if (!text.empty()) {
        *out_ << ' ' << text;
    }
    *out_ << '\n' << std::flush;
}

}  // namespace qopartner
