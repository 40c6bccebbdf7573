// SPDX-License-Identifier: MIT
#include "process_identity.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace qo3964 {

namespace {

constexpr uint64_t LOW_32 = 0xFFFFFFFFu;
// /proc/<pid>/stat after the name: the state is the first field, the
// start time the twentieth.
constexpr int START_FIELD = 19;

struct ProcessLook {
    bool readable = false;
    char state = 0;
    uint64_t start_ticks = 0;
};

ProcessLook look_at(pid_t pid)
{
    ProcessLook look;
    // The main thread's own file: the process's start, also where an
    // emulator (qemu-user) shows a process a /proc/<pid>/stat of its own.
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/task/%d/stat", static_cast<int>(pid), static_cast<int>(pid));
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return look;
    }
    char text[512];
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    text[n > 0 ? n : 0] = '\0';
    // "pid (name) S ...": the name may hold blanks and parentheses itself,
    // so the fields follow the last ')'.
    const char* field = std::strrchr(text, ')');
    if (field == nullptr || field[1] != ' ') {
        return look;
    }
    field += 2;
    look.state = *field;
    for (int i = 0; i < START_FIELD && field != nullptr; ++i) {
        field = std::strchr(field, ' ');
        field = field != nullptr ? field + 1 : nullptr;
    }
    if (field == nullptr) {
        return look;
    }
    look.start_ticks = std::strtoull(field, nullptr, 10);
    look.readable = true;
    return look;
}

bool ended(char state)
{
    return state == 'Z' || state == 'X' || state == 'x';
}

// The process exists (also when it belongs to another account).
bool exists(pid_t pid)
{
    return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

// Alive, and with a start time whose bits under `mask` are `start` (0:
// not compared).
bool alive(pid_t pid, uint64_t start, uint64_t mask)
{
    if (!exists(pid)) {
        return false;
    }
    const ProcessLook look = look_at(pid);
    if (!look.readable) {
        return true;
    }
    return !ended(look.state) && (start == 0 || (look.start_ticks & mask) == start);
}

// The start time of a running process; 0 when it has ended, is a zombie,
// or cannot be looked at (no /proc).
uint64_t process_start_ticks(pid_t pid)
{
    const ProcessLook look = look_at(pid);
    return look.readable && !ended(look.state) ? look.start_ticks : 0;
}

}  // namespace

uint64_t own_start_ticks()
{
    // Looked up again in a child made by fork(), which has its own.
    static std::atomic<pid_t> looked_up_for{0};
    static std::atomic<uint64_t> start{0};
    const pid_t self = getpid();
    if (looked_up_for.load(std::memory_order_acquire) != self) {
        start.store(process_start_ticks(self), std::memory_order_relaxed);
        looked_up_for.store(self, std::memory_order_release);
    }
    return start.load(std::memory_order_relaxed);
}

bool process_alive(pid_t pid, uint64_t start_ticks)
{
    return alive(pid, start_ticks, ~uint64_t{0});
}

uint64_t own_holder_id()
{
    return (own_start_ticks() & LOW_32) << 32 | static_cast<uint32_t>(getpid());
}

pid_t holder_pid(uint64_t holder)
{
    return static_cast<pid_t>(holder & LOW_32);
}

bool holder_alive(uint64_t holder)
{
    return alive(holder_pid(holder), holder >> 32, LOW_32);
}

}  // namespace qo3964
