// SPDX-License-Identifier: MIT
// What other accounts may put where the server, qo3964_ctl and the library
// look: the lockfile in /tmp and the rc-file. Nothing there may block them,
// be written or removed by them, or make them trust a process that is not
// a server.
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "second_account.h"
#include "server_harness.h"
#include "shared_segment.h"
#include "test_segment.h"
#include "test_support.h"

namespace {

using namespace qotest;

constexpr int EXIT_LIMIT_MS = 15000;
constexpr int CTL_LIMIT_MS = 10000;

struct Placed {
    const char* what;
    bool needs_account;
    // Puts the thing at `path`; `dir` is the test's own directory.
    std::function<void(const std::string& path, const std::string& dir, uid_t account)> place;
};

const std::vector<Placed> placed_things{
    {"a FIFO", false, [](const std::string& path, const std::string&, uid_t) { mkfifo(path.c_str(), 0666); }},
    {"a directory", false, [](const std::string& path, const std::string&, uid_t) { mkdir(path.c_str(), 0777); }},
    {"a symbolic link", false,
     [](const std::string& path, const std::string& dir, uid_t) {
         write_file(dir + "/precious", "keep me\n");
         ASSERT_EQ(symlink((dir + "/precious").c_str(), path.c_str()), 0);
     }},
    {"a hard link", false,
     [](const std::string& path, const std::string& dir, uid_t) {
         write_file(dir + "/precious", "keep me\n");
         ASSERT_EQ(link((dir + "/precious").c_str(), path.c_str()), 0);
     }},
    {"another account's junk", true,
     [](const std::string& path, const std::string&, uid_t account) {
         write_file(path, "junk");
         ASSERT_EQ(chown(path.c_str(), account, static_cast<gid_t>(-1)), 0);
     }},
    {"another account's file naming an ended process", true,
     [](const std::string& path, const std::string&, uid_t account) {
         write_file(path, std::to_string(ended_process_id()) + "\n");
         ASSERT_EQ(chown(path.c_str(), account, static_cast<gid_t>(-1)), 0);
     }},
};

// What lstat and, for a file, its contents say; equal before and after.
std::string look_at(const std::string& path)
{
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        return "missing";
    }
    std::string seen = std::to_string(info.st_mode) + " " + std::to_string(info.st_uid) + " " +
                       std::to_string(info.st_nlink);
    if (S_ISREG(info.st_mode)) {
        seen += " " + read_file(path);
    }
    return seen;
}

TEST(HostileLockfile, AnythingButTheServersOwnFileStopsTheStartAndIsLeftAsItIs)
{
    const std::optional<SecondAccount> account = second_account();
    for (const Placed& thing : placed_things) {
        SCOPED_TRACE(thing.what);
        if (thing.needs_account && !account) {
            std::printf("skipped %s: %s\n", thing.what, NO_SECOND_ACCOUNT);
            continue;
        }
        ServerHarness server;
        const std::string lockfile = server.lockfile();
        thing.place(lockfile, server.dir().path(), account ? account->uid : 0);
        const std::string before = look_at(lockfile);
        const std::string precious = server.dir().file("precious");
        const std::string precious_before = file_exists(precious) ? read_file(precious) : "";

        Process run({program_path("qo3964_server"), server.rc_file()}, server.dir().path());
        ASSERT_EQ(run.wait_exit(EXIT_LIMIT_MS), 1) << run.out();
        EXPECT_NE(run.out().find("++++++ qo3964_server: [4b] cannot use the lockfile \"" + lockfile + "\": "),
                  std::string::npos)
            << run.out();
        EXPECT_EQ(run.out().find("delete lockfile"), std::string::npos) << run.out();
        EXPECT_TRUE(run.out().ends_with("ENDED ++++++\n"));
        EXPECT_FALSE(segment_exists(server.shm_file()));
        EXPECT_EQ(look_at(lockfile), before);
        if (!precious_before.empty()) {
            EXPECT_EQ(read_file(precious), precious_before);
        }
        std::remove(lockfile.c_str());
        rmdir(lockfile.c_str());
    }
}

// A process that runs but is no qo3964_server is not asked whether it
// lives with a signal that changes it: a stopped one stays stopped.
TEST(HostileLockfile, StoppedProcessThatIsNoServerStaysStopped)
{
    const pid_t child = fork();
    if (child == 0) {
        pause();
        _exit(0);
    }
    kill(child, SIGSTOP);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, WUNTRACED), child);
    ServerHarness server;
    write_file(server.lockfile(), std::to_string(child) + "\n");
    ASSERT_TRUE(server.start()) << server.process().out();
    EXPECT_EQ(read_file(server.lockfile()), std::to_string(server.process().pid()) + "\n");
    EXPECT_EQ(waitpid(child, &status, WCONTINUED | WNOHANG), 0);
    EXPECT_EQ(server.stop(), 1);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}

// qo3964_ctl reads the lockfile of a segment it found: a FIFO there must
// not hold it, nor the stale-segment check that runs it.
TEST(HostileLockfile, CtlDoesNotWaitOnAFifo)
{
    ServerHarness place;
    const int id = create_segment(place.shm_file());
    ASSERT_GE(id, 0);
    ASSERT_EQ(mkfifo(place.lockfile().c_str(), 0666), 0);
    Process status({program_path("qo3964_ctl"), "--rc", place.rc_file(), "status"});
    EXPECT_EQ(status.wait_exit(CTL_LIMIT_MS), 1) << status.err();  // no server runs
    EXPECT_NE(status.out().find("lockfile: " + place.lockfile() + ", missing or without a process ID"),
              std::string::npos)
        << status.out();
    Process stop({program_path("qo3964_ctl"), "--rc", place.rc_file(), "stop", "--timeout", "1"});
    EXPECT_EQ(stop.wait_exit(CTL_LIMIT_MS), 1) << stop.err();
    shmctl(id, IPC_RMID, nullptr);
}

// An rc-file that is a device or a FIFO would never end or never begin.
TEST(HostileRcFile, DeviceOrFifoCountsAsMissing)
{
    TempDir dir;
    const std::string fifo = dir.file("fifo.rc");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
    for (const std::string& rc : {std::string("/dev/zero"), fifo}) {
        SCOPED_TRACE(rc);
        Process server({program_path("qo3964_server"), rc}, dir.path());
        ASSERT_EQ(server.wait_exit(EXIT_LIMIT_MS), 1);
        EXPECT_NE(server.out().find("[3] file \"" + rc + "\"not found"), std::string::npos) << server.out();
        EXPECT_NE(server.err().find(rc + ": not a regular file"), std::string::npos) << server.err();

        Process ctl({program_path("qo3964_ctl"), "--rc", rc, "status"});
        ASSERT_EQ(ctl.wait_exit(CTL_LIMIT_MS), 1);
        EXPECT_NE(ctl.err().find("-51"), std::string::npos) << ctl.err();
    }
}

}  // namespace
