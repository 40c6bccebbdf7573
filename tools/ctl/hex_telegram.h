// SPDX-License-Identifier: MIT
// Telegrams as the operator writes and reads them: bytes in hex.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>

#include "shared_segment.h"

using namespace qo3964;

namespace qoctl {

// A telegram of up to TELEGRAM_MAX bytes, as the server takes it.
struct Telegram {
    std::array<uint8_t, TELEGRAM_MAX> data{};
    int32_t length = 0;
};

enum class HexError {
    none,
    bad_character,  // not a hex digit, blank, comma or colon
    odd_digits,     // a group of digits that does not make whole bytes
    too_long,       // more than TELEGRAM_MAX bytes in all
};

// Appends the bytes written in `text`: groups of hex digits, two per byte
// ("011002"), separated by blanks, commas or colons ("01 10 02"), each
// group with an optional "0x". `bad` receives the offending character.
HexError append_hex(const char* text, Telegram& telegram, char& bad);

// "01 10 02": the bytes in hex, separated by blanks.
void put_hex(std::FILE* out, const uint8_t* bytes, int32_t length);

}  // namespace qoctl
