// SPDX-License-Identifier: MIT
#include "line_trace.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "link_counters.h"
#include "protocol_engine.h"
#include "result_codes.h"
#include "runtime_log.h"

namespace qo3964 {

namespace {

constexpr char KIND[] = "trace";
constexpr int32_t RUN_MAX = 8192;  // bytes of one line: a telegram with every DLE doubled
constexpr char HEX_DIGITS[] = "0123456789ABCDEF";

struct ControlName {
    uint8_t byte;
    const char* name;
};

constexpr std::array<ControlName, 4> control_names{{{STX, "STX"}, {ETX, "ETX"}, {DLE, "DLE"}, {NAK, "NAK"}}};

struct LineTrace {
    int fd = -1;
    char path[512] = "";
    char port[512] = "";
    int64_t max_bytes = 0;
    int64_t size = 0;
    int32_t gap_ms = TRACE_GAP_MIN_MS;
    // The run of bytes of one direction not written yet.
    int direction = 0;
    int32_t run_length = 0;
    timespec run_start{};  // time of day of its first byte
    timespec last_byte{};  // monotonic time of its latest byte
    uint8_t run[RUN_MAX];
    // The run is a telegram's block: it began right after the other side's
    // DLE that answered an STX. Any other run that begins with a control
    // character is that character alone: a request or an answer.
    bool block = false;
    bool ended_lone_stx = false;  // the run ended last was one STX
    bool ended_connect = false;   // ... was one DLE that answered it
    int ended_direction = -1;
    uint64_t dropped_unsaid = 0;
};

LineTrace trace;
// One line as written: the time, the direction and the bytes in hex.
char text[64 + 3 * RUN_MAX];

int64_t ms_between(const timespec& from, const timespec& to)
{
    return (to.tv_sec - from.tv_sec) * 1000 + (to.tv_nsec - from.tv_nsec) / 1000000;
}

// "2026-05-04 22:10:01.123" of the local time.
int put_time(char* out, size_t size, const timespec& when)
{
    tm local{};
    localtime_r(&when.tv_sec, &local);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
    const int ms = static_cast<int>((when.tv_nsec / 1000000) % 1000);
    return std::snprintf(out, size, "%s.%03d", date, ms);
}

bool open_file(bool truncate)
{
    trace.fd = open(trace.path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY |
                                    (truncate ? O_TRUNC : 0),
                    0640);
    if (trace.fd < 0) {
        return false;
    }
    struct stat info {};
    if (fstat(trace.fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(trace.fd);
        trace.fd = -1;
        errno = EINVAL;
        return false;
    }
    trace.size = info.st_size;
    return true;
}

void write_line(const char* line, size_t length);

// The first line of a file: what it traces, from when.
void write_header()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    char stamp[40];
    put_time(stamp, sizeof stamp, now);
    char header[700];
    const int length =
        std::snprintf(header, sizeof header, "# qo3964_server trace of %s from %s\n", trace.port, stamp);
    write_line(header, static_cast<size_t>(std::min(length, static_cast<int>(sizeof header) - 1)));
}

// The file is full: it becomes PATH.1 and a new one is begun.
void rotate()
{
    char older[sizeof trace.path + 4];
    std::snprintf(older, sizeof older, "%s.1", trace.path);
    close(trace.fd);
    const bool renamed = std::rename(trace.path, older) == 0;
    if (!open_file(!renamed)) {
        log_event(LOG_PRI_WARNING, KIND, "trace file %s cannot be opened again: %s; the trace stops", trace.path,
                  std::strerror(errno));
        return;
    }
    write_header();
}

// Writes one line whole, or drops it.
void write_line(const char* line, size_t length)
{
    if (trace.fd < 0) {
        return;
    }
    if (trace.max_bytes > 0 && trace.size + static_cast<int64_t>(length) > trace.max_bytes && trace.size > 0) {
        rotate();
        if (trace.fd < 0) {
            return;
        }
    }
    const ssize_t n = write(trace.fd, line, length);
    if (n != static_cast<ssize_t>(length)) {
        if (trace.dropped_unsaid == 0) {
            log_event(LOG_PRI_WARNING, KIND, "trace file %s takes no more lines (%s): dropping them", trace.path,
                      n < 0 ? std::strerror(errno) : "a short write");
        }
        trace.dropped_unsaid += 1;
        count(&ServerCounters::trace_lines_dropped);
        if (n > 0) {
            trace.size += n;
        }
        return;
    }
    trace.size += n;
    if (trace.dropped_unsaid > 0) {
        const uint64_t dropped = trace.dropped_unsaid;
        trace.dropped_unsaid = 0;
        char note[96];
        const int noted = std::snprintf(note, sizeof note, "# %llu lines dropped here\n",
                                        static_cast<unsigned long long>(dropped));
        write_line(note, static_cast<size_t>(noted));
        log_event(LOG_PRI_NOTICE, KIND, "trace file %s takes lines again; %llu were dropped", trace.path,
                  static_cast<unsigned long long>(dropped));
    }
}

const char* direction_word(int direction)
{
    return direction == 0 ? "IN " : "OUT";
}

void end_run()
{
    if (trace.run_length == 0) {
        return;
    }
    int at = put_time(text, sizeof text, trace.run_start);
    at += std::snprintf(text + at, sizeof text - static_cast<size_t>(at), " %s", direction_word(trace.direction));
    for (int32_t i = 0; i < trace.run_length; ++i) {
        text[at++] = ' ';
        text[at++] = HEX_DIGITS[trace.run[i] >> 4];
        text[at++] = HEX_DIGITS[trace.run[i] & 0x0F];
    }
    if (trace.run_length == 1) {
        for (const ControlName& control : control_names) {
            if (control.byte == trace.run[0]) {
                at += std::snprintf(text + at, sizeof text - static_cast<size_t>(at), " %s", control.name);
            }
        }
    }
    text[at++] = '\n';
    const bool lone = trace.run_length == 1 && !trace.block;
    trace.ended_connect = lone && trace.run[0] == DLE && trace.ended_lone_stx &&
                          trace.ended_direction != trace.direction;
    trace.ended_lone_stx = lone && trace.run[0] == STX;
    trace.ended_direction = trace.direction;
    trace.run_length = 0;
    write_line(text, static_cast<size_t>(at));
}

bool lone_control(const LineTrace& t)
{
    return !t.block && t.run_length == 1 && (t.run[0] == STX || t.run[0] == DLE || t.run[0] == NAK);
}

}  // namespace

bool trace_open(const char* path, int64_t max_bytes, int32_t gap_ms, const char* port)
{
    std::snprintf(trace.path, sizeof trace.path, "%s", path);
    std::snprintf(trace.port, sizeof trace.port, "%s", port);
    trace.max_bytes = max_bytes;
    trace.gap_ms = std::max(gap_ms, TRACE_GAP_MIN_MS);
    trace.run_length = 0;
    trace.dropped_unsaid = 0;
    if (!open_file(false)) {
        return false;
    }
    write_header();
    return true;
}

void trace_byte(int direction, uint8_t byte)
{
    if (trace.fd < 0) {
        return;
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (trace.run_length > 0 && (direction != trace.direction || trace.run_length == RUN_MAX ||
                                 ms_between(trace.last_byte, now) > trace.gap_ms || lone_control(trace))) {
        end_run();
    }
    if (trace.run_length == 0) {
        trace.block = trace.ended_connect && trace.ended_direction != direction;
        trace.direction = direction;
        clock_gettime(CLOCK_REALTIME, &trace.run_start);
    }
    trace.run[trace.run_length++] = byte;
    trace.last_byte = now;
}

void trace_line_error(int32_t code, uint8_t byte)
{
    if (trace.fd < 0) {
        return;
    }
    end_run();
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    int at = put_time(text, sizeof text, now);
    if (code == RC_BREAK) {
        at += std::snprintf(text + at, sizeof text - static_cast<size_t>(at), " IN  BREAK\n");
    } else {
        at += std::snprintf(text + at, sizeof text - static_cast<size_t>(at), " IN  %s %c%c\n",
                            code == RC_PARITY ? "PARITY" : "MARKING", HEX_DIGITS[byte >> 4], HEX_DIGITS[byte & 0x0F]);
    }
    write_line(text, static_cast<size_t>(at));
}

void trace_tick()
{
    if (trace.run_length == 0) {
        return;
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (ms_between(trace.last_byte, now) > trace.gap_ms) {
        end_run();
    }
}

void trace_close()
{
    if (trace.fd < 0) {
        return;
    }
    end_run();
    close(trace.fd);
    trace.fd = -1;
}

}  // namespace qo3964
