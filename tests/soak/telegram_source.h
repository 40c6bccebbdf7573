// SPDX-License-Identifier: MIT
// Random telegrams for the soak run, repeatable from a seed: any length
// from 0 to 4096, every byte value, with DLE (doubled on the line) and
// 0xFF (doubled by the terminal driver's parity marking) made common.
#pragma once

#include <cstdint>
#include <random>

#include "test_support.h"

namespace qosoak {

using qotest::Bytes;

class TelegramSource {
public:
    explicit TelegramSource(uint64_t seed) : random_(seed) {}

    // A telegram: mostly of a length spread evenly over 0..4096, sometimes
    // a short one (0..16 bytes), so that empty and tiny telegrams, and the
    // faults that are cheap only on short ones, come up often enough.
    Bytes next();
    // A telegram of exactly `length` bytes.
    Bytes of_length(size_t length);

    // 0 .. n-1.
    int below(int n);
    // True with the given probability.
    bool chance(double probability);

private:
    std::mt19937_64 random_;
};

}  // namespace qosoak
