// SPDX-License-Identifier: MIT
#include "hex_text.h"

namespace qopartner {

namespace {

int digit_value(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool is_separator(char c)
{
    return c == ' ' || c == '\t' || c == ':' || c == ',' || c == '\r' || c == '\n';
}

}  // namespace

std::optional<Bytes> parse_hex(std::string_view text)
{
    Bytes bytes;
    int high = -1;  // first digit of a byte, waiting for its second
    for (const char c : text) {
        if (is_separator(c)) {
            if (high >= 0) {
                return std::nullopt;  // a lone digit before a separator
            }
            continue;
        }
        const int value = digit_value(c);
        if (value < 0) {
            return std::nullopt;
        }
        if (high < 0) {
            high = value;
        } else {
            bytes.push_back(static_cast<uint8_t>(high * 16 + value));
            high = -1;
        }
    }
    if (high >= 0) {
        return std::nullopt;
    }
    return bytes;
}

std::string to_hex(const Bytes& bytes)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (const uint8_t b : bytes) {
        if (!text.empty()) {
            text += ' ';
        }
        text += digits[b >> 4];
        text += digits[b & 0x0F];
    }
    return text;
}

}  // namespace qopartner
