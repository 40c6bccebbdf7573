// SPDX-License-Identifier: MIT
// The floor of every figure: the time its characters take on the line,
// which no server can beat. A telegram's exchange is STX, the DLE that
// answers it, the block (the data with every DLE doubled, DLE ETX and, in
// 3964R mode, the BCC) and the closing DLE: the same characters whichever
// side sends. On a bare pseudo-terminal a character takes no time.
#pragma once

#include <string>

#include "numbered_telegram.h"

namespace qobench {

struct LineUnderTest {
    std::string name;   // "pty", or e.g. "9600 baud 8E1"
    int speed = 0;      // emulated by the partner; 0: a bare pty
    char parity = 'E';
    bool bcc = true;

    // One character's time in ms; 0 on a bare pty.
    double character_ms() const;
    // Characters of one telegram's exchange.
    long characters(const Bytes& telegram) const;
    // Their time on the wire in ms.
    double wire_ms(const Bytes& telegram) const { return static_cast<double>(characters(telegram)) * character_ms(); }
};

LineUnderTest bare_pty(bool bcc);
LineUnderTest emulated_line(int speed, char parity, bool bcc);

}  // namespace qobench
