// SPDX-License-Identifier: MIT
// qo3964_server under a service manager (the notify protocol on a socket of
// the test's, as systemd would hold it): a failed start says why and is an
// error entry of the journal, and the watchdog is fed only while the main
// loop turns.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <functional>

#include "notify_socket.h"
#include "server_harness.h"
#include "test_segment.h"

namespace {

using namespace qotest;

struct FailedStart {
    const char* name;
    std::function<void(ServerHarness&)> spoil;
    std::string reason;  // the console's reason text
    std::string status;  // STATUS= for the manager
    int error;           // ERRNO=, 0 for none
};

TEST(ServiceManager, AFailedStartSaysWhyAndIsAnErrorEntryOfTheJournal)
{
    const std::vector<FailedStart> rows{
        {"no rc-file", [](ServerHarness& s) { std::remove(s.rc_file().c_str()); }, "no configuration file",
         "[3] no configuration file", ENOENT},
        {"a refused line", [](ServerHarness& s) { write_file(s.rc_file(), read_file(s.rc_file()) + "BAUD 300\n"); },
         "[4] error in configuration file", "[4] error in configuration file", 0},
        {"a left-over segment", [](ServerHarness& s) { create_segment(s.shm_file()); },
         "[7a] shared memory already or still exists", "[7a] shared memory already or still exists", 0},
        {"no port", [](ServerHarness& s) { write_file(s.rc_file(), read_file(s.rc_file()) + "PORT /dev/qo3964-none\n"); },
         "[11] error on initializing the communication port", "[11] error on initializing the communication port",
         ENOENT},
    };
    for (const FailedStart& row : rows) {
        SCOPED_TRACE(row.name);
        ServerHarness server;
        row.spoil(server);
        NotifySocket manager(server.dir());
        ScopedEnv notify("NOTIFY_SOCKET", manager.path());
        // As systemd starts it: standard output is the journal's stream.
        Process started({"/bin/sh", "-c", "JOURNAL_STREAM=$(stat -L -c %d:%i /proc/$$/fd/1) exec \"$0\" \"$1\"",
                         program_path("qo3964_server"), server.rc_file()},
                        server.dir().path());
        EXPECT_EQ(started.wait_exit(15000), 1);
        const std::string errno_line = row.error != 0 ? "\nERRNO=" + std::to_string(row.error) : "";
        EXPECT_EQ(manager.next(), "STATUS=" + row.status + errno_line);
        EXPECT_EQ(manager.next(), "STOPPING=1");
        EXPECT_NE(started.out().find("\n<3>++++++ qo3964_server: " + row.reason + "\n"), std::string::npos)
            << started.out();
        remove_segment(server.shm_file());
    }
}

// A pass of the loop never waits; the loop waits at most 100 ms between
// passes, and a second is allowed for a loaded machine: the interval must
// cover two such spans, so the server asks for 2.2 s.
TEST(ServiceManager, TheWatchdogIsFedOnlyWhileTheLoopTurns)
{
    constexpr int INTERVAL_MS = 2200;
    ServerHarness server("ZVZ 50\nQVZ 200\n");
    NotifySocket manager(server.dir());
    bool started = false;
    {
        ScopedEnv notify("NOTIFY_SOCKET", manager.path());
        ScopedEnv watchdog("WATCHDOG_USEC", "1000000");
        started = server.start();
    }
    ASSERT_TRUE(started) << server.process().out();
    EXPECT_EQ(manager.next(), "READY=1");
    EXPECT_EQ(manager.next(), "WATCHDOG_USEC=" + std::to_string(INTERVAL_MS * 1000));
    EXPECT_EQ(manager.next(), "WATCHDOG=1");
    EXPECT_EQ(manager.next(INTERVAL_MS), "WATCHDOG=1");

    // A loop that does not turn feeds nothing; a ping sent just before the
    // stop may still be on its way.
    server.process().signal(SIGSTOP);
    const std::string in_flight = manager.next(100);
    EXPECT_TRUE(in_flight == "WATCHDOG=1" || in_flight == "(nothing)") << in_flight;
    EXPECT_EQ(manager.next(INTERVAL_MS), "(nothing)");
    server.process().signal(SIGCONT);
    EXPECT_EQ(manager.next(INTERVAL_MS), "WATCHDOG=1");
    EXPECT_EQ(server.stop(), 1);
}

}  // namespace
