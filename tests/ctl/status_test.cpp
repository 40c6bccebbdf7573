// SPDX-License-Identifier: MIT
// qo3964_ctl status against a running server: every field it shows is
// the one in the segment.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <sys/shm.h>
#include <unistd.h>

#include "ctl_fixture.h"

namespace ctltest {
namespace {

// The lines of the status output by their label ("send_job", ...).
std::map<std::string, std::string> by_label(const std::string& out)
{
    std::map<std::string, std::string> lines;
    for (const std::string& line : lines_of(out)) {
        const size_t colon = line.find(": ");
        if (colon != std::string::npos) {
            lines[line.substr(0, colon)] = line.substr(colon + 2);
        }
    }
    return lines;
}

// The number after "<name> " in a line; INT64_MIN when it is not there.
long long number_after(const std::string& line, const std::string& name)
{
    const size_t at = line.find(name + " ");
    if (at == std::string::npos || (at > 0 && line[at - 1] != ' ')) {
        return INT64_MIN;
    }
    return std::stoll(line.substr(at + name.size() + 1));
}

void expect_job_line(const std::string& line, const volatile JobBlock& job)
{
    EXPECT_EQ(number_after(line, "state"), job.state) << line;
    EXPECT_EQ(number_after(line, "length"), job.length) << line;
    EXPECT_EQ(number_after(line, "result"), job.result) << line;
    EXPECT_EQ(number_after(line, "server_busy"), job.server_busy) << line;
    EXPECT_EQ(number_after(line, "client_busy"), job.client_busy) << line;
    EXPECT_EQ(number_after(line, "block_mark"), job.block_mark) << line;
    EXPECT_EQ(number_after(line, "spare_mark"), job.spare_mark) << line;
    EXPECT_EQ(number_after(line, "shutdown_mark"), job.shutdown_mark) << line;
}

TEST(CtlStatus, ShowsTheIdentificationAndTheLiveSegment)
{
    PartnerServer link({"--echo"});
    ASSERT_TRUE(link.start());
    SegmentAttachment attached(link.server().shm_file());
    ASSERT_TRUE(attached.attached());
    volatile SharedSegment& segment = attached.segment();

    // The partner's echo waits uncollected in receive_job.
    ASSERT_EQ(run_ctl(link.ctl({"send", "01 10 02 03"})).status, 0);
    ASSERT_TRUE(wait_until([&] { return segment.receive_job.state == JOB_DONE; }, 10s));
    // Values the server leaves alone: a negative stop order is no order,
    // and a raised client_busy of send_job only holds back staging.
    segment.shutdown_request = -3;
    segment.send_job.client_busy = 1;

    const CtlRun run = run_ctl(link.ctl({"status"}));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    std::map<std::string, std::string> lines = by_label(run.out);
    EXPECT_EQ(lines.size(), 10u) << run.out;

    char identification[128];
    std::snprintf(identification, sizeof identification, "qo3964_server V 1.0.1 09.06.2009, word_bits %u, info_code 2",
                  segment.info.word_bits);
    EXPECT_EQ(lines["identification"], identification);
    char segment_line[1024];
    std::snprintf(segment_line, sizeof segment_line, "key file \"%s\", key 0x%08x, shmid %d, attached ",
                  link.server().shm_file().c_str(), static_cast<unsigned>(qotest::segment_key(link.server().shm_file())), attached.id());
    EXPECT_EQ(lines["segment"].rfind(segment_line, 0), 0u) << lines["segment"];
    EXPECT_EQ(lines["lockfile"], link.server().lockfile() + ", process " +
                                     std::to_string(link.server().process().pid()) + " running");

    expect_job_line(lines["send_job"], segment.send_job);
    expect_job_line(lines["receive_job"], segment.receive_job);
    EXPECT_NE(lines["send_job"].find("state 0 JOB_IDLE, length 4, result 0 (none)"), std::string::npos);
    EXPECT_NE(lines["receive_job"].find("state 3 JOB_DONE, length 4, result 1 (good)"), std::string::npos);
    EXPECT_EQ(number_after(lines["send_job"], "client_busy"), 1);
    EXPECT_EQ(number_after(lines["send_job"], "block_mark"), 255);
    EXPECT_EQ(lines["shutdown_request"], "-3 (not positive: ignored by the server)");
    EXPECT_EQ(lines["line"], "up");
    EXPECT_EQ(lines["condition"], "running");

    // Status only looks: the telegram is still there for a client.
    EXPECT_EQ(segment.receive_job.state, JOB_DONE);
    segment.send_job.client_busy = 0;
    const CtlRun received = run_ctl(link.ctl({"receive"}));
    EXPECT_EQ(received.out, "received 4 bytes: 01 10 02 03\n");
}

TEST(CtlStatus, ShowsTheShutdownMarksOfAStoppingServer)
{
    qotest::ServerHarness server(SERVER_TIMES);
    ASSERT_TRUE(server.start());
    SegmentAttachment attached(server.shm_file());
    ASSERT_TRUE(attached.attached());
    // The marks as the server writes them when it leaves its main loop;
    // here without the stop, so that the segment can still be looked at.
    // The server is held meanwhile: a running one puts stray marks back to
    // 0 on its next pass.
    server.process().signal(SIGSTOP);
    attached.segment().send_job.shutdown_mark = SHUTDOWN_MARK;
    attached.segment().receive_job.shutdown_mark = SHUTDOWN_MARK;

    const CtlRun run = run_ctl({"--rc", server.rc_file(), "status"});
    server.process().signal(SIGCONT);
    ASSERT_EQ(run.status, 0) << run.err;
    std::map<std::string, std::string> lines = by_label(run.out);
    EXPECT_EQ(number_after(lines["send_job"], "shutdown_mark"), 156);
    EXPECT_EQ(number_after(lines["receive_job"], "shutdown_mark"), 156);
    EXPECT_EQ(lines["condition"], "shutting down (shutdown marks set)");
    EXPECT_EQ(lines["shutdown_request"], "0 (none)");
}

TEST(CtlStatus, TellsAnAbandonedSegmentFromARunningServer)
{
    AbandonedSegment abandoned;
    ASSERT_GE(abandoned.id(), 0);
    const std::string& key_file = abandoned.key_file();
    const std::string& rc = abandoned.rc_file();
    const std::string lockfile = qotest::lockfile_for(key_file);
    const std::string gone =
        "abandoned (its process has ended; remove the segment with ipcrm -m " + std::to_string(abandoned.id()) + ")";

    // Nobody serves it (the process ID of its server is taken by a process
    // that is not it): status says so and exits with 1.
    CtlRun run = run_ctl({"--rc", rc, "status"});
    ASSERT_EQ(run.status, 1) << run.err;
    std::map<std::string, std::string> lines = by_label(run.out);
    EXPECT_EQ(lines["identification"], "none (the segment holds no server identification)");
    EXPECT_EQ(lines["line"], "not served (no server runs)");
    EXPECT_EQ(lines["lockfile"], lockfile + ", missing or without a process ID");
    EXPECT_EQ(lines["condition"], gone);

    // The lockfile names a process that has ended, or a running process
    // that does not hold its lock.
    qotest::Process ended({"/bin/true"});
    ASSERT_EQ(ended.wait_exit(5000), 0);
    for (const pid_t named : {ended.pid(), getpid()}) {
        qotest::write_file(lockfile, std::to_string(named) + "\n");
        run = run_ctl({"--rc", rc, "status"});
        std::remove(lockfile.c_str());
        EXPECT_EQ(run.status, 1);
        lines = by_label(run.out);
        EXPECT_EQ(lines["lockfile"], lockfile + ", process " + std::to_string(named) + " not running");
        EXPECT_EQ(lines["condition"], gone);
    }

    // Killed during its orderly stop: the marks are set, nobody serves it.
    {
        SegmentAttachment attached(abandoned.id());
        ASSERT_TRUE(attached.attached());
        attached.segment().send_job.shutdown_mark = SHUTDOWN_MARK;
        attached.segment().receive_job.shutdown_mark = SHUTDOWN_MARK;
    }
    run = run_ctl({"--rc", rc, "status"});
    EXPECT_EQ(by_label(run.out)["condition"], gone);

    // No server made it: nothing tells whether one serves it.
    abandoned.record(AbandonedSegment::Server::none);
    run = run_ctl({"--rc", rc, "status"});
    EXPECT_EQ(by_label(run.out)["condition"], "unknown (the segment holds no record of a server)");
}

}  // namespace
}  // namespace ctltest

