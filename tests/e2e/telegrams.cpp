// SPDX-License-Identifier: MIT
#include "telegrams.h"

#include <array>

namespace e2etest {

namespace {

constexpr std::array<uint8_t, 12> awkward_start = {
    0x10, 0x03, 0x10, 0x10, 0x02, 0xFF, 0xFF, 0x00, 0x15, 0x03, 0x02, 0x10,
};

constexpr uint8_t NUMBERED_MARK = 'N';

}  // namespace

Bytes awkward_telegram(size_t length, uint8_t salt)
{
    Bytes telegram(length);
    for (size_t i = 0; i < length; ++i) {
        // 7 is odd, so i * 7 runs through all 256 values.
        telegram[i] = i < awkward_start.size() ? awkward_start[i] : static_cast<uint8_t>(i * 7 + salt);
    }
    if (length > 1) {
        telegram[length - 1] = 0x10;
    }
    return telegram;
}

Bytes numbered_telegram(int number)
{
    const auto high = static_cast<uint8_t>(number >> 8);
    const auto low = static_cast<uint8_t>(number);
    return {NUMBERED_MARK, high, low, 0x10, 0x02, 0x03, 0xFF, static_cast<uint8_t>(~low)};
}

std::optional<int> telegram_number(const uint8_t* data)
{
    const int number = data[1] << 8 | data[2];
    const Bytes expected = numbered_telegram(number);
    for (size_t i = 0; i < NUMBERED_LENGTH; ++i) {
        if (data[i] != expected[i]) {
            return std::nullopt;
        }
    }
    return number;
}

}  // namespace e2etest
