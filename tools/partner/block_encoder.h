// SPDX-License-Identifier: MIT
// What a sender writes after its STX has been answered with DLE.
#pragma once

#include "line_bytes.h"

namespace qopartner {

// The data with every DLE doubled, then DLE ETX and, when `with_bcc` is set
// (3964R), the block check: the XOR of every byte written after STX up to
// and including DLE ETX, doubled DLEs included. The BCC itself is never
// doubled, even when it equals DLE.
Bytes encode_block(const Bytes& data, bool with_bcc);

}  // namespace qopartner
