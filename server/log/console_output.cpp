// SPDX-License-Identifier: MIT
#include "console_output.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "deadline_timer.h"

namespace qo3964 {

namespace {

enum class WriteMode {
    waiting,    // before the loop: a plain write that may block
    own_flags,  // a description of our own with O_NONBLOCK
    dont_wait,  // a socket: send with MSG_DONTWAIT
    ask_first,  // no description of our own: write only when poll says so
};

enum class Journal { unknown, yes, no };

struct Stream {
    int fd;
    const char* name;  // for the note on dropped writes
    WriteMode mode = WriteMode::waiting;
    Journal journal = Journal::unknown;
    // The rest of a line the reader took only in part.
    std::array<char, 4096> kept{};
    size_t kept_length = 0;
    uint64_t dropped = 0;         // since the start
    uint64_t dropped_unsaid = 0;  // since the last note
};

std::array<Stream, 2> streams{{{STDOUT_FILENO, "standard output"}, {STDERR_FILENO, "the runtime log"}}};

Stream& stream_of(ConsoleStream which)
{
    return streams[which == CONSOLE_OUT ? 0 : 1];
}

// A new description of the same pipe, FIFO or terminal, with O_NONBLOCK,
// put in the place of the old one.
bool own_description(int fd)
{
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0) {
        return false;
    }
    char path[32];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    const int reopened = open(path, O_WRONLY | O_NONBLOCK | O_NOCTTY | (flags & O_APPEND));
    if (reopened < 0) {
        return false;
    }
    const bool placed = dup2(reopened, fd) == fd;
    close(reopened);
    return placed;
}

WriteMode mode_for(int fd)
{
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        return WriteMode::waiting;  // closed: writes fail at once
    }
    if (S_ISSOCK(info.st_mode)) {
        return WriteMode::dont_wait;
    }
    if (S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode)) {
        return own_description(fd) ? WriteMode::own_flags : WriteMode::ask_first;
    }
    return WriteMode::waiting;  // a regular file
}

// One write that does not wait (after console_stop_waiting): the count
// taken, or -1 with errno.
ssize_t write_now(const Stream& s, const char* text, size_t length)
{
    switch (s.mode) {
    case WriteMode::dont_wait:
        return send(s.fd, text, length, MSG_DONTWAIT | MSG_NOSIGNAL);
    case WriteMode::ask_first: {
        // A pipe that says it has room takes a write of up to PIPE_BUF whole.
        pollfd ready{s.fd, POLLOUT, 0};
        if (poll(&ready, 1, 0) != 1 || (ready.revents & POLLOUT) == 0) {
            errno = EAGAIN;
            return -1;
        }
        return write(s.fd, text, length);
    }
    case WriteMode::own_flags:
        return write(s.fd, text, length);
    case WriteMode::waiting:
        break;
    }
    // As a console program writes: all of it, however long that takes.
    size_t done = 0;
    while (done < length) {
        const ssize_t n = write(s.fd, text + done, length - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return done > 0 ? static_cast<ssize_t>(done) : -1;
        }
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

// Writes what was kept; true when nothing is kept any more.
bool write_kept(Stream& s)
{
    while (s.kept_length > 0) {
        const ssize_t n = write_now(s, s.kept.data(), s.kept_length);
        if (n <= 0) {
            return false;
        }
        const auto taken = static_cast<size_t>(n);
        std::memmove(s.kept.data(), s.kept.data() + taken, s.kept_length - taken);
        s.kept_length -= taken;
    }
    return true;
}

// Writes the text, keeping the rest the reader did not take; false when
// none of it went out.
bool write_text(Stream& s, const char* text, size_t length)
{
    if (!write_kept(s)) {
        return false;
    }
    const ssize_t n = write_now(s, text, length);
    if (n <= 0) {
        return length == 0;
    }
    const size_t rest = length - static_cast<size_t>(n);
    const size_t keep = rest < s.kept.size() ? rest : s.kept.size();
    std::memcpy(s.kept.data(), text + n, keep);
    s.kept_length = keep;
    return true;
}

void drop(Stream& s)
{
    s.dropped += 1;
    s.dropped_unsaid += 1;
}

// The runtime log's note on writes dropped while a reader took nothing.
void say_drops(Stream& dropped_from)
{
    if (dropped_from.dropped_unsaid == 0) {
        return;
    }
    char note[200];
    const int length = std::snprintf(note, sizeof note,
                                     "<4>qo3964_server: %llu writes to %s were dropped: its reader took nothing "
                                     "for a while\n",
                                     static_cast<unsigned long long>(dropped_from.dropped_unsaid), dropped_from.name);
    if (write_text(stream_of(CONSOLE_ERR), note, static_cast<size_t>(length))) {
        dropped_from.dropped_unsaid = 0;
    }
}

bool parse_journal_stream(unsigned long long& device, unsigned long long& inode)
{
    const char* value = std::getenv("JOURNAL_STREAM");
    return value != nullptr && std::sscanf(value, "%llu:%llu", &device, &inode) == 2;
}

}  // namespace

void console_stop_waiting()
{
    std::fflush(stdout);
    for (Stream& s : streams) {
        console_is_journal(s.fd == STDOUT_FILENO ? CONSOLE_OUT : CONSOLE_ERR);  // before the reopen
        s.mode = mode_for(s.fd);
    }
}

bool console_write(ConsoleStream which, const char* text, size_t length)
{
    Stream& s = stream_of(which);
    if (which == CONSOLE_OUT) {
        std::fflush(stdout);  // what the console texts left there goes first
    }
    if (!write_text(s, text, length)) {
        drop(s);
        return false;
    }
    for (Stream& each : streams) {
        say_drops(each);
    }
    return true;
}

void console_settle(int32_t limit_ms)
{
    DeadlineTimer limit{};
    timer_start(&limit, limit_ms);
    const auto room_within_limit = [&limit](const Stream& s) {
        pollfd ready{s.fd, POLLOUT, 0};
        return poll(&ready, 1, timer_read(&limit)) == 1 && (ready.revents & POLLOUT) != 0;
    };
    for (Stream& s : streams) {
        if (s.mode == WriteMode::waiting) {
            continue;
        }
        while (!write_kept(s) && room_within_limit(s)) {
        }
        s.kept_length = 0;
    }
    // What the C library holds for standard output: a flush that meets a
    // reader taking nothing drops it.
    if (stream_of(CONSOLE_OUT).mode != WriteMode::waiting) {
        room_within_limit(stream_of(CONSOLE_OUT));
    }
    std::fflush(stdout);
}

bool console_is_journal(ConsoleStream which)
{
    Stream& s = stream_of(which);
    if (s.journal == Journal::unknown) {
        unsigned long long device = 0;
        unsigned long long inode = 0;
        struct stat info {};
        s.journal = parse_journal_stream(device, inode) && fstat(s.fd, &info) == 0 && info.st_dev == device &&
                            info.st_ino == inode
                        ? Journal::yes
                        : Journal::no;
    }
    return s.journal == Journal::yes;
}

uint64_t console_dropped()
{
    return streams[0].dropped + streams[1].dropped;
}

}  // namespace qo3964
