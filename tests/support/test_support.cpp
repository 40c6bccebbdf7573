// SPDX-License-Identifier: MIT
#include "test_support.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/sched.h>
#include <sys/syscall.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace qotest {

namespace {

int64_t now_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

PtyPair::PtyPair()
{
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    cfsetispeed(&raw, B9600);
    cfsetospeed(&raw, B9600);
    if (openpty(&master_fd_, &slave_fd_, name, &raw, nullptr) != 0) {
        std::perror("openpty");
        std::abort();
    }
    slave_path_ = name;
    int flags = fcntl(master_fd_, F_GETFL);
    fcntl(master_fd_, F_SETFL, flags | O_NONBLOCK);
}

PtyPair::~PtyPair()
{
    close_slave();
    if (master_fd_ >= 0) {
        close(master_fd_);
    }
}

void PtyPair::close_slave()
{
    if (slave_fd_ >= 0) {
        close(slave_fd_);
        slave_fd_ = -1;
    }
}

TempDir::TempDir()
{
    char pattern[] = "/tmp/qo3964_test_XXXXXX";
    char* made = mkdtemp(pattern);
    if (made == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    path_ = made;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void write_file(const std::string& path, const std::string& contents)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << contents;
}

std::string read_file(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

bool file_exists(const std::string& path)
{
    struct stat info{};
    return lstat(path.c_str(), &info) == 0;
}

Bytes read_bytes(int fd, size_t count, int timeout_ms)
{
    Bytes result;
    const int64_t end = now_ms() + timeout_ms;
    while (result.size() < count) {
        const int64_t left = end - now_ms();
        if (left <= 0) {
            break;
        }
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) {
            continue;
        }
        uint8_t buffer[4096];
        const size_t want = std::min(sizeof buffer, count - result.size());
        const ssize_t n = read(fd, buffer, want);
        if (n > 0) {
            result.insert(result.end(), buffer, buffer + n);
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            break;
        }
    }
    return result;
}

Bytes read_until_quiet(int fd, int quiet_ms, int limit_ms)
{
    Bytes result;
    const int64_t end = now_ms() + limit_ms;
    while (now_ms() < end) {
        pollfd p{fd, POLLIN, 0};
        const int wait = static_cast<int>(std::min<int64_t>(quiet_ms, end - now_ms()));
        if (poll(&p, 1, wait) <= 0) {
            break;
        }
        uint8_t buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            result.insert(result.end(), buffer, buffer + n);
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            break;
        }
    }
    return result;
}

void write_bytes(int fd, const Bytes& bytes)
{
    size_t done = 0;
    const int64_t end = now_ms() + 5000;
    while (done < bytes.size() && now_ms() < end) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else {
            pollfd p{fd, POLLOUT, 0};
            poll(&p, 1, 10);
        }
    }
}

void drain(int fd)
{
    read_until_quiet(fd, 0, 100);
}

std::string hex(const Bytes& bytes)
{
    std::string text;
    char cell[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(cell, sizeof cell, "%02X", bytes[i]);
        if (i > 0) {
            text += ' ';
        }
        text += cell;
    }
    return text;
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

Process::Process(const std::vector<std::string>& argv, const std::string& workdir, const StdioPlan& plan)
{
    char pattern[] = "/tmp/qo3964_proc_XXXXXX";
    char* made = mkdtemp(pattern);
    if (made == nullptr) {
        std::abort();
    }
    dir_ = made;
    out_path_ = dir_ + "/stdout";
    err_path_ = dir_ + "/stderr";
    // Everything the child needs is prepared before the fork: a child of a
    // threaded process may only make async-signal-safe calls.
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    const char* out_path = out_path_.c_str();
    const char* err_path = err_path_.c_str();
    const char* work = workdir.empty() ? nullptr : workdir.c_str();
    std::fflush(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        const int out = plan.out == STDIO_DEFAULT ? open(out_path, O_WRONLY | O_CREAT | O_TRUNC, 0644) : plan.out;
        const int err = plan.err == STDIO_DEFAULT ? open(err_path, O_WRONLY | O_CREAT | O_TRUNC, 0644) : plan.err;
        const int in = plan.in == STDIO_DEFAULT ? open("/dev/null", O_RDONLY) : plan.in;
        const int wanted[3] = {in, out, err};
        for (int fd = 0; fd < 3; ++fd) {
            if (wanted[fd] >= 0) {
                dup2(wanted[fd], fd);
            }
        }
        for (int fd = 0; fd < 3; ++fd) {
            if (wanted[fd] == STDIO_CLOSED) {
                close(fd);
            }
        }
        if (work != nullptr && chdir(work) != 0) {
            _exit(126);
        }
        execv(args[0], args.data());
        _exit(127);
    }
}

Process::~Process()
{
    if (!reaped_ && pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::string Process::out() const { return read_file(out_path_); }
std::string Process::err() const { return read_file(err_path_); }

bool Process::wait_for_output(const std::string& text, int timeout_ms) const
{
    const int64_t end = now_ms() + timeout_ms;
    while (now_ms() < end) {
        if (out().find(text) != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return out().find(text) != std::string::npos;
}

int Process::wait_exit(int timeout_ms)
{
    const int64_t end = now_ms() + timeout_ms;
    while (!reaped_) {
        int status = 0;
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            reaped_ = true;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (now_ms() >= end) {
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status_;
}

bool Process::running()
{
    return wait_exit(0) == -1;
}

void Process::signal(int sig) const
{
    if (!reaped_) {
        kill(pid_, sig);
    }
}

std::string program_path(const std::string& name)
{
    return std::string(QO3964_BINARY_DIR) + "/" + name;
}

pid_t ended_process_id()
{
    const pid_t child = fork();
    if (child == 0) {
        _exit(0);
    }
    waitpid(child, nullptr, 0);
    return child;
}

char process_state(pid_t pid)
{
    // "pid (name) S ...": the name may hold blanks and parentheses.
    const std::string text = read_file("/proc/" + std::to_string(pid) + "/stat");
    const size_t name_end = text.rfind(") ");
    return name_end == std::string::npos || name_end + 2 >= text.size() ? 0 : text[name_end + 2];
}

ProcessWithId::ProcessWithId(pid_t pid, const std::vector<std::string>& argv)
{
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    clone_args clone{};
    clone.exit_signal = SIGCHLD;
    clone.set_tid = reinterpret_cast<uintptr_t>(&pid);
    clone.set_tid_size = 1;
    const long child = syscall(SYS_clone3, &clone, sizeof clone);
    if (child == 0) {
        // Only system calls: the test has threads.
        syscall(SYS_execve, args[0], args.data(), environ);
        syscall(SYS_exit, 127);
    }
    pid_ = child > 0 ? static_cast<pid_t>(child) : -1;
    started_ = child == pid;
}

ProcessWithId::~ProcessWithId()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

}  // namespace qotest
