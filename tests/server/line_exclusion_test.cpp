// SPDX-License-Identifier: MIT
// One server per line: per lockfile (its lock), per serial port (its lock
// and TIOCEXCL) and per segment key; and nothing of the server's leaks
// into the programs it starts.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "server_harness.h"
#include "test_segment.h"
#include "test_support.h"
#include "wait_until.h"

namespace {

using namespace qotest;
using namespace std::chrono_literals;

constexpr int START_LIMIT_MS = 15000;
constexpr int PAIRS = 6;

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

std::string descriptor_target(pid_t pid, const std::string& fd)
{
    char target[512] = {};
    const std::string link = "/proc/" + std::to_string(pid) + "/fd/" + fd;
    return readlink(link.c_str(), target, sizeof target - 1) > 0 ? target : "";
}

// The descriptors that a child of the test opened itself (not those it got
// from the test, nor copies of its standard streams) and that are not
// closed on exec: their targets.
std::vector<std::string> inherited_descriptors(pid_t pid)
{
    std::vector<std::string> open;
    const std::string fd_dir = "/proc/" + std::to_string(pid) + "/fd";
    DIR* dir = opendir(fd_dir.c_str());
    if (dir == nullptr) {
        return {"(cannot read " + fd_dir + ")"};
    }
    while (const dirent* entry = readdir(dir)) {
        const std::string fd = entry->d_name;
        const std::string target = descriptor_target(pid, fd);
        const bool standard = target == descriptor_target(pid, "0") || target == descriptor_target(pid, "1") ||
                              target == descriptor_target(pid, "2");
        if (fd == "." || fd == ".." || standard || target == descriptor_target(getpid(), fd)) {
            continue;
        }
        const std::string info = read_file("/proc/" + std::to_string(pid) + "/fdinfo/" + fd);
        const size_t flags = info.find("flags:");
        if (flags == std::string::npos || (std::strtoul(info.c_str() + flags + 6, nullptr, 8) & 02000000) == 0) {
            open.push_back(target);
        }
    }
    closedir(dir);
    return open;
}

// Two servers started on one rc-file at the same moment, several times
// over: one runs, the other stops at the lockfile, and the lockfile stays,
// naming the one that runs.
TEST(LineExclusion, TwoServersStartedAtOnceLeaveOneRunningWithItsLockfile)
{
    struct Pair {
        std::unique_ptr<ServerHarness> line = std::make_unique<ServerHarness>();
        std::vector<std::unique_ptr<Process>> servers;
    };
    std::vector<Pair> pairs(PAIRS);
    for (Pair& pair : pairs) {
        for (int i = 0; i < 2; ++i) {
            pair.servers.push_back(std::make_unique<Process>(
                std::vector<std::string>{program_path("qo3964_server"), pair.line->rc_file()}, pair.line->dir().path()));
        }
    }
    for (Pair& pair : pairs) {
        Process* winner = nullptr;
        Process* loser = nullptr;
        ASSERT_TRUE(wait_until(
            [&] {
                for (int i = 0; i < 2; ++i) {
                    if (pair.servers[i]->out().find("[14] is up and ok") != std::string::npos) {
                        winner = pair.servers[i].get();
                        loser = pair.servers[1 - i].get();
                    }
                }
                return winner != nullptr;
            },
            std::chrono::milliseconds(START_LIMIT_MS)));
        EXPECT_EQ(loser->wait_exit(START_LIMIT_MS), 1);
        EXPECT_TRUE(contains(loser->out(), "[4a] a server, attaching this shm,is already running")) << loser->out();
        EXPECT_TRUE(winner->running());
        EXPECT_EQ(read_file(pair.line->lockfile()), std::to_string(winner->pid()) + "\n");
    }
}

// A second server, for another segment, on the port of a running one: the
// port is refused as an open failure, with the holder named in the log.
TEST(LineExclusion, SecondServerOnAHeldPortIsRefused)
{
    ServerHarness first;
    ASSERT_TRUE(first.start(START_LIMIT_MS)) << first.process().out();
    const std::string port = first.pty().slave_path();
    ServerHarness second("PORT " + port + "\n");
    EXPECT_FALSE(second.start(3000));
    EXPECT_EQ(second.process().wait_exit(START_LIMIT_MS), 1);
    const std::string err = second.process().err();
    EXPECT_EQ(err.rfind("Cannot open this device.\n", 0), 0u) << err;
    EXPECT_TRUE(contains(err, "<3>qo3964_server: " + port + ": Device or resource busy\n")) << err;
    EXPECT_TRUE(contains(err, "hint: process " + std::to_string(first.process().pid()) + " holds " + port)) << err;
    EXPECT_TRUE(contains(second.process().out(), "[11] error on initializing the communication port"));
    EXPECT_TRUE(first.process().running());

    // What the first one holds is its own: none of it goes to a program it starts.
    EXPECT_EQ(inherited_descriptors(first.process().pid()), std::vector<std::string>{});
}

// A second line whose key file gives the key of a running server's
// segment (here the same file by another name) stops at the segment and is
// told to choose another SHMNAME, not to remove the segment.
TEST(LineExclusion, SecondLineOnTheKeyOfARunningServerIsToldToChooseAnotherShmname)
{
    ServerHarness first;
    ASSERT_TRUE(first.start(START_LIMIT_MS)) << first.process().out();
    const std::string same_file = first.dir().path() + "/./link.shm";
    ServerHarness second("SHMNAME " + same_file + "\n");
    EXPECT_FALSE(second.start(3000));
    EXPECT_EQ(second.process().wait_exit(START_LIMIT_MS), 1);
    EXPECT_TRUE(contains(second.process().out(), "[7a] shared memory already or still exists"));
    const std::string err = second.process().err();
    EXPECT_TRUE(contains(err, "hint: another line uses the key: the running qo3964_server of key file \"" +
                                  first.shm_file() + "\" and port " + first.pty().slave_path() +
                                  "; give this line another SHMNAME"))
        << err;
    EXPECT_FALSE(contains(err, "ipcrm")) << err;
    EXPECT_TRUE(first.process().running());
    EXPECT_TRUE(file_exists(first.lockfile()));
}

}  // namespace
