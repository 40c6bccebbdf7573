// SPDX-License-Identifier: MIT
// The parity and break markings of the terminal driver, turned back into
// data bytes and line error codes. A pseudo-terminal cannot produce them,
// so the line descriptor is pointed at a pipe that carries the raw bytes.
#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <unistd.h>

#include "serial_line.h"
#include "test_support.h"

using namespace qo3964;

namespace {
// The line under test.
SerialLine serial_line;
}  // namespace

namespace {

class MarkingDecode : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(pipe2(pipe_, O_NONBLOCK), 0);
        serial_use(serial_line, pipe_[0]);
        serial_line.monitor_on = 0;
    }

    void TearDown() override
    {
        serial_line.line_fd = -1;
        close(pipe_[0]);
        close(pipe_[1]);
    }

    void line_delivers(const qotest::Bytes& raw) const { qotest::write_bytes(pipe_[1], raw); }

private:
    int pipe_[2] = {-1, -1};
};

TEST_F(MarkingDecode, DoubledFFIsTheDataByteFFAndClearsTheLineError)
{
    line_delivers({0x41, 0xFF, 0xFF, 0x42});
    serial_line.last_line_error = -56;
    EXPECT_EQ(serial_getc(serial_line, 20), 0x41);
    serial_line.last_line_error = -56;
    EXPECT_EQ(serial_getc(serial_line, 20), 255);
    EXPECT_EQ(serial_line.last_line_error, 0);
    EXPECT_EQ(serial_getc(serial_line, 20), 0x42);
    EXPECT_EQ(serial_getc(serial_line, 20), -1601);
}

struct MarkingCase {
    const char* name;
    uint8_t second;
    uint8_t third;
    int code;
};

// A marking takes three bytes whatever it means; the byte after it is
// read as data.
constexpr MarkingCase marking_cases[] = {
    {"BreakIsMinus55", 0x00, 0x00, -55},
    {"ParityOrFramingErrorIsMinus56", 0x00, 0x41, -56},
    {"UnknownMarkingIsMinus57", 0x05, 0x41, -57},
};

void PrintTo(const MarkingCase& c, std::ostream* os) { *os << c.name; }

class Marking : public MarkingDecode, public ::testing::WithParamInterface<MarkingCase> {};

TEST_P(Marking, ThreeBytesGiveOneLineErrorCode)
{
    const MarkingCase c = GetParam();
    line_delivers({0xFF, c.second, c.third, 0x42});
    EXPECT_EQ(serial_getc(serial_line, 20), c.code);
    EXPECT_EQ(serial_line.last_line_error, c.code);
    EXPECT_EQ(serial_getc(serial_line, 20), 0x42);
    EXPECT_EQ(serial_line.last_line_error, 0);
}

INSTANTIATE_TEST_SUITE_P(Markings, Marking, ::testing::ValuesIn(marking_cases),
                         [](const ::testing::TestParamInfo<MarkingCase>& info) { return info.param.name; });

TEST_F(MarkingDecode, MarkingCutShortIsReportedAsMinus57WithoutWaitingForTheLimit)
{
    using namespace std::chrono;
    constexpr int limit = 20000;
    line_delivers({0xFF});
    const auto start = steady_clock::now();
    EXPECT_EQ(serial_getc(serial_line, limit), -57);
    line_delivers({0xFF, 0x00});
    EXPECT_EQ(serial_getc(serial_line, limit), -57);
    EXPECT_LT(duration_cast<milliseconds>(steady_clock::now() - start).count(), limit / 4);
}

// Each marking is reported once; the silence after it is silence.
TEST_F(MarkingDecode, LineErrorIsReportedOnceThenSilenceIsSilence)
{
    line_delivers({0xFF, 0x00, 0x41, 0xFF, 0x00, 0x00});
    EXPECT_EQ(serial_getc(serial_line, 20), -56);
    EXPECT_EQ(serial_getc(serial_line, 20), -55);
    EXPECT_EQ(serial_line.last_line_error, -55);
    EXPECT_EQ(serial_getc(serial_line, 20), -1601);
}

// A marking whose bytes come in two reads: the reader's buffer holds the
// first part when the rest arrives.
TEST_F(MarkingDecode, MarkingSplitAcrossTwoReadsIsDecoded)
{
    line_delivers({0x41, 0xFF});
    EXPECT_EQ(serial_getc(serial_line, 20), 0x41);
    EXPECT_EQ(serial_input_held(serial_line), 1);
    line_delivers({0x00, 0x41, 0x42, 0xFF});
    EXPECT_EQ(serial_getc(serial_line, 20), -56);
    EXPECT_EQ(serial_getc(serial_line, 20), 0x42);
    line_delivers({0xFF});
    EXPECT_EQ(serial_getc(serial_line, 20), 255);
    EXPECT_EQ(serial_getc(serial_line, 20), -1601);
}

TEST_F(MarkingDecode, FlushDropsWhatTheReaderHolds)
{
    line_delivers({0x41, 0x42});
    EXPECT_EQ(serial_getc(serial_line, 20), 0x41);
    serial_flush_input(serial_line);
    EXPECT_EQ(serial_getc(serial_line, 20), -1601);
}

// Repeated STX are dropped up to the first other byte, which is read next,
// also when it begins a marking.
TEST_F(MarkingDecode, DroppingWaitingStxKeepsTheNextByteAndItsMarking)
{
    line_delivers({0x02, 0x02, 0xFF, 0x00, 0x02, 0x41, 0xFF, 0xFF});
    EXPECT_EQ(serial_drop_waiting(serial_line, 0x02), 2);
    EXPECT_EQ(serial_getc(serial_line, 20), -56);
    EXPECT_EQ(serial_getc(serial_line, 20), 0x41);
    EXPECT_EQ(serial_drop_waiting(serial_line, 0x02), 0);
    EXPECT_EQ(serial_getc(serial_line, 20), 255);
    EXPECT_EQ(serial_drop_waiting(serial_line, 0x02), 0);
    EXPECT_EQ(serial_getc(serial_line, 20), -1601);
}

}  // namespace
