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

using qotest::Bytes;

class LineTraffic : public ::testing::Test {
protected:
    void SetUp() override
    {
        CapturedOutput quiet(dir_);
        ASSERT_EQ(serial_open(pty_.slave_path().c_str(), 9600, 'E', 'N', 0), 0);
    }

    void TearDown() override { serial_restore(); }

    int master() const { return pty_.master(); }

private:
    qotest::TempDir dir_;
    qotest::PtyPair pty_;
};

TEST_F(LineTraffic, ReceivedBytesComeBackInOrderWithDataByteFF)
{
    serial_line.last_line_error = -56;
    qotest::write_bytes(master(), {0x02, 0xFF, 0x10, 0x00});
    EXPECT_EQ(serial_getc(2000), 0x02);
    EXPECT_EQ(serial_line.last_line_error, 0);
    serial_line.last_line_error = -56;
    EXPECT_EQ(serial_getc(2000), 255);
    EXPECT_EQ(serial_line.last_line_error, 0);
    EXPECT_EQ(serial_getc(2000), 0x10);
    EXPECT_EQ(serial_getc(2000), 0x00);
}

TEST_F(LineTraffic, SilenceEndsTheReadAtItsLimit)
{
    using namespace std::chrono;
    constexpr int limit = 100;
    const auto start = steady_clock::now();
    const int result = serial_getc(limit);
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
    EXPECT_EQ(serial_getc(0), 0x41);
    EXPECT_EQ(serial_getc(0), -1601);
}

TEST_F(LineTraffic, WrittenBytesArriveInOrderUnchanged)
{
    const uint8_t closing[] = {0x10, 0x03, 0xFF, 0x0A};
    EXPECT_EQ(serial_putc(0x02), 1);
    EXPECT_EQ(serial_putc(0x10), 1);
    EXPECT_EQ(serial_write(closing, 4), 0);
    EXPECT_EQ(serial_putc(0x15), 1);
    EXPECT_EQ(qotest::hex(qotest::read_bytes(master(), 7, 2000)), "02 10 10 03 FF 0A 15");
    EXPECT_EQ(qotest::read_until_quiet(master(), 50, 500).size(), 0U);
}

// The closing block of a telegram must leave whole even when the output
// queue of the port is full at that moment: the write waits for room.
TEST_F(LineTraffic, BlockWriteWaitsForRoomInAFullOutputQueue)
{
    uint8_t filler[4096];
    for (size_t i = 0; i < sizeof filler; ++i) {
        filler[i] = static_cast<uint8_t>(i % 251);
    }
    // Fill the queue until it has stayed without room for 100 ms.
    size_t queued = 0;
    for (;;) {
        const size_t offset = queued % sizeof filler;
        const ssize_t n = write(serial_line.line_fd, filler + offset, sizeof filler - offset);
        if (n > 0) {
            queued += static_cast<size_t>(n);
            continue;
        }
        pollfd room{serial_line.line_fd, POLLOUT, 0};
        if (poll(&room, 1, 100) == 0) {
            break;
        }
    }
    ASSERT_GT(queued, 0U);
    EXPECT_EQ(serial_putc(0x55), -1);

    Bytes received;
    std::thread partner([&] { received = qotest::read_bytes(master(), queued + 3, 10000); });
    const uint8_t closing[] = {0x10, 0x03, 0x42};
    EXPECT_EQ(serial_write(closing, 3), 0);
    partner.join();

    ASSERT_EQ(received.size(), queued + 3);
    for (size_t i = 0; i < queued; ++i) {
        ASSERT_EQ(received[i], filler[i % sizeof filler]) << "byte " << i;
    }
    EXPECT_EQ(qotest::hex(Bytes(received.end() - 3, received.end())), "10 03 42");
}

}  // namespace
