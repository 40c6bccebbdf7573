// SPDX-License-Identifier: MIT
// Telegram contents that the procedure has to carry through unchanged:
// DLE (doubled on the line), STX, ETX and NAK inside the data, 0xFF (which
// the server's tty marks as FF FF), and every other byte value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "partner.h"

namespace e2etest {

using qopartner::Bytes;

// `length` bytes: awkward ones first, then all 256 values in a changing
// order (`salt` tells telegrams apart), and a DLE last, so the closing
// DLE ETX follows a doubled DLE.
Bytes awkward_telegram(size_t length, uint8_t salt = 0);

// Telegrams of one fixed length that carry their number, for checks of
// order and completeness; control bytes included.
inline constexpr size_t NUMBERED_LENGTH = 8;
Bytes numbered_telegram(int number);
// The number of a telegram made by numbered_telegram, or none when the
// bytes are not one.
std::optional<int> telegram_number(const uint8_t* data);

}  // namespace e2etest
