// SPDX-License-Identifier: MIT
#include "server_under_test.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/ipc.h>
#include <sys/prctl.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "scratch_dir.h"
#include "server_lockfile.h"
#include "shared_segment.h"

namespace qobench {

namespace {

constexpr auto LOOK_INTERVAL = std::chrono::milliseconds(5);

}  // namespace

ServerUnderTest::ServerUnderTest(std::string program, std::string rc_file, std::string shm_file, std::string output_file)
    : program_(std::move(program)),
      rc_file_(std::move(rc_file)),
      shm_file_(std::move(shm_file)),
      output_file_(std::move(output_file))
{
}

ServerUnderTest::~ServerUnderTest()
{
    if (!reaped_) {
        stop(15000);
    }
    if (killed_) {
        remove_leftovers();
    }
}

std::string ServerUnderTest::lockfile() const
{
    std::string path(shm_file_.size() + sizeof "/tmp/qo_" + sizeof "_A", '\0');
    qo3964::lockfile_path_for(shm_file_.c_str(), path.data(), path.size());
    path.resize(std::strlen(path.c_str()));
    return path;
}

std::string ServerUnderTest::output() const
{
    return read_text_file(output_file_);
}

bool ServerUnderTest::start(int timeout_ms, std::string& error)
{
    if (access(program_.c_str(), X_OK) != 0) {
        error = "no server program at " + program_ + " (see --server)";
        return false;
    }
    const int out = open(output_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        error = "cannot create " + output_file_;
        return false;
    }
    std::vector<char*> argv{program_.data(), rc_file_.data(), nullptr};
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ < 0) {
        close(out);
        error = "cannot fork";
        return false;
    }
    if (pid_ == 0) {
        // Should the benchmark die, the server still stops in order.
        prctl(PR_SET_PDEATHSIG, SIGINT);
        if (getppid() != parent) {
            _exit(127);
        }
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out);
    reaped_ = false;

    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < end) {
        if (output().find("[14] is up and ok") != std::string::npos) {
            return true;
        }
        if (!running()) {
            error = "the server ended during start-up:\n" + output();
            return false;
        }
        std::this_thread::sleep_for(LOOK_INTERVAL);
    }
    error = "the server did not come up within " + std::to_string(timeout_ms) + " ms:\n" + output();
    return false;
}

bool ServerUnderTest::running()
{
    if (reaped_) {
        return false;
    }
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_ || (done < 0 && errno == ECHILD)) {
        reaped_ = true;
        return false;
    }
    return true;
}

bool ServerUnderTest::wait_exit(int timeout_ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (running()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(LOOK_INTERVAL);
    }
    return true;
}

bool ServerUnderTest::stop(int timeout_ms)
{
    if (!running()) {
        return true;
    }
    kill(pid_, SIGINT);
    if (wait_exit(timeout_ms)) {
        return true;
    }
    kill(pid_, SIGKILL);
    killed_ = true;
    wait_exit(timeout_ms);
    return false;
}

// A server that was killed leaves its segment and lockfile behind. Only
// then are they removed: the key of a fresh SHMNAME file may collide with
// that of another program's segment, which must stay.
void ServerUnderTest::remove_leftovers() const
{
    const key_t key = ftok(shm_file_.c_str(), qo3964::SEGMENT_PROJECT_ID);
    if (key != static_cast<key_t>(-1)) {
        const int id = shmget(key, 0, 0);
        if (id >= 0) {
            shmctl(id, IPC_RMID, nullptr);
        }
    }
    std::remove(lockfile().c_str());
}

}  // namespace qobench
