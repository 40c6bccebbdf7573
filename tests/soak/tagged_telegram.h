// SPDX-License-Identifier: MIT
// The telegrams of an application that shares a server with others: its
// tag and the telegram's number lead, and every byte after them follows
// from both, so that a telegram mixed from two of them (or cut) is told
// from every whole one.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace qosoak {

inline std::vector<uint8_t> tagged_telegram(uint8_t tag, uint16_t number)
{
    const size_t length = 3 + (number * 37u + tag * 11u) % 120;
    std::vector<uint8_t> telegram(length);
    telegram[0] = tag;
    telegram[1] = static_cast<uint8_t>(number >> 8);
    telegram[2] = static_cast<uint8_t>(number);
    for (size_t i = 3; i < length; ++i) {
        telegram[i] = static_cast<uint8_t>(tag * 97u + number * 31u + i * 7u);
    }
    return telegram;
}

// The number of a whole telegram of `tag`, or nothing.
inline std::optional<uint16_t> whole_telegram_of(uint8_t tag, const std::vector<uint8_t>& telegram)
{
    if (telegram.size() < 3 || telegram[0] != tag) {
        return std::nullopt;
    }
    const auto number = static_cast<uint16_t>(telegram[1] << 8 | telegram[2]);
    if (tagged_telegram(tag, number) != telegram) {
        return std::nullopt;
    }
    return number;
}

}  // namespace qosoak
