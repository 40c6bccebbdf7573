// SPDX-License-Identifier: MIT
// Helpers shared by the test suite: pseudo-terminal pairs, temporary
// directories, bounded reads and child processes with captured output.
// Every wait has a bound; nothing here sleeps for a fixed time to let
// something happen.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace qotest {

using Bytes = std::vector<uint8_t>;

// A pseudo-terminal pair. The code under test opens `slave_path()` like a
// real port; the test holds the master. The slave is kept open (in raw
// mode, no echo) so that the master never sees a hang-up in between.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    int master() const { return master_fd_; }
    int slave() const { return slave_fd_; }
    const std::string& slave_path() const { return slave_path_; }
    void close_slave();

private:
    int master_fd_ = -1;
    int slave_fd_ = -1;
    std::string slave_path_;
};

// A fresh directory under /tmp, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void write_file(const std::string& path, const std::string& contents);
std::string read_file(const std::string& path);
bool file_exists(const std::string& path);

// Reads up to `count` bytes, waiting at most `timeout_ms` in all.
Bytes read_bytes(int fd, size_t count, int timeout_ms);
// Reads whatever arrives until the line has been quiet for `quiet_ms`
// (or `limit_ms` passed in all).
Bytes read_until_quiet(int fd, int quiet_ms, int limit_ms);
void write_bytes(int fd, const Bytes& bytes);
// Discards what is pending on fd.
void drain(int fd);

std::string hex(const Bytes& bytes);

// The lines of a text, without their line ends.
std::vector<std::string> lines_of(const std::string& text);

// Where a child's standard descriptor goes: the default (standard input
// from /dev/null, output and error captured into files), closed, or a
// descriptor of the test's (any value from 0 on).
inline constexpr int STDIO_DEFAULT = -1;
inline constexpr int STDIO_CLOSED = -2;
struct StdioPlan {
    int in = STDIO_DEFAULT;
    int out = STDIO_DEFAULT;
    int err = STDIO_DEFAULT;
};

// A child process with standard output and error captured into files.
class Process {
public:
    Process(const std::vector<std::string>& argv, const std::string& workdir = "", const StdioPlan& plan = {});
    ~Process();  // kills and reaps the child if it still runs
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return pid_; }
    std::string out() const;  // standard output so far
    std::string err() const;  // standard error so far
    // Waits until standard output contains `text`; false on timeout or exit.
    bool wait_for_output(const std::string& text, int timeout_ms) const;
    // Waits for the exit; returns the exit status, or -1 on timeout,
    // or 128 + signal when the child was killed by a signal.
    int wait_exit(int timeout_ms);
    bool running();
    void signal(int sig) const;

private:
    pid_t pid_ = -1;
    int status_ = -1;
    bool reaped_ = false;
    std::string out_path_;
    std::string err_path_;
    std::string dir_;
};

// Path of a built program, from the build tree (set by CMake).
std::string program_path(const std::string& name);

// The ID of a process of the test's that has ended and been reaped.
pid_t ended_process_id();

// The state letter of a process (R, S, T stopped, Z zombie, ...); 0 when
// there is none.
char process_state(pid_t pid);

// A process that runs `argv` under the free process ID `pid`, as when a
// process gets the ID of one that has ended (clone3 with set_tid, which
// needs root); killed and reaped at the end.
class ProcessWithId {
public:
    ProcessWithId(pid_t pid, const std::vector<std::string>& argv);
    ~ProcessWithId();
    ProcessWithId(const ProcessWithId&) = delete;
    ProcessWithId& operator=(const ProcessWithId&) = delete;
    bool started() const { return started_; }

private:
    pid_t pid_ = -1;
    bool started_ = false;
};

inline constexpr char NO_PID_CHOICE[] = "needs root to start a process under a chosen ID (clone3 with set_tid)";

}  // namespace qotest
