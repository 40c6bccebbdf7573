// SPDX-License-Identifier: MIT
#include "numbered_telegram.h"

#include <algorithm>

namespace qobench {

namespace {

uint32_t read_be32(const uint8_t* p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

void write_be32(uint8_t* p, uint32_t value)
{
    p[0] = static_cast<uint8_t>(value >> 24);
    p[1] = static_cast<uint8_t>(value >> 16);
    p[2] = static_cast<uint8_t>(value >> 8);
    p[3] = static_cast<uint8_t>(value);
}

}  // namespace

Bytes numbered_telegram(uint32_t number, size_t length)
{
    Bytes telegram(length);
    for (size_t i = 0; i < length; ++i) {
        telegram[i] = static_cast<uint8_t>(i);
    }
    if (length >= NUMBER_BYTES) {
        write_be32(telegram.data(), number);
        write_be32(telegram.data() + 4, ~number);
    }
    return telegram;
}

std::optional<uint32_t> telegram_number(const uint8_t* data, size_t length)
{
    if (length < NUMBER_BYTES) {
        return std::nullopt;
    }
    const uint32_t number = read_be32(data);
    if (read_be32(data + 4) != ~number) {
        return std::nullopt;
    }
    return number;
}

void spoil_number(uint8_t* data, size_t length)
{
    // All-ones: the number 0xFFFFFFFF would need the complement 0.
    std::fill(data, data + std::min(length, NUMBER_BYTES), 0xFF);
}

}  // namespace qobench
