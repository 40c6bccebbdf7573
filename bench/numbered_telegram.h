// SPDX-License-Identifier: MIT
// Telegrams that carry their own number, so that a receiver can tell a lost
// telegram from a duplicated one: bytes 0..3 hold the number (big-endian),
// bytes 4..7 its complement, the rest a counting pattern (which contains a
// DLE every 256 bytes, so doubling is exercised too). Telegrams shorter than
// 8 bytes are not numbered.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace qobench {

using Bytes = std::vector<uint8_t>;

inline constexpr size_t NUMBER_BYTES = 8;

Bytes numbered_telegram(uint32_t number, size_t length);

// The number of a telegram of `length` bytes at `data`; nothing when the
// bytes are no numbered telegram (number and complement disagree).
std::optional<uint32_t> telegram_number(const uint8_t* data, size_t length);

// Makes the first bytes of a receive buffer unreadable as a number, so
// that a call that copied nothing is not taken for a telegram.
void spoil_number(uint8_t* data, size_t length);

}  // namespace qobench
