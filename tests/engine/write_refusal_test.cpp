// SPDX-License-Identifier: MIT
// Data bytes the non-blocking line does not take. The engine writes into a
// pipe of one page whose free room the test controls exactly, and is
// stepped by the test itself.
#include <fcntl.h>
#include <memory>
#include <unistd.h>

#include <gtest/gtest.h>

#include "engine_fixture.h"
#include "link.h"
#include "result_codes.h"
#include "serial_line.h"
#include "test_support.h"

using namespace qo3964;

namespace {

using qotest::Bytes;
using qotest::framed;
using qotest::hex;
using qotest::operator+;

constexpr int PIPE_ROOM = 4096;

class WriteRefusalTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(pipe2(pipe_, O_NONBLOCK), 0);
        ASSERT_EQ(fcntl(pipe_[1], F_SETPIPE_SZ, PIPE_ROOM), PIPE_ROOM);
        serial_use(link().line, pipe_[1]);
        // Nothing comes back on the line: the engine reads an empty pipe.
        ASSERT_EQ(pipe2(silence_, O_NONBLOCK), 0);
        link().line.input_fd = silence_[0];
    }

    Link& link() { return *link_; }

    // One step, and the wait for what the engine waits for (room in the
    // pipe, its deadline).
    void step()
    {
        engine_step(link());
        link_wait(link(), -1, 50);
    }

    void TearDown() override
    {
        link().line.line_fd = -1;
        close(pipe_[0]);
        close(pipe_[1]);
        close(silence_[0]);
        close(silence_[1]);
    }

    // Leaves `room` bytes free in the pipe.
    void leave_room(int room)
    {
        const Bytes filler(static_cast<size_t>(PIPE_ROOM - room), 0xEE);
        ASSERT_EQ(write(pipe_[1], filler.data(), filler.size()), static_cast<ssize_t>(filler.size()));
    }

    // What the engine wrote, without the filler.
    Bytes written()
    {
        Bytes bytes = qotest::read_bytes(pipe_[0], 2 * PIPE_ROOM, 50);
        std::erase(bytes, 0xEE);
        return bytes;
    }

    // Steps until the closing block is out; everything written meanwhile.
    Bytes written_until_closed()
    {
        Bytes bytes;
        for (int n = 0; n < 10 && link().engine.engine_state == ENGINE_TX_DATA; ++n) {
            step();
            bytes = bytes + written();
        }
        return bytes;
    }

    // The engine has just been answered DLE to its STX.
    void connected_with(const Bytes& data)
    {
        std::copy(data.begin(), data.end(), link().transfer.tx_data);
        link().transfer.tx_length = static_cast<int32_t>(data.size());
        link().transfer.send_pending = 1;
        link().engine.engine_state = ENGINE_TX_START;
    }

    std::unique_ptr<Link> link_ = std::make_unique<Link>();
    int pipe_[2] = {-1, -1};
    int silence_[2] = {-1, -1};
};

TEST_F(WriteRefusalTest, RefusedDataByteIsWrittenAgainWithoutCountingAnAttempt)
{
    leave_room(0);
    connected_with({0x41, 0x42});
    step();
    EXPECT_EQ(link().engine.engine_state, ENGINE_TX_DATA);
    EXPECT_EQ(link().engine.tx_pos, 0);
    EXPECT_EQ(hex(written()), "");

    EXPECT_EQ(hex(written_until_closed()), hex(framed({0x41, 0x42})));
    EXPECT_EQ(link().engine.engine_state, ENGINE_TX_ACK);
    EXPECT_EQ(link().transfer.send_attempts, 0);
    EXPECT_EQ(link().transfer.send_pending, 1);
}

TEST_F(WriteRefusalTest, RefusedDoublingDleGoesOutBeforeTheNextDataByte)
{
    leave_room(1);
    connected_with({0x10, 0x41});
    step();
    EXPECT_EQ(hex(written()), "10");
    EXPECT_EQ(link().engine.tx_pos, 1);
    EXPECT_EQ(link().engine.tx_dle_owed, 1);
    EXPECT_EQ(link().engine.engine_state, ENGINE_TX_DATA);

    // 10 10 41 10 03 and the BCC 52 of all of them: the owed DLE counts.
    const Bytes rest = written_until_closed();
    EXPECT_EQ(hex(Bytes{0x10} + rest), hex(framed({0x10, 0x41})));
    EXPECT_EQ(hex(rest), "10 41 10 03 52");
    EXPECT_EQ(link().transfer.send_attempts, 0);
}

TEST_F(WriteRefusalTest, ClosingBlockWaitsForAnOwedDoublingDle)
{
    leave_room(2);
    connected_with({0x41, 0x10});
    for (int n = 0; n < 10 && link().engine.tx_pos < 2; ++n) {
        step();
    }
    EXPECT_EQ(link().engine.tx_dle_owed, 1);
    EXPECT_EQ(link().engine.engine_state, ENGINE_TX_DATA);

    // The line still takes nothing: no DLE, and no closing block either.
    step();
    EXPECT_EQ(link().engine.engine_state, ENGINE_TX_DATA);
    const Bytes first = written();
    EXPECT_EQ(hex(first), "41 10");

    const Bytes rest = written_until_closed();
    EXPECT_EQ(hex(first + rest), hex(framed({0x41, 0x10})));
    EXPECT_EQ(link().engine.tx_dle_owed, 0);
}

// A line that takes nothing for qvz (CTS held low, an adapter gone) ends
// the attempt as a failed one: first in the data, then in the closing
// block; the last attempt fails the send with -67.
TEST_F(WriteRefusalTest, LineThatTakesNothingForQvzFailsTheAttempt)
{
    link().procedure.qvz = 100;
    link().procedure.tds = 2;
    leave_room(0);
    connected_with({0x41, 0x42});
    for (int n = 0; n < 100 && link().transfer.send_attempts == 0; ++n) {
        step();
    }
    EXPECT_EQ(link().transfer.send_attempts, 1);
    EXPECT_EQ(link().transfer.send_pending, 1);

    // The next attempt's STX found no room either; now its DLE came.
    written();
    leave_room(2);
    link().engine.engine_state = ENGINE_TX_START;
    for (int n = 0; n < 100 && link().transfer.send_pending == 1; ++n) {
        step();
    }
    EXPECT_EQ(link().engine.engine_state, ENGINE_IDLE);
    EXPECT_EQ(link().transfer.send_pending, 0);
    EXPECT_EQ(link().snd_set.state, SLOT_DONE);
    EXPECT_EQ(link().snd_set.status, RC_NO_ACK);
    EXPECT_EQ(hex(written()), "41 42");
}

}  // namespace
