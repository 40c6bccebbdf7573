// SPDX-License-Identifier: MIT
// The partner's encoder and decoder against hand-written byte sequences.
#include <gtest/gtest.h>

#include "block_decoder.h"
#include "block_encoder.h"
#include "hex_text.h"

namespace {

using qopartner::BlockDecoder;
using qopartner::BlockVerdict;
using qopartner::Bytes;
using qopartner::encode_block;
using qopartner::parse_hex;
using qopartner::to_hex;

BlockDecoder decode(const Bytes& wire, bool with_bcc, size_t max_length = 4096)
{
    BlockDecoder decoder(with_bcc, max_length);
    for (const uint8_t b : wire) {
        decoder.take(b);
    }
    return decoder;
}

TEST(BlockEncoder, DoublesDleAndAppendsTheBccOnce)
{
    // The BCC 10 equals DLE and still goes out once.
    EXPECT_EQ(to_hex(encode_block({0x01, 0x10, 0x02}, true)), "01 10 10 02 10 03 10");
    EXPECT_EQ(to_hex(encode_block({0x01, 0x10, 0x02}, false)), "01 10 10 02 10 03");
}

TEST(BlockEncoder, EmptyTelegramAndByteFF)
{
    EXPECT_EQ(to_hex(encode_block({}, true)), "10 03 13");
    EXPECT_EQ(to_hex(encode_block({}, false)), "10 03");
    EXPECT_EQ(to_hex(encode_block({0xFF}, true)), "FF 10 03 EC");
}

TEST(BlockEncoder, BccCoversBothBytesOfEveryDoubledDle)
{
    // 1000 DLEs: 2000 DLEs on the line XOR to 0, so the BCC is 10 ^ 03.
    const Bytes block = encode_block(Bytes(1000, 0x10), true);
    ASSERT_EQ(block.size(), 2003u);
    EXPECT_EQ(Bytes(block.begin(), block.begin() + 2000), Bytes(2000, 0x10));
    EXPECT_EQ(to_hex(Bytes(block.end() - 3, block.end())), "10 03 13");
}

TEST(BlockDecoder, UndoublesDleAndChecksTheBcc)
{
    BlockDecoder decoder = decode(*parse_hex("01 10 10 02 10 03 10"), true);
    ASSERT_TRUE(decoder.complete());
    EXPECT_EQ(decoder.verdict(), BlockVerdict::good);
    EXPECT_EQ(to_hex(decoder.data()), "01 10 02");
}

TEST(BlockDecoder, CompletesAtTheBccIn3964RAndAtEtxIn3964)
{
    BlockDecoder r(true, 4096);
    const Bytes body = *parse_hex("01 10 03");
    for (const uint8_t b : body) {
        EXPECT_FALSE(r.take(b));
    }
    EXPECT_TRUE(r.take(0x12));
    EXPECT_EQ(r.verdict(), BlockVerdict::good);

    BlockDecoder plain(false, 4096);
    EXPECT_FALSE(plain.take(0x01));
    EXPECT_FALSE(plain.take(0x10));
    EXPECT_TRUE(plain.take(0x03));
    EXPECT_EQ(plain.verdict(), BlockVerdict::good);
    EXPECT_EQ(to_hex(plain.data()), "01");
}

TEST(BlockDecoder, RefusesWrongBccBadDleSequenceAndOverflow)
{
    EXPECT_EQ(decode(*parse_hex("01 10 10 02 10 03 11"), true).verdict(), BlockVerdict::bcc_error);
    // DLE 41 is no valid pair, even with a BCC that covers it (01^10^41^02^10^03 = 41).
    BlockDecoder bad_pair = decode(*parse_hex("01 10 41 02 10 03 41"), true);
    EXPECT_TRUE(bad_pair.complete());
    EXPECT_EQ(bad_pair.verdict(), BlockVerdict::dle_sequence);
    // Four data bytes where three are taken; the BCC is right (01^02^03^04^10^03 = 17).
    BlockDecoder too_long = decode(*parse_hex("01 02 03 04 10 03 17"), true, 3);
    EXPECT_TRUE(too_long.complete());
    EXPECT_EQ(too_long.verdict(), BlockVerdict::overflow);
    EXPECT_EQ(decode(*parse_hex("01 02 03 10 03 13"), true, 3).verdict(), BlockVerdict::good);
}

TEST(BlockDecoder, DoubledDleAsLastDataByteDoesNotEndTheBlock)
{
    BlockDecoder decoder(false, 4096);
    const Bytes body = *parse_hex("10 10 03");
    for (const uint8_t b : body) {
        EXPECT_FALSE(decoder.take(b));  // 10 10 is data, 03 is data
    }
    EXPECT_FALSE(decoder.take(0x10));
    EXPECT_TRUE(decoder.take(0x03));
    EXPECT_EQ(to_hex(decoder.data()), "10 03");
}

TEST(HexText, AcceptsTheUsualWritings)
{
    EXPECT_EQ(to_hex(*parse_hex("01 10 02")), "01 10 02");
    EXPECT_EQ(to_hex(*parse_hex("011002")), "01 10 02");
    EXPECT_EQ(to_hex(*parse_hex("01:10:02")), "01 10 02");
    EXPECT_EQ(to_hex(*parse_hex(" ab,CD\t")), "AB CD");
    EXPECT_TRUE(parse_hex("")->empty());
}

TEST(HexText, RefusesWhatIsNotWholeBytes)
{
    EXPECT_FALSE(parse_hex("0g"));
    EXPECT_FALSE(parse_hex("123"));
    EXPECT_FALSE(parse_hex("1 23"));
    EXPECT_FALSE(parse_hex("0x01"));
}

}  // namespace
