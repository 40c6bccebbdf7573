// SPDX-License-Identifier: MIT
#include "hex_telegram.h"

#include <cctype>
#include <string_view>

using namespace qo3964;

namespace qoctl {

namespace {

int hex_value(char c)
{
    constexpr std::string_view digits = "0123456789abcdef";
    const std::size_t at = digits.find(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

bool is_separator(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == ',' || c == ':';
}

}  // namespace

HexError append_hex(const char* text, Telegram& telegram, char& bad)
{
    const char* at = text;
    while (*at != '\0') {
        if (is_separator(*at)) {
            ++at;
            continue;
        }
        if (at[0] == '0' && (at[1] == 'x' || at[1] == 'X')) {
            at += 2;
        }
        const char* group = at;
        while (*at != '\0' && !is_separator(*at)) {
            if (hex_value(*at) < 0) {
                bad = *at;
                return HexError::bad_character;
            }
            ++at;
        }
        const auto digits = at - group;
        if (digits == 0 || digits % 2 != 0) {
            return HexError::odd_digits;
        }
        for (const char* pair = group; pair < at; pair += 2) {
            if (telegram.length >= TELEGRAM_MAX) {
                return HexError::too_long;
            }
            telegram.data[static_cast<std::size_t>(telegram.length++)] =
                static_cast<uint8_t>(hex_value(pair[0]) * 16 + hex_value(pair[1]));
        }
    }
    return HexError::none;
}

void put_hex(std::FILE* out, const uint8_t* bytes, int32_t length)
{
    for (int32_t i = 0; i < length; ++i) {
        std::fprintf(out, i == 0 ? "%02X" : " %02X", bytes[i]);
    }
}

}  // namespace qoctl
