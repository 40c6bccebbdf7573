// SPDX-License-Identifier: MIT
// The console's faults: a server started with standard output or error
// closed puts nothing meant for the console on its serial line, and one
// whose output or log pipe has stopped taking anything keeps its link
// going, drops and counts what it cannot write, says so once it can write
// again, and still stops within its time.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "block_encoder.h"
#include "notify_socket.h"
#include "server_harness.h"
#include "test_segment.h"
#include "wait_until.h"

namespace {

using namespace qotest;
using namespace std::chrono_literals;

constexpr uint8_t STX = 0x02;
constexpr uint8_t DLE = 0x10;
constexpr uint8_t NAK = 0x15;
constexpr int ANSWER_MS = 3000;
constexpr int QUIET_MS = 150;  // three times the server's ZVZ

struct ConsoleFault {
    const char* name;
    int out;          // STDIO_CLOSED, STALLED or STDIO_DEFAULT
    int err;
};
constexpr int STALLED = 100;  // a pipe that the test fills and leaves full

// A pipe whose write end the server gets; the test's end reads it.
struct StallPipe {
    int ends[2] = {-1, -1};
    const int& read_end = ends[0];
    const int& write_end = ends[1];
    StallPipe() { EXPECT_EQ(pipe2(ends, O_CLOEXEC), 0); }
    ~StallPipe()
    {
        close(ends[0]);
        close(ends[1]);
    }
    StallPipe(const StallPipe&) = delete;
    StallPipe& operator=(const StallPipe&) = delete;
    // Fills the pipe through a description of the test's own, so that the
    // server's stays as it was.
    void fill() const
    {
        const int own = open(("/proc/self/fd/" + std::to_string(write_end)).c_str(), O_WRONLY | O_NONBLOCK);
        const std::string block(4096, 'x');
        while (write(own, block.data(), block.size()) > 0 || write(own, "x", 1) > 0) {
        }
        close(own);
    }
    std::string drain() const
    {
        fcntl(read_end, F_SETFL, O_NONBLOCK);
        std::string text;
        char buffer[65536];
        for (ssize_t n = 0; (n = read(read_end, buffer, sizeof buffer)) > 0;) {
            text.append(buffer, static_cast<size_t>(n));
        }
        return text;
    }
};

// The partner's side of one telegram: STX, the server's answer, the block
// and the server's answer to it. As a partner does, it begins only on a
// line that has been quiet for a while (after a NAK the server waits for
// ZVZ of quiet before it takes an STX again).
Bytes offer(int line, const Bytes& block)
{
    EXPECT_EQ(hex(read_until_quiet(line, QUIET_MS, ANSWER_MS)), "");
    write_bytes(line, {STX});
    Bytes answers = read_bytes(line, 1, ANSWER_MS);
    write_bytes(line, block);
    const Bytes last = read_bytes(line, 1, ANSWER_MS);
    answers.insert(answers.end(), last.begin(), last.end());
    return answers;
}

Bytes wrong_bcc(const Bytes& data)
{
    Bytes block = qopartner::encode_block(data, true);
    block.back() ^= 0x01;
    return block;
}

TEST(ConsoleFaults, NothingForTheConsoleReachesTheLineAndAStalledReaderNeverHoldsTheLink)
{
    const std::vector<ConsoleFault> rows{
        {"standard output closed", STDIO_CLOSED, STDIO_DEFAULT},
        {"standard output and error closed", STDIO_CLOSED, STDIO_CLOSED},
        {"standard output stalled", STALLED, STDIO_DEFAULT},
        {"standard error stalled", STDIO_DEFAULT, STALLED},
    };
    for (const ConsoleFault& row : rows) {
        SCOPED_TRACE(row.name);
        ServerHarness server("ZVZ 50\nQVZ 500\nTDR 5\n");
        NotifySocket manager(server.dir());
        StallPipe out_pipe;
        StallPipe err_pipe;
        StdioPlan plan;
        plan.out = row.out == STALLED ? out_pipe.write_end : row.out;
        plan.err = row.err == STALLED ? err_pipe.write_end : row.err;
        {
            ScopedEnv notify("NOTIFY_SOCKET", manager.path());
            server.launch(plan);
        }
        ASSERT_EQ(manager.next(), "READY=1");
        const int line = server.pty().master();
        if (row.out == STALLED) {
            ASSERT_TRUE(wait_until([&] { return out_pipe.drain().find("[14] is up and ok") != std::string::npos; }));
            out_pipe.fill();
        }
        if (row.err == STALLED) {
            err_pipe.fill();
        }
        EXPECT_EQ(hex(read_until_quiet(line, 100, 500)), "");

        // A refused telegram writes a line to the runtime log; the link goes
        // on all the same, and takes the repetition.
        const Bytes data{0x41, 0x42, 0x43};
        EXPECT_EQ(hex(offer(line, wrong_bcc(data))), hex({DLE, NAK}));
        EXPECT_EQ(hex(offer(line, qopartner::encode_block(data, true))), hex({DLE, DLE}));

        if (row.err == STALLED) {
            // Taken again: the next line says what was dropped. The server
            // may write its line on the good telegram while the pipe empties,
            // and the note with it, so what the emptying reads counts too.
            std::string log = err_pipe.drain();
            EXPECT_EQ(hex(offer(line, wrong_bcc(data))), hex({DLE, NAK}));
            EXPECT_TRUE(wait_until([&] {
                log += err_pipe.drain();
                return log.find("writes to the runtime log were dropped") != std::string::npos;
            })) << log;
            SegmentAttachment attached(server.shm_file(), false);
            EXPECT_GT(attached.segment().info.counters.output_dropped, 0u);
        }
        // The stop's texts go nowhere or are dropped; the stop still ends
        // within its one-second pauses and their bounds.
        EXPECT_EQ(server.stop(30000), 1);
        EXPECT_EQ(hex(read_until_quiet(line, 100, 500)), "");
    }
}

}  // namespace
