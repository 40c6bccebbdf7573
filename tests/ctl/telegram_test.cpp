// SPDX-License-Identifier: MIT
// qo3964_ctl send and receive through a server to a partner program and
// back: the partner echoes what it gets, or misbehaves on cue.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>

#include "ctl_fixture.h"

namespace ctltest {
namespace {

using qotest::Bytes;
using qotest::hex;

constexpr char SEND_DONE[] = "result 2: Write terminated without error\n";

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(CtlTelegrams, SentTelegramIsAcknowledgedAndItsEchoReceived)
{
    PartnerServer link({"--echo"});
    ASSERT_TRUE(link.start());
    CtlRun sent = run_ctl(link.ctl({"send", "01", "10 02", "0x10,1003"}));
    EXPECT_EQ(sent.status, 0) << sent.err;
    EXPECT_EQ(sent.out, SEND_DONE);
    EXPECT_EQ(sent.err, "");
    EXPECT_TRUE(link.partner().wait_for_output(" RX 01 10 02 10 10 03\n", 5000)) << link.partner().out();

    const CtlRun received = run_ctl(link.ctl({"receive", "--timeout", "10"}));
    EXPECT_EQ(received.status, 0) << received.err;
    EXPECT_EQ(received.out, "received 6 bytes: 01 10 02 10 10 03\n");
    EXPECT_EQ(received.err, "");

    // One byte, with both texts.
    sent = run_ctl(link.ctl({"--lang", "both", "send", "7f"}));
    EXPECT_EQ(sent.status, 0) << sent.err;
    EXPECT_EQ(sent.out, "result 2: Write terminated without error | Write ohne Fehler beendet\n");
    EXPECT_EQ(run_ctl(link.ctl({"receive"})).out, "received 1 byte: 7F\n");

    // An empty argument is the empty telegram.
    sent = run_ctl(link.ctl({"send", ""}));
    EXPECT_EQ(sent.status, 0) << sent.err;
    EXPECT_EQ(sent.out, SEND_DONE);
    EXPECT_TRUE(link.partner().wait_for_output(" RX -\n", 5000)) << link.partner().out();
}

TEST(CtlTelegrams, FileOfFourKilobytesGoesOutWhole)
{
    PartnerServer link({"--echo"});
    ASSERT_TRUE(link.start());
    Bytes telegram(4096);
    for (size_t i = 0; i < telegram.size(); ++i) {
        telegram[i] = static_cast<uint8_t>(i * 7);  // every value, DLE included
    }
    const std::string file = link.server().dir().file("telegram.bin");
    qotest::write_file(file, std::string(telegram.begin(), telegram.end()));

    const CtlRun sent = run_ctl(link.ctl({"send", "--file", file, "--timeout", "20"}));
    EXPECT_EQ(sent.status, 0) << sent.err;
    EXPECT_EQ(sent.out, SEND_DONE);
    const CtlRun received = run_ctl(link.ctl({"receive", "--timeout", "20"}));
    EXPECT_EQ(received.status, 0) << received.err;
    EXPECT_EQ(received.out, "received 4096 bytes: " + hex(telegram) + "\n");
}

TEST(CtlTelegrams, FailedSendGivesTheServersCode)
{
    // The partner does not answer the server's STX: after TDS 2 attempts
    // of QVZ 5.5 s the server gives up, later than a fixed limit of 10 s.
    // The tool's limit follows the server's settings.
    PartnerServer link({"--fault", "silent-stx=10"}, "ZVZ 100\nQVZ 5500\nTDS 2\n");
    ASSERT_TRUE(link.start());
    const CtlRun sent = run_ctl(link.ctl({"send", "01 02"}));
    EXPECT_EQ(sent.status, 1);
    EXPECT_EQ(sent.out, "result -84: 3964: Initialisation conflict\n");
    EXPECT_EQ(sent.err, "");
}

TEST(CtlTelegrams, SendThatOutlastsItsTimeLimitGivesMinus99)
{
    // The server waits 5 s for an answer to its STX; the tool only 1 s.
    PartnerServer link({"--fault", "silent-stx=10"}, "ZVZ 100\nQVZ 5000\nTDS 2\n");
    ASSERT_TRUE(link.start());
    const auto start = std::chrono::steady_clock::now();
    const CtlRun sent = run_ctl(link.ctl({"send", "--timeout", "1", "01 02"}));
    EXPECT_GE(seconds_since(start), 0.9);
    EXPECT_EQ(sent.status, 1);
    EXPECT_EQ(sent.out, "result -99: timeout at client-server communication\n");
    EXPECT_EQ(sent.err, "qo3964_ctl: send: no result within 1 s; the server may still send the telegram\n");
    // The server still holds the send: a second one is refused.
    const CtlRun second = run_ctl(link.ctl({"send", "03"}));
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.out, "result -26: job already running\n");
}

TEST(CtlTelegrams, ReceiveWithNothingComingEndsAtItsTimeLimit)
{
    PartnerServer link({});
    ASSERT_TRUE(link.start());
    const auto start = std::chrono::steady_clock::now();
    const CtlRun run = run_ctl(link.ctl({"receive", "--timeout", "1"}));
    EXPECT_GE(seconds_since(start), 0.9);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "qo3964_ctl: receive: no telegram within 1 s\n");

