// SPDX-License-Identifier: MIT
// The receiving side of a telegram: takes the bytes that follow the DLE
// answer to STX, one at a time, undoubles DLE and checks the end.
#pragma once

#include <cstddef>
#include <string_view>

#include "line_bytes.h"

namespace qopartner {

enum class BlockVerdict {
    good,          // closing DLE ETX seen and, in 3964R, the BCC matched
    bcc_error,     // the BCC did not match
    dle_sequence,  // a DLE was followed by neither DLE nor ETX
    overflow,      // more data bytes than the receiver takes
};

std::string_view verdict_name(BlockVerdict verdict);

class BlockDecoder {
public:
    BlockDecoder(bool with_bcc, size_t max_length);

    // Takes the next byte; true once the block is complete (after DLE ETX,
    // and in 3964R after the BCC that follows). Bytes after that are ignored.
    bool take(uint8_t byte);

    bool complete() const { return stage_ == Stage::done; }
    // Meaningful once complete: the worst fault seen in the block.
    BlockVerdict verdict() const;
    const Bytes& data() const { return data_; }

private:
    enum class Stage { data, after_dle, bcc, done };

    void store(uint8_t byte);

    bool with_bcc_;
    size_t max_length_;
    Stage stage_ = Stage::data;
    uint8_t bcc_ = 0;
    bool bad_dle_ = false;
    bool overflow_ = false;
    Bytes data_;
};

}  // namespace qopartner
