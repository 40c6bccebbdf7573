// SPDX-License-Identifier: MIT
#include "send_timeout.h"

#include <algorithm>

#include "ctl_options.h"

namespace qoctl {

namespace {

constexpr int64_t BITS_PER_CHARACTER = 11;  // start, 8 data, parity, stop
constexpr int64_t FRAME_CHARACTERS = 4;     // STX, DLE ETX and the BCC
constexpr int64_t PASSES_MS_PER_ATTEMPT = 100;
constexpr int64_t MARGIN_MS = 2000;
constexpr uint8_t DLE = 0x10;

}  // namespace

int32_t default_send_timeout_s(const CounterSnapshot& settings, const Telegram& telegram)
{
    if (!settings.present || settings.baud <= 0 || settings.tds <= 0 || settings.qvz_ms <= 0) {
        return SEND_TIMEOUT_S;
    }
    // Every DLE of the data goes out twice.
    const int64_t characters =
        FRAME_CHARACTERS + telegram.length +
        std::count(telegram.data.begin(), telegram.data.begin() + telegram.length, DLE);
    const int64_t wire_ms = (characters * BITS_PER_CHARACTER * 1000 + settings.baud - 1) / settings.baud;
    const int64_t total_ms =
        settings.tds * (settings.qvz_ms + wire_ms + PASSES_MS_PER_ATTEMPT) + MARGIN_MS;
    return static_cast<int32_t>(std::clamp<int64_t>((total_ms + 999) / 1000, 1, TIMEOUT_MAX_S));
}

}  // namespace qoctl