    const CtlRun counted = run_ctl(link.ctl({"receive", "--count", "2", "--timeout", "1"}));
    EXPECT_EQ(counted.status, 1);
    EXPECT_EQ(counted.err, "qo3964_ctl: receive: 0 of 2 telegrams within 1 s\n");
}

TEST(CtlTelegrams, ReceiveErrorShowsTheServersCodeAndText)
{
    // The echo comes with a wrong BCC and is not repeated; with TDR 1 the
    // server reports the first failed reception.
    PartnerServer link({"--echo", "--fault", "corrupt-bcc", "--attempts", "1"}, "ZVZ 100\nQVZ 500\nTDS 2\nTDR 1\n");
    ASSERT_TRUE(link.start());
    ASSERT_EQ(run_ctl(link.ctl({"send", "01 02 03"})).status, 0);
    const CtlRun run = run_ctl(link.ctl({"receive", "--lang", "de"}));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "receive error -82: 3964: BCC-Error Empfang\n");
}

TEST(CtlTelegrams, FollowShowsEveryTelegramUntilSigint)
{
    PartnerServer link({"--echo"});
    ASSERT_TRUE(link.start());
    std::unique_ptr<qotest::Process> follow = start_ctl(link.ctl({"receive", "--follow"}));
    SegmentAttachment attached(link.server().shm_file());
    ASSERT_TRUE(wait_until([&] { return attached.attach_count() >= 3; }, 10s));
    for (const char* telegram : {"11", "22 22", "33 33 33"}) {
        ASSERT_EQ(run_ctl(link.ctl({"send", telegram})).status, 0);
    }
    const std::string expected = "received 1 byte: 11\nreceived 2 bytes: 22 22\nreceived 3 bytes: 33 33 33\n";
    EXPECT_TRUE(follow->wait_for_output(expected, 10000)) << follow->out();
    EXPECT_TRUE(follow->running());
    follow->signal(SIGINT);
    EXPECT_EQ(follow->wait_exit(5000), 0);
    EXPECT_EQ(follow->out(), expected);
    EXPECT_EQ(follow->err(), "");
}

TEST(CtlTelegrams, FollowEndsOnSigtermAndAfterItsCount)
{
    PartnerServer link({"--echo"});
    ASSERT_TRUE(link.start());
    std::unique_ptr<qotest::Process> idle = start_ctl(link.ctl({"receive", "--follow"}));
    std::unique_ptr<qotest::Process> counted = start_ctl(link.ctl({"receive", "--follow", "--count", "2"}));
    // Both are polling once they are attached, next to the server and the test.
    SegmentAttachment attached(link.server().shm_file());
    ASSERT_TRUE(wait_until([&] { return attached.attach_count() >= 4; }, 10s));
    idle->signal(SIGTERM);
    EXPECT_EQ(idle->wait_exit(5000), 0);
    EXPECT_EQ(idle->out(), "");

    ASSERT_EQ(run_ctl(link.ctl({"send", "44"})).status, 0);
    ASSERT_EQ(run_ctl(link.ctl({"send", "55"})).status, 0);
    EXPECT_EQ(counted->wait_exit(10000), 0);
    EXPECT_EQ(counted->out(), "received 1 byte: 44\nreceived 1 byte: 55\n");
}

TEST(CtlTelegrams, ReceiveEndsWhenTheServerShutsDown)
{
    PartnerServer link({});
    ASSERT_TRUE(link.start());
    std::unique_ptr<qotest::Process> follow = start_ctl(link.ctl({"receive", "--follow"}));
    // Polling once it is attached, next to the server and the test.
    SegmentAttachment attached(link.server().shm_file());
    ASSERT_TRUE(wait_until([&] { return attached.attach_count() >= 3; }, 10s));
    link.server().process().signal(SIGINT);
    EXPECT_EQ(follow->wait_exit(10000), 1);
    EXPECT_EQ(follow->err(), "qo3964_ctl: receive: -100 server shutdown\n");
}

}  // namespace
}  // namespace ctltest
