// SPDX-License-Identifier: MIT
#include "runtime_log.h"

#include <array>
#include <cstdarg>
#include <cstdio>

#include "deadline_timer.h"

namespace qo3964 {

int runtime_log_level = LOG_PRI_INFO;

namespace {

// One rate window per event kind. The server has a few dozen kinds; a kind
// beyond the table shares the last row, so it is limited all the same.
struct KindWindow {
    const char* kind = nullptr;
    DeadlineTimer window{};
    int written = 0;     // lines written in the current window
    int suppressed = 0;  // lines held back since the last one written
};

constexpr std::size_t KIND_ROWS = 48;
std::array<KindWindow, KIND_ROWS> kinds{};

KindWindow& row_for(const char* kind)
{
    for (KindWindow& row : kinds) {
        if (row.kind == kind) {
            return row;
        }
        if (row.kind == nullptr) {
            row.kind = kind;
            timer_start(&row.window, LOG_WINDOW_MS);
            return row;
        }
    }
    return kinds.back();
}

// True when a line of this kind may be written now.
bool admit(KindWindow& row)
{
    if (timer_read(&row.window) == 0) {
        timer_start(&row.window, LOG_WINDOW_MS);
        row.written = 0;
    }
    if (row.written >= LOG_BURST) {
        row.suppressed += 1;
        return false;
    }
    row.written += 1;
    return true;
}

void write_line(LogPriority priority, KindWindow& row, const char* format, va_list args)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    if (row.suppressed > 0) {
        std::fprintf(stderr, "<%d>qo3964_server: %s (%d more like it held back)\n", static_cast<int>(priority), text,
                     row.suppressed);
        row.suppressed = 0;
    } else {
        std::fprintf(stderr, "<%d>qo3964_server: %s\n", static_cast<int>(priority), text);
    }
    std::fflush(stderr);
}

}  // namespace

void log_event(LogPriority priority, const char* kind, const char* format, ...)
{
    if (priority > runtime_log_level) {
        return;
    }
    KindWindow& row = row_for(kind);
    if (!admit(row)) {
        return;
    }
    va_list args;
    va_start(args, format);
    write_line(priority, row, format, args);
    va_end(args);
}

void log_change(LogPriority priority, const char* kind, const char* format, ...)
{
    if (priority > runtime_log_level) {
        return;
    }
    KindWindow& row = row_for(kind);
    // Counted in the kind's window all the same, so that its other lines
    // keep their limit, but never held back.
    if (!admit(row)) {
        row.suppressed -= 1;
    }
    va_list args;
    va_start(args, format);
    write_line(priority, row, format, args);
    va_end(args);
}

void runtime_log_reset()
{
    kinds = {};
}

}  // namespace qo3964
