// SPDX-License-Identifier: MIT
#include "block_decoder.h"

#include <array>

namespace qopartner {

namespace {

constexpr std::array<std::string_view, 4> verdict_names = {
    "good",
    "bcc-error",
    "dle-sequence",
    "overflow",
};

}  // namespace

std::string_view verdict_name(BlockVerdict verdict)
{
    return verdict_names[static_cast<size_t>(verdict)];
}

BlockDecoder::BlockDecoder(bool with_bcc, size_t max_length)
    : with_bcc_(with_bcc), max_length_(max_length)
{
}

bool BlockDecoder::take(uint8_t byte)
{
    switch (stage_) {
    case Stage::data:
        bcc_ ^= byte;
        if (byte == DLE) {
            stage_ = Stage::after_dle;
        } else {
            store(byte);
        }
        break;
    case Stage::after_dle:
        bcc_ ^= byte;
        if (byte == DLE) {
            store(DLE);
            stage_ = Stage::data;
        } else if (byte == ETX) {
            stage_ = with_bcc_ ? Stage::bcc : Stage::done;
        } else {
            // Not a valid sequence: the block is refused at its end, but
            // reading on to DLE ETX keeps the two sides in step.
            bad_dle_ = true;
            stage_ = Stage::data;
        }
        break;
    case Stage::bcc:
        bcc_ ^= byte;
        stage_ = Stage::done;
        break;
    case Stage::done:
        break;
    }
    return stage_ == Stage::done;
}

BlockVerdict BlockDecoder::verdict() const
{
    if (overflow_) {
        return BlockVerdict::overflow;
    }
    if (bad_dle_) {
        return BlockVerdict::dle_sequence;
    }
    if (with_bcc_ && bcc_ != 0) {
        return BlockVerdict::bcc_error;
    }
    return BlockVerdict::good;
}

void BlockDecoder::store(uint8_t byte)
{
    if (data_.size() >= max_length_) {
        overflow_ = true;
        return;
    }
    data_.push_back(byte);
}

}  // namespace qopartner
