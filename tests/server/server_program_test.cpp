// SPDX-License-Identifier: MIT
// qo3964_server as a process: command line, start-up messages, lockfile,
// segment, the stops and what each of them undoes.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "notify_socket.h"
#include "server_harness.h"
#include "shared_segment.h"
#include "test_segment.h"
#include "test_support.h"

using namespace qo3964;

namespace {

using namespace qotest;

const std::string STARS(51, '*');
const std::string P = "\n++++++ qo3964_server";

std::string banner()
{
    char title[80];
    std::snprintf(title, sizeof title, "*  qo3964_server %2iBit V 1.0.1 vom 09.06.2009     *\n",
                  static_cast<int>(sizeof(void*) * 8));
    return "\n" + STARS + "\n" + title + STARS + "\n*" + std::string(49, ' ') + "*\n" + STARS + "\n";
}

std::string invalid_text()
{
    return "\nINVALID PARAMETERS.\nUSAGE:\nSERVER_NAME <rc-file>    to start the server\n"
           "SERVER_NAME -v           getting informations about the server\n\n\n";
}

std::string stop_text(const std::string& reason, bool port, bool segment, bool lockfile)
{
    std::string text = P + ": " + reason + P + ": -> shutdown started";
    if (port) text += P + ": restored old port definition ...";
    if (segment) text += P + ": destroy shared memory ...";
    if (lockfile) text += P + ": delete lockfile ...";
    return text + P + ": ENDED ++++++\n";
}

// The c_cflag the server sets on a line whose saved flags are `saved`
// (default rc: 9600 bit/s, even parity, no flow control).
unsigned expected_cflag(tcflag_t saved)
{
    const tcflag_t replaced = CBAUD | CBAUDEX | CSIZE | CSTOPB | PARENB | PARODD | HUPCL | CRTSCTS;
    return (saved & ~replaced) | CS8 | CREAD | CLOCAL | B9600 | PARENB;
}

std::string port_text(const std::string& port, tcflag_t saved)
{
    char cflag[64];
    std::snprintf(cflag, sizeof cflag, " New c_cflag is %x\n", expected_cflag(saved));
    return "Trying to open " + port + " ... Success.\nTrying to read line mode of " + port +
           " ... Success.\n Line discipline is 0\n" + cflag + "Trying to set new line mode for " + port +
           " ... Success.\n";
}

int run_to_exit(const std::vector<std::string>& args, std::string* out, const std::string& dir = "")
{
    std::vector<std::string> argv{program_path("qo3964_server")};
    argv.insert(argv.end(), args.begin(), args.end());
    Process server(argv, dir);
    const int status = server.wait_exit(15000);
    *out = server.out();
    return status;
}

TEST(ServerCommandLine, VersionOptionPrintsBannerAndUsage)
{
    std::string out;
    EXPECT_EQ(run_to_exit({"-v"}, &out), 255);
    char width[80];
    std::snprintf(width, sizeof width, "qo3964_server for %2iBit Intel or AMD systems\n", static_cast<int>(sizeof(void*) * 8));
    EXPECT_EQ(out, banner() +
                       "\nUSAGE:\nSERVER_NAME <rc-file>    to start the server\n"
                       "SERVER_NAME -v           getting informations about the server\n\n"
                       "This server:\n" + width +
                       "Version V 1.0.1 compiled at 09.06.2009\n\n"
                       "Capabilities of this server:\n"
                       "Maximum count of parallel jobs (Auftraege):1 send 1 receive\n"
                       "Maximum count of bytes whithin one fetch/write: 4096 bytes.\n"
                       "\nCapabilities of the client library of this compilation:\n"
                       "(libqo3964_client.a, qo3964_client.h)\n"
                       "Maximum count of parallely accessible servers : 10\n"
                       "Maximum count of jobs (Auftraege) on each server: 1 send 1 receive\n\n\n");
}

TEST(ServerCommandLine, InvalidArgumentsAreRefused)
{
    const std::vector<std::vector<std::string>> cases{
        {"-x"}, {"-"}, {"a.rc", "b.rc"}, {"-vx"}, {std::string(600, 'r')}};
    for (const auto& args : cases) {
        std::string out;
        EXPECT_EQ(run_to_exit(args, &out), 255) << args[0];
        EXPECT_EQ(out, banner() + invalid_text()) << args[0];
    }
}

TEST(ServerStartup, MissingRcFileStopsWithoutUndoing)
{
    TempDir dir;
    const std::string rc = dir.file("none.rc");
    std::string out;
    EXPECT_EQ(run_to_exit({rc}, &out), 1);
    EXPECT_EQ(out, banner() + P + " [2] reading configuration file \"" + rc + "\" ...\n" + P +
                       " [3] file \"" + rc + "\"not found" + stop_text("no configuration file", false, false, false));
}

TEST(ServerStartup, ReadOnlyRcFileCountsAsMissing)
{
    if (geteuid() == 0) {
        GTEST_SKIP() << "root may write any file";
    }
    TempDir dir;
    const std::string rc = dir.file("ro.rc");
    write_file(rc, "DEBUG 0\n");
    chmod(rc.c_str(), 0444);
    std::string out;
    EXPECT_EQ(run_to_exit({rc}, &out), 1);
    EXPECT_NE(out.find("[3] file \"" + rc + "\"not found"), std::string::npos);
}

TEST(ServerStartup, RefusedRcLineStopsAfterTheWholeFile)
{
    TempDir dir;
    const std::string rc = dir.file("bad.rc");
    write_file(rc, "BAUD 300\nPARITY even\n");
    std::string out;
    EXPECT_EQ(run_to_exit({rc}, &out), 1);
    EXPECT_NE(out.find("  ERROR line    1: BAUD 300\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  ERROR line    2: PARITY even\n"), std::string::npos) << out;
    EXPECT_TRUE(out.ends_with(stop_text("[4] error in configuration file", false, false, false))) << out;
}

TEST(ServerStartup, DefaultRcFileIsReadFromTheWorkingDirectory)
{
    TempDir dir;
    write_file(dir.file("qo3964.rc"), "SHMNAME " + dir.file("missing.shm") + "\n");
    std::string out;
    EXPECT_EQ(run_to_exit({}, &out, dir.path()), 1);
    EXPECT_NE(out.find(P + " [2] reading configuration file \"./qo3964.rc\" ..."), std::string::npos);
    // It got as far as the key file named there.
    EXPECT_NE(out.find("[6] invalid ftok: probably no existing SHMNAME file"), std::string::npos);
}

TEST(ServerStartup, RunsAtLevelZeroWithTheDocumentedMessagesAndStopsOnSigint)
{
    ServerHarness server;
    termios saved{};
    ASSERT_EQ(tcgetattr(server.pty().slave(), &saved), 0);
    ASSERT_TRUE(server.start()) << server.process().out();
    const std::string port = server.pty().slave_path();
    EXPECT_EQ(server.process().out(),
              banner() + P + " [2] reading configuration file \"" + server.rc_file() + "\" ..." + P +
                  " [10] initializing  port " + port + "\n" + port_text(port, saved.c_cflag) + P +
                  " [12] connecting via Port " + port + P + " [13] cleaning the line ....\n" + P +
                  " [14] is up and ok ....\n");
    EXPECT_EQ(read_file(server.lockfile()), std::to_string(server.process().pid()) + "\n");
    EXPECT_TRUE(segment_exists(server.shm_file()));

    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(server.stop(), 1);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_GE(seconds, 3.5);
    EXPECT_TRUE(server.process().out().ends_with(stop_text("shutdown initiated by signal", true, true, true)));
    EXPECT_FALSE(segment_exists(server.shm_file()));
    EXPECT_FALSE(file_exists(server.lockfile()));
    // The saved line mode is back.
    termios after{};
    ASSERT_EQ(tcgetattr(server.pty().slave(), &after), 0);
    EXPECT_EQ(after.c_cflag, saved.c_cflag);
    EXPECT_EQ(after.c_iflag, saved.c_iflag);
}

TEST(ServerStartup, DebugLevelShowsTheSegmentSteps)
{
    ServerHarness server("DEBUG 1\n");
    ASSERT_TRUE(server.start()) << server.process().out();
    const std::string out = server.process().out();
    const key_t key = segment_key(server.shm_file());
    const std::vector<std::string> in_order{
        P + " [2] reading",
        "\n\n" + P + " [5] trying to open shared memory ...\n",
        "   name file is \"" + server.shm_file() + "\"\n",
        "   key = " + std::to_string(key) + "\n",
        P + " length of shared memory structure = 9444",
        P + " [9] shared memory attached, now initializing ..\n",
        P + " [10] initializing  port",
        P + " [14] is up and ok ....\n"};
    size_t at = 0;
    for (const std::string& piece : in_order) {
        const size_t found = out.find(piece, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << piece << "\n" << out;
        at = found + piece.size();
    }
    EXPECT_EQ(server.stop(), 1);
}

TEST(ServerStartup, FreshSegmentHoldsTheIdentificationAndResetValues)
{
    ServerHarness server;
    ASSERT_TRUE(server.start());
    SegmentAttachment attached(server.shm_file());
    ASSERT_TRUE(attached.attached());
    volatile SharedSegment* segment = &attached.segment();
    const auto* bytes = const_cast<const uint8_t*>(reinterpret_cast<volatile uint8_t*>(segment));
    auto text_at = [&](size_t offset) { return std::string(reinterpret_cast<const char*>(bytes + offset)); };
    EXPECT_EQ(text_at(0), "qo3964_server");
    EXPECT_EQ(text_at(16), "V 1.0.1");
    EXPECT_EQ(text_at(32), "09.06.2009");
    EXPECT_EQ(bytes[112], sizeof(void*) * 8);
    EXPECT_EQ(bytes[113], 2);
    // The record of the line (128 to 415) and the counters (512 to 1023):
    // the settings, the start, nothing counted yet; the reserved bytes zero.
    for (size_t i = 0; i < 1024; ++i) {
        const bool in_text = i < 13 || (i >= 16 && i < 23) || (i >= 32 && i < 42);
        const bool in_record = i >= offsetof(ServerInfoBlock, line) && i < offsetof(ServerInfoBlock, reserved_416);
        const bool counted = (i >= 512 && i < 535) || (i >= 536 && i < 544);
        if (!in_text && !in_record && !counted && i != 112 && i != 113) {
            ASSERT_EQ(bytes[i], 0) << "offset " << i;
        }
    }
    // The record of its line: the server's process, key file and port.
    const LineRecord line = const_cast<const LineRecord&>(segment->info.line);
    EXPECT_EQ(line.server_pid, server.process().pid());
    EXPECT_EQ(std::string(line.key_file) + " " + line.port, server.shm_file() + " " + server.pty().slave_path());
    const volatile ServerCounters& counters = segment->info.counters;
    EXPECT_EQ(counters.layout, COUNTERS_LAYOUT);
    EXPECT_EQ(counters.baud, 9600);
    EXPECT_EQ(counters.zvz_ms, 220);
    EXPECT_EQ(counters.qvz_ms, 2000);
    EXPECT_EQ(counters.tds, 6);
    EXPECT_EQ(counters.tdr, 6);
    EXPECT_EQ(counters.mmode, 0);
    EXPECT_EQ(counters.bcc_mode, 1);
    EXPECT_GT(counters.started_ms, 0u);
    for (size_t block : {1024u, 5232u}) {
        for (size_t i = 0; i < 4208; ++i) {
            const bool timer = i >= 8 && i < 40;
            if (timer) continue;
            const uint8_t expected = (i == 0 || i == 45) ? 255 : 0;
            ASSERT_EQ(bytes[block + i], expected) << "offset " << block + i;
        }
    }
    for (size_t i = 9440; i < 9444; ++i) {
        EXPECT_EQ(bytes[i], 0);
    }
    EXPECT_EQ(server.stop(), 1);
}

TEST(ServerStop, StopOrderFromAnotherProgramMarksAndRemovesTheSegment)
{
    ServerHarness server;
    ASSERT_TRUE(server.start());
    SegmentAttachment attached(server.shm_file());
    ASSERT_TRUE(attached.attached());
    volatile SharedSegment* segment = &attached.segment();
    segment->shutdown_request = 1;
    EXPECT_EQ(server.process().wait_exit(15000), 1);
    EXPECT_TRUE(server.process().out().ends_with(stop_text("got shutdown-command from pikter", true, true, true)));
    // Still attached here: the marks are visible, the key is gone.
    const auto* bytes = const_cast<const uint8_t*>(reinterpret_cast<volatile uint8_t*>(segment));
    EXPECT_EQ(bytes[1024], 156);
    EXPECT_EQ(bytes[1028], 156);
    EXPECT_EQ(bytes[5235], 156);
    EXPECT_EQ(bytes[5236], 156);
    EXPECT_FALSE(segment_exists(server.shm_file()));
    EXPECT_FALSE(file_exists(server.lockfile()));
}

// kill, a service or machine stop (SIGTERM) and a closed terminal (SIGHUP)
// stop the server in order like Ctrl-C; SIGPIPE does not stop it at all.
TEST(ServerStop, SigtermAndSighupStopInOrderSigpipeIsIgnored)
{
    ServerHarness term_server;
    ServerHarness hup_server;
    ASSERT_TRUE(term_server.start()) << term_server.process().out();
    ASSERT_TRUE(hup_server.start()) << hup_server.process().out();
    term_server.process().signal(SIGPIPE);
    term_server.process().signal(SIGTERM);
    hup_server.process().signal(SIGHUP);
    for (ServerHarness* server : {&term_server, &hup_server}) {
        EXPECT_EQ(server->process().wait_exit(15000), 1);
        EXPECT_TRUE(server->process().out().ends_with(stop_text("shutdown initiated by signal", true, true, true)))
            << server->process().out();
        EXPECT_FALSE(segment_exists(server->shm_file()));
        EXPECT_FALSE(file_exists(server->lockfile()));
    }
}

TEST(ServerStop, NegativeStopOrderIsIgnored)
{
    ServerHarness server;
    ASSERT_TRUE(server.start());
    SegmentAttachment attached(server.shm_file());
    ASSERT_TRUE(attached.attached());
    volatile SharedSegment* segment = &attached.segment();
    segment->shutdown_request = -1;
    EXPECT_EQ(server.process().wait_exit(600), -1);
    EXPECT_EQ(server.stop(), 1);
    EXPECT_NE(server.process().out().find("shutdown initiated by signal"), std::string::npos);
}

TEST(ServerLockfile, RunningServerStopsTheStartAndKeepsItsLockfile)
{
    ServerHarness first;
    ASSERT_TRUE(first.start()) << first.process().out();
    const std::string mine = std::to_string(first.process().pid()) + "\n";
    Process second({program_path("qo3964_server"), first.rc_file()});
    EXPECT_EQ(second.wait_exit(10000), 1);
    EXPECT_TRUE(second.out().ends_with(
        stop_text("[4a] a server, attaching this shm,is already running", false, false, false)));
    EXPECT_EQ(read_file(first.lockfile()), mine);
    EXPECT_EQ(first.stop(), 1);
}

// A process that runs but is no qo3964_server (here the test) does not
// hold the lockfile; nor does one that has ended. Neither is signalled.
TEST(ServerLockfile, ProcessThatIsNoServerOrHasEndedIsReplaced)
{
    const pid_t child = ended_process_id();
    for (const pid_t named : {getpid(), child}) {
        ServerHarness server;
        write_file(server.lockfile(), std::to_string(named) + "\n");
        ASSERT_TRUE(server.start()) << server.process().out();
        EXPECT_EQ(read_file(server.lockfile()), std::to_string(server.process().pid()) + "\n");
        EXPECT_EQ(server.stop(), 1);
        EXPECT_FALSE(file_exists(server.lockfile()));
    }
}

// An empty (or otherwise unreadable) file of the server's own account is
// its own, left from an earlier run: it is taken.
TEST(ServerLockfile, EmptyLockfileOfTheOwnAccountIsTaken)
{
    ServerHarness server;
    write_file(server.lockfile(), "");
    ASSERT_TRUE(server.start());
    EXPECT_EQ(read_file(server.lockfile()), std::to_string(server.process().pid()) + "\n");
    EXPECT_EQ(server.stop(), 1);
    EXPECT_FALSE(file_exists(server.lockfile()));
}

TEST(ServerStartupFailure, MissingShmFileUndoesTheLockfile)
{
    ServerHarness server;
    std::remove(server.shm_file().c_str());
    EXPECT_FALSE(server.start(3000));
    EXPECT_EQ(server.process().wait_exit(10000), 1);
    EXPECT_TRUE(server.process().out().ends_with(
        stop_text("[6] invalid ftok: probably no existing SHMNAME file", false, false, true)));
    EXPECT_FALSE(file_exists(server.lockfile()));
}

TEST(ServerStartupFailure, LeftOverSegmentIsNotTakenOver)
{
    ServerHarness server;
    ASSERT_GE(create_segment(server.shm_file()), 0);
    EXPECT_FALSE(server.start(3000));
    EXPECT_EQ(server.process().wait_exit(10000), 1);
    EXPECT_TRUE(server.process().out().ends_with(
        stop_text("[7a] shared memory already or still exists", false, false, true)));
    EXPECT_TRUE(segment_exists(server.shm_file()));
    EXPECT_FALSE(file_exists(server.lockfile()));
}

// Whatever its size: a segment under the key is one the server must not take.
TEST(ServerStartupFailure, SmallerSegmentUnderTheKeyIsInTheWay)
{
    ServerHarness server;
    const int id = create_segment(server.shm_file(), 100);
    ASSERT_GE(id, 0);
    EXPECT_FALSE(server.start(3000));
    EXPECT_EQ(server.process().wait_exit(10000), 1);
    EXPECT_TRUE(server.process().out().ends_with(
        stop_text("[7a] shared memory already or still exists", false, false, true)));
    shmctl(id, IPC_RMID, nullptr);
}

TEST(ServerStartupFailure, MissingPortUndoesSegmentAndLockfile)
{
    TempDir dir;
    const std::string shm = dir.file("x.shm");
    write_file(shm, "");
    write_file(dir.file("qo3964.rc"), "PORT " + dir.file("no-such-tty") + "\nSHMNAME " + shm + "\n");
    Process server({program_path("qo3964_server"), dir.file("qo3964.rc")});
    EXPECT_EQ(server.wait_exit(15000), 1);
    EXPECT_NE(server.out().find("Trying to open " + dir.file("no-such-tty") + " ... "), std::string::npos);
    EXPECT_EQ(server.err().rfind("Cannot open this device.\n", 0), 0u) << server.err();
    // The system's reason on a line of its own, after the console's message.
    EXPECT_NE(server.err().find("<3>qo3964_server: " + dir.file("no-such-tty") + ": No such file or directory\n"),
              std::string::npos)
        << server.err();
    EXPECT_TRUE(server.out().ends_with(
        stop_text("[11] error on initializing the communication port", false, true, true)));
    EXPECT_FALSE(segment_exists(shm));
    EXPECT_FALSE(file_exists(lockfile_for(shm)));
    remove_segment(shm);
}

// SIGINT while start-up is still running: the server is held in start-up by
// a full output pipe, signalled there, and then let go.
TEST(ServerStop, SigintDuringStartupStopsRightAfterStartup)
{
    ServerHarness server;
    int out_pipe[2];
    ASSERT_EQ(pipe(out_pipe), 0);
    fcntl(out_pipe[1], F_SETFL, O_NONBLOCK);
    const std::string filler(1 << 20, 'x');
    while (write(out_pipe[1], filler.data(), filler.size()) > 0) {
    }
    fcntl(out_pipe[1], F_SETFL, 0);
    const std::string binary = program_path("qo3964_server");
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out_pipe[1], 1);
        close(out_pipe[0]);
        execl(binary.c_str(), binary.c_str(), server.rc_file().c_str(), nullptr);
        _exit(127);
    }
    close(out_pipe[1]);
    // Its output cannot go out, so once the segment exists (the handler is
    // installed long before) it is held at its first flush, in start-up.
    bool blocked = false;
    for (int i = 0; i < 1000 && !blocked; ++i) {
        blocked = segment_exists(server.shm_file());
        if (!blocked) usleep(10000);
    }
    if (!blocked) {
        kill(pid, SIGKILL);  // a failed test leaves no server behind
        waitpid(pid, nullptr, 0);
    }
    ASSERT_TRUE(blocked);
    kill(pid, SIGINT);
    std::string out;
    char buffer[65536];
    ssize_t n;
    while ((n = read(out_pipe[0], buffer, sizeof buffer)) > 0) {
        out.append(buffer, static_cast<size_t>(n));
    }
    close(out_pipe[0]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    out = out.substr(out.find_first_not_of('x'));
    EXPECT_NE(out.find(P + " [14] is up and ok ....\n"), std::string::npos) << out;
    EXPECT_TRUE(out.ends_with(stop_text("shutdown initiated by signal", true, true, true))) << out;
    // No pass ran: nothing was written to the partner.
    EXPECT_TRUE(read_until_quiet(server.pty().master(), 50, 200).empty());
}

}  // namespace

// Under a service manager the server says when it is up and when it stops.
TEST(ServerStartup, ReadinessAndStopAreSentToTheServiceManager)
{
    ServerHarness server;
    NotifySocket manager(server.dir());
    bool started = false;
    {
        ScopedEnv notify("NOTIFY_SOCKET", manager.path());
        started = server.start();
    }
    ASSERT_TRUE(started) << server.process().out();
    EXPECT_EQ(manager.next(), "READY=1");
    EXPECT_EQ(server.stop(), 1);
    EXPECT_EQ(manager.next(), "STOPPING=1");
}
