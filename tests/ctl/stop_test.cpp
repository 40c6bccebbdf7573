// SPDX-License-Identifier: MIT
// qo3964_ctl stop: the stop order through the segment, and the wait until
// the server has gone.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <unistd.h>

#include "ctl_fixture.h"

namespace ctltest {
namespace {

using qotest::file_exists;
using qotest::segment_exists;

const std::string P = "\n++++++ qo3964_server";

TEST(CtlStop, BringsTheServerDownAndWaitsForIt)
{
    qotest::ServerHarness server(SERVER_TIMES);
    ASSERT_TRUE(server.start());
    const std::string pid = std::to_string(server.process().pid());

    // The server is not collected by the test before the tool ends: the
    // tool must see the ended process as gone.
    const CtlRun run = run_ctl({"--rc", server.rc_file(), "stop"}, "", 30000);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "stop order given to the server of \"" + server.shm_file() + "\", process " + pid +
                           "\n"
                           "shutdown marks set: the server has left its main loop\n"
                           "segment removed\n"
                           "server process " +
                           pid + " has ended\nserver stopped\n");

    EXPECT_EQ(server.process().wait_exit(5000), 1);
    EXPECT_TRUE(server.process().out().ends_with(
        P + ": got shutdown-command from pikter" + P + ": -> shutdown started" + P +
        ": restored old port definition ..." + P + ": destroy shared memory ..." + P + ": delete lockfile ..." + P +
        ": ENDED ++++++\n"))
        << server.process().out();
    EXPECT_FALSE(segment_exists(server.shm_file()));
    EXPECT_FALSE(file_exists(server.lockfile()));
}

TEST(CtlStop, AServerThatGoesWithoutItsShutdownMarksHasStopped)
{
    // As a server whose start fails while the order comes: its segment goes
    // and its process ends, but it never sets the marks. A stopped server
    // cannot set them either; the test removes and ends it in that order.
    qotest::ServerHarness server(SERVER_TIMES);
    ASSERT_TRUE(server.start());
    const std::string pid = std::to_string(server.process().pid());
    server.process().signal(SIGSTOP);
    const auto ctl = start_ctl({"--rc", server.rc_file(), "stop", "--timeout", "10"});
    ASSERT_TRUE(ctl->wait_for_output("stop order given", 10000)) << ctl->err();
    qotest::remove_segment(server.shm_file());
    server.process().signal(SIGKILL);

    EXPECT_EQ(ctl->wait_exit(20000), 0);
    EXPECT_EQ(ctl->err(), "");
    EXPECT_TRUE(ctl->out().ends_with("\nsegment removed\nserver process " + pid + " has ended\nserver stopped\n"))
        << ctl->out();
}

TEST(CtlStop, GivesUpAtItsTimeLimitAndSaysWhatIsMissing)
{
    AbandonedSegment abandoned;
    ASSERT_GE(abandoned.id(), 0);
    const std::string& key_file = abandoned.key_file();
    const std::string& rc = abandoned.rc_file();

    // No lockfile: only the segment is waited for.
    CtlRun run = run_ctl({"--rc", rc, "stop", "--timeout", "1"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "no running process named in " + qotest::lockfile_for(key_file) +
                           ": waiting for the segment only\n"
                           "stop order given to the server of \"" +
                           key_file + "\"\n");
    EXPECT_EQ(run.err, "qo3964_ctl: stop: the server has not gone within 1 s, no shutdown marks, segment still "
                       "there; if no server serves it, remove it with ipcrm -m " +
                           std::to_string(abandoned.id()) + "\n");
    SegmentAttachment attached(key_file);
    ASSERT_TRUE(attached.attached());
    EXPECT_EQ(attached.segment().shutdown_request, 1);

    // A server that still runs (here the test, named in the segment's
    // record) is waited for too.
    abandoned.record(AbandonedSegment::Server::live);
    attached.segment().send_job.shutdown_mark = SHUTDOWN_MARK;
    attached.segment().receive_job.shutdown_mark = SHUTDOWN_MARK;
    run = run_ctl({"--rc", rc, "stop", "--timeout=1"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "qo3964_ctl: stop: the server has not gone within 1 s, segment still there, process " +
                           std::to_string(getpid()) + " still running\n");
    EXPECT_NE(run.out.find("shutdown marks set: the server has left its main loop\n"), std::string::npos);
}

}  // namespace
}  // namespace ctltest
