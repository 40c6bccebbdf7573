// SPDX-License-Identifier: MIT
// The bytes of the 3964 / 3964R procedure as they appear on the line.
#pragma once

#include <cstdint>
#include <vector>

namespace qopartner {

using Bytes = std::vector<uint8_t>;

// Control characters (the published 3964 values).
inline constexpr uint8_t STX = 0x02;  // connection request of the sending side
inline constexpr uint8_t ETX = 0x03;  // after DLE: end of the telegram
inline constexpr uint8_t DLE = 0x10;  // positive answer; doubled inside data
inline constexpr uint8_t NAK = 0x15;  // negative answer

}  // namespace qopartner
