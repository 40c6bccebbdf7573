// SPDX-License-Identifier: MIT
// Bytes through an opened line, with the test as the partner on the master
// side of a pseudo-terminal.
#include <gtest/gtest.h>

#include <chrono>
#include <poll.h>
#include <thread>
#include <unistd.h>

#include "captured_output.h"
#include "serial_line.h"
#include "test_support.h"

using namespace qo3964;

namespace {
// The line under test.
SerialLine serial_line;
}  // namespace

namespace {

using qotest::Bytes;

class LineTraffic : public ::testing::Test {
protected:
    void SetUp() override
    {
        CapturedOutput quiet(dir_);
        ASSERT_EQ(serial_open(serial_line, pty_.slave_path().c_str(), 9600, 'E', 'N', 0), 0);
    }

    void TearDown() override { serial_restore(serial_line); }

    int master() const { return pty_.master(); }

private:
    qotest::TempDir dir_;
    qotest::PtyPair pty_;
};

TEST_F(LineTraffic, ReceivedBytesComeBackInOrderWithDataByteFF)
{
    serial_line.last_line_error = -56;
    qotest::write_bytes(master(), {0x02, 0xFF, 0x10, 0x00});
    EXPECT_EQ(serial_getc(serial_line, 2000), 0x02);
    EXPECT_EQ(serial_line.last_line_error, 0);
    serial_line.last_line_error = -56;
    EXPECT_EQ(serial_getc(serial_line, 2000), 255);
    EXPECT_EQ(serial_line.last_line_error, 0);
    EXPECT_EQ(serial_getc(serial_line, 2000), 0x10);
    EXPECT_EQ(serial_getc(serial_line, 2000), 0x00);
}

TEST_F(LineTraffic, SilenceEndsTheReadAtItsLimit)
{
    using namespace std::chrono;
    constexpr int limit = 100;
    const auto start = steady_clock::now();
    const int result = serial_getc(serial_line, limit);
    const auto waited = duration_cast<milliseconds>(steady_clock::now() - start).count();
    EXPECT_EQ(result, -1601);
    // The limit runs in whole ticks of 10 ms: at least 90 ms pass.
    EXPECT_GE(waited, limit - 15);
    EXPECT_LT(waited, 20 * limit);
}

TEST_F(LineTraffic, ByteWaitingAtTheLimitIsStillRead)
{
    qotest::write_bytes(master(), {0x41});
    pollfd arrived{serial_line.line_fd, POLLIN, 0};
    ASSERT_EQ(poll(&arrived, 1, 2000), 1);
    EXPECT_EQ(serial_getc(serial_line, 0), 0x41);
    EXPECT_EQ(serial_getc(serial_line, 0), -1601);
}

TEST_F(LineTraffic, WrittenBytesArriveInOrderUnchanged)
{
    const uint8_t closing[] = {0x10, 0x03, 0xFF, 0x0A};
    EXPECT_EQ(serial_putc(serial_line, 0x02), 1);
    EXPECT_EQ(serial_putc(serial_line, 0x10), 1);
    EXPECT_EQ(serial_write_some(serial_line, closing, 4), 4);
    EXPECT_EQ(serial_putc(serial_line, 0x15), 1);
    EXPECT_EQ(qotest::hex(qotest::read_bytes(master(), 7, 2000)), "02 10 10 03 FF 0A 15");
    EXPECT_EQ(qotest::read_until_quiet(master(), 50, 500).size(), 0U);
}

}  // namespace
