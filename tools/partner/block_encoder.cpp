// SPDX-License-Identifier: MIT
#include "block_encoder.h"

namespace qopartner {

Bytes encode_block(const Bytes& data, bool with_bcc)
{
    Bytes block;
    block.reserve(data.size() * 2 + 3);
    for (const uint8_t b : data) {
        block.push_back(b);
        if (b == DLE) {
            block.push_back(DLE);
        }
    }
    block.push_back(DLE);
    block.push_back(ETX);
    if (with_bcc) {
        uint8_t bcc = 0;
        for (const uint8_t b : block) {
            bcc ^= b;
        }
        block.push_back(bcc);
    }
    return block;
}

}  // namespace qopartner
