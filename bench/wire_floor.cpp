// SPDX-License-Identifier: MIT
#include "wire_floor.h"

#include <chrono>

#include "block_encoder.h"
#include "wire_timing.h"

namespace qobench {

namespace {

// STX, its DLE, and the closing DLE around the block.
constexpr long FRAME_CHARACTERS = 3;

}  // namespace

double LineUnderTest::character_ms() const
{
    return std::chrono::duration<double, std::milli>(qopartner::character_time(speed, parity)).count();
}

long LineUnderTest::characters(const Bytes& telegram) const
{
    return static_cast<long>(qopartner::encode_block(telegram, bcc).size()) + FRAME_CHARACTERS;
}

LineUnderTest bare_pty(bool bcc)
{
    return LineUnderTest{"pty", 0, 'N', bcc};
}

LineUnderTest emulated_line(int speed, char parity, bool bcc)
{
    return LineUnderTest{std::to_string(speed) + " baud 8" + std::string(1, parity) + "1", speed, parity, bcc};
}

}  // namespace qobench
