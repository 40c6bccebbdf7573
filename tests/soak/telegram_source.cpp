// SPDX-License-Identifier: MIT
#include "telegram_source.h"

namespace qosoak {

namespace {

constexpr int TELEGRAM_LONGEST = 4096;
constexpr int SHORT_LONGEST = 16;
constexpr double SHORT_SHARE = 0.15;
constexpr uint8_t DLE = 0x10;
constexpr uint8_t MARK = 0xFF;

}  // namespace

int TelegramSource::below(int n)
{
    return std::uniform_int_distribution<int>(0, n - 1)(random_);
}

bool TelegramSource::chance(double probability)
{
    return std::bernoulli_distribution(probability)(random_);
}

Bytes TelegramSource::of_length(size_t length)
{
    Bytes telegram(length);
    for (uint8_t& byte : telegram) {
        // One byte in four a DLE, one in four 0xFF, the rest anything.
        switch (below(4)) {
        case 0:
            byte = DLE;
            break;
        case 1:
            byte = MARK;
            break;
        default:
            byte = static_cast<uint8_t>(below(256));
            break;
        }
    }
    return telegram;
}

Bytes TelegramSource::next()
{
    const int longest = chance(SHORT_SHARE) ? SHORT_LONGEST : TELEGRAM_LONGEST;
    return of_length(static_cast<size_t>(below(longest + 1)));
}

}  // namespace qosoak
