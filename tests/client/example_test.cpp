// SPDX-License-Identifier: MIT
// The example application against a segment on which the test plays the
// server: it identifies the server, sends, receives and prints each result.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "fake_server_segment.h"
#include "qo3964_client.h"
#include "test_support.h"
#include "wait_until.h"

using namespace qo3964;

namespace {

constexpr int WAIT_MS = 20000;

TEST(ExampleApplication, SendsReceivesAndPrintsEveryResult)
{
    qotest::TempDir dir;
    qotest::FakeServerSegment server(dir);
    ASSERT_TRUE(server.ok());
    qotest::Process example({qotest::program_path("send_receive"), server.rc_file(), "7"});

    volatile JobBlock& send = server.send_job();
    ASSERT_TRUE(qotest::wait_until([&] { return send.state == JOB_SUBMITTED; }, std::chrono::milliseconds(WAIT_MS))) << example.out();
    qotest::Bytes sent(static_cast<size_t>(send.length));
    for (size_t i = 0; i < sent.size(); ++i) {
        sent[i] = send.data[i];
    }
    EXPECT_EQ(qotest::hex(sent), "01 10 02 48 65 6C 6C 6F");
    send.state = JOB_IN_WORK;
    send.result = 1;
    send.state = JOB_DONE;

    volatile JobBlock& receive = server.receive_job();
    const uint8_t telegram[] = {0x41, 0x10, 0xFF};
    for (size_t i = 0; i < sizeof telegram; ++i) {
        receive.data[i] = telegram[i];
    }
    receive.length = sizeof telegram;
    receive.result = 1;
    receive.state = JOB_DONE;
    ASSERT_TRUE(qotest::wait_until([&] { return receive.state == JOB_IDLE; }, std::chrono::milliseconds(WAIT_MS))) << example.out();
    // Then a receive error, which the example prints with its text.
    receive.result = QO3964_ERR_RX_BCC;
    receive.state = JOB_DONE;
    ASSERT_TRUE(qotest::wait_until([&] { return receive.state == JOB_IDLE; }, std::chrono::milliseconds(WAIT_MS))) << example.out();

    ASSERT_EQ(example.wait_exit(WAIT_MS), 0) << example.err();
    EXPECT_EQ(example.out(),
              "qo3964_client V 1.0.1\n"
              "qo3964m_open_shm           0  order is still in work\n"
              "qo3964m_svr_info           0  order is still in work\n"
              "server: qo3964_server V 1.0.1 of 09.06.2009, 32 bit\n"
              "qo3964m_send               2  Write terminated without error\n"
              "qo3964m_receive_wait       3  bytes: 41 10 FF\n"
              "qo3964m_receive_wait     -82  3964: BCC-Error on receive\n"
              "qo3964m_close_shm          0  order is still in work\n");
}

TEST(ExampleApplication, ReportsAMissingRcFile)
{
    qotest::TempDir dir;
    qotest::Process example({qotest::program_path("send_receive"), dir.file("absent.rc")});
    EXPECT_EQ(example.wait_exit(WAIT_MS), 1);
    EXPECT_EQ(example.out(),
              "qo3964_client V 1.0.1\n"
              "qo3964m_open_shm         -51  qo7_open_shm(): rc-File not found\n");
}

}  // namespace
