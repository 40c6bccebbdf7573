// SPDX-License-Identifier: MIT
// Telegrams written as hexadecimal text, for command lines, files and logs.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "line_bytes.h"

namespace qopartner {

// Reads "01 10 02", "011002" or "01:10:02" (blanks, tabs, ':' and ',' may
// separate bytes; each run of digits must have an even length). Empty text
// is the empty telegram. Returns nothing for anything else.
std::optional<Bytes> parse_hex(std::string_view text);

// "01 10 02": uppercase, one blank between bytes.
std::string to_hex(const Bytes& bytes);

}  // namespace qopartner
