// SPDX-License-Identifier: MIT
// The trace file: which bytes make one line (a telegram's block, a control
// character, a line error), and the rename to PATH.1 at its size.
#include <gtest/gtest.h>

#include "line_trace.h"
#include "result_codes.h"
#include "test_support.h"

namespace {

using namespace qotest;

constexpr int IN = 0;
constexpr int OUT = 1;
constexpr int32_t GAP_MS = 60000;  // no pause of the test ends a line

struct Passing {
    int direction;
    Bytes bytes;
};

// The trace's lines without their time.
std::vector<std::string> traced(const std::string& path)
{
    std::vector<std::string> lines;
    for (const std::string& line : lines_of(read_file(path))) {
        lines.push_back(line[0] == '#' ? "#" : line.substr(24));
    }
    return lines;
}

TEST(LineTrace, OneTelegramOrControlCharacterPerLine)
{
    TempDir dir;
    const std::string path = dir.file("line.trace");
    ASSERT_TRUE(qo3964::trace_open(path.c_str(), 16 * 1024, GAP_MS, "/dev/ttyS9"));
    const std::vector<Passing> exchange{
        {OUT, {0x02}},                                      // a send: STX
        {IN, {0x10}},                                       // the partner's DLE
        {OUT, {0x02, 0x41, 0x10, 0x10, 0x10, 0x03, 0x40}},  // the block, even beginning with 02
        {IN, {0x10, 0x02}},                                 // its DLE, and at once its own STX
        {OUT, {0x10}},
        {IN, {0x15, 0x10, 0x10, 0x10, 0x03, 0x15}},         // its block, beginning with 15
        {OUT, {0x10}},
        {IN, {0x15, 0x43, 0x44}},                           // a NAK, then bytes of no telegram
    };
    for (const Passing& passing : exchange) {
        for (const uint8_t byte : passing.bytes) {
            qo3964::trace_byte(passing.direction, byte);
        }
    }
    qo3964::trace_line_error(qo3964::RC_PARITY, 0x41);
    qo3964::trace_close();
    const std::vector<std::string> expected{
        "#",          "OUT 02 STX", "IN  10 DLE",          "OUT 02 41 10 10 10 03 40", "IN  10 DLE", "IN  02 STX",
        "OUT 10 DLE", "IN  15 10 10 10 03 15", "OUT 10 DLE", "IN  15 NAK", "IN  43 44", "IN  PARITY 41",
    };
    EXPECT_EQ(traced(path), expected);

    // At its size the file becomes PATH.1 and a new one begins.
    ASSERT_TRUE(qo3964::trace_open(path.c_str(), 16 * 1024, GAP_MS, "/dev/ttyS9"));
    const Bytes block(2000, 0x41);
    for (int i = 0; i < 4; ++i) {
        for (const uint8_t byte : block) {
            qo3964::trace_byte(i % 2, byte);
        }
    }
    qo3964::trace_close();
    EXPECT_EQ(traced(path + ".1").front(), "#");
    EXPECT_EQ(traced(path + ".1").size(), expected.size() + 1 + 2);
    EXPECT_EQ(traced(path), (std::vector<std::string>{"#", "IN  " + hex(block), "OUT " + hex(block)}));
}

}  // namespace