namespace {

using namespace ctltest;

// Whatever attached the segment may have written its texts: what could
// steer the operator's terminal is shown escaped.
TEST(CtlStatus, ShowsTheSegmentsTextsEscaped)
{
    AbandonedSegment abandoned;
    ASSERT_GE(abandoned.id(), 0);
    void* attached = shmat(abandoned.id(), nullptr, 0);
    ASSERT_NE(attached, reinterpret_cast<void*>(-1));
    auto* segment = static_cast<SharedSegment*>(attached);
    std::memcpy(segment->info.server_name, "\x1b]2;x\x07\\a", 9);
    std::memcpy(segment->info.server_version, "V\x9b" "2J", 4);
    std::memcpy(segment->info.server_date, "ok", 2);
    shmdt(attached);
    const CtlRun run = run_ctl({"--rc", abandoned.rc_file(), "status"});
    ASSERT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(by_label(run.out)["identification"], "\\x1b]2;x\\x07\\\\a V\\x9b2J ok, word_bits 0, info_code 0");
}

// Without SHMNAME the key file is the device, which a USB adapter takes
// away with it: status advises a key file that stays.
TEST(CtlStatus, AdvisesAKeyFileThatStaysWhenItIsThePort)
{
    qotest::ServerHarness server(SERVER_TIMES);
    qotest::write_file(server.rc_file(), "PORT " + server.pty().slave_path() + "\n" + SERVER_TIMES);
    ASSERT_TRUE(server.start()) << server.process().out();
    CtlRun run = run_ctl({"--rc", server.rc_file(), "status"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(by_label(run.out)["advice"].find("the key file is the serial device " + server.pty().slave_path()),
              std::string::npos)
        << run.out;
    EXPECT_EQ(server.stop(), 1);
    qotest::remove_segment(server.pty().slave_path());
}

}  // namespace
