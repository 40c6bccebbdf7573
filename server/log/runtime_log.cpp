// SPDX-License-Identifier: MIT
#include "runtime_log.h"

#include <array>
#include <cstdarg>
#include <cstdio>

#include "console_output.h"
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

// The changes of one alternating state: a few are written per window, the
// rest held back with the latest of them.
struct ChangeWindow {
    const char* kind = nullptr;
    DeadlineTimer window{};
    DeadlineTimer quiet{};  // since the latest change
    int written = 0;        // lines written in the current window
    int held = 0;           // changes held back since the last line
    LogPriority latest_priority = LOG_PRI_INFO;
    char latest[400] = "";
};

constexpr std::size_t CHANGE_ROWS = 4;
std::array<ChangeWindow, CHANGE_ROWS> changes{};

template <typename Row, std::size_t N>
Row& row_for(std::array<Row, N>& rows, const char* kind)
{
    for (Row& row : rows) {
        if (row.kind == kind) {
            return row;
        }
        if (row.kind == nullptr) {
            row.kind = kind;
            timer_start(&row.window, LOG_WINDOW_MS);
            return row;
        }
    }
    return rows.back();
}

// Starts a new window when the current one is over.
template <typename Row>
bool roll_window(Row& row)
{
    if (timer_read(&row.window) > 0) {
        return false;
    }
    timer_start(&row.window, LOG_WINDOW_MS);
    row.written = 0;
    return true;
}

// True when a line of this kind may be written now.
bool admit(KindWindow& row)
{
    roll_window(row);
    if (row.written >= LOG_BURST) {
        row.suppressed += 1;
        return false;
    }
    row.written += 1;
    return true;
}

void write_text(LogPriority priority, const char* text, int held_back, const char* held_as)
{
    char line[640];
    int length = 0;
    if (held_back > 0) {
        length = std::snprintf(line, sizeof line, "<%d>qo3964_server: %s (%d more %s)\n", static_cast<int>(priority),
                               text, held_back, held_as);
    } else {
        length = std::snprintf(line, sizeof line, "<%d>qo3964_server: %s\n", static_cast<int>(priority), text);
    }
    if (length >= static_cast<int>(sizeof line)) {
        length = sizeof line - 1;
        line[length - 1] = '\n';
    }
    console_write(CONSOLE_ERR, line, static_cast<size_t>(length));
}

void write_line(LogPriority priority, KindWindow& row, const char* format, va_list args)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    write_text(priority, text, row.suppressed, "like it held back");
    row.suppressed = 0;
}

// The line that ends a run of held-back changes: how many, and the latest.
void write_held(ChangeWindow& row)
{
    char text[512];
    std::snprintf(text, sizeof text, "%s flapping: %d change%s held back; now: %s", row.kind, row.held,
                  row.held == 1 ? "" : "s", row.latest);
    write_text(row.latest_priority, text, 0, "");
    row.held = 0;
    row.written += 1;
}

}  // namespace

void log_event(LogPriority priority, const char* kind, const char* format, ...)
{
    if (priority > runtime_log_level) {
        return;
    }
    KindWindow& row = row_for(kinds, kind);
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
    ChangeWindow& row = row_for(changes, kind);
    timer_start(&row.quiet, CHANGE_QUIET_MS);
    if (roll_window(row) && row.held > 0) {
        write_held(row);
    }
    va_list args;
    va_start(args, format);
    if (row.held == 0 && row.written < CHANGE_BURST) {
        std::vsnprintf(row.latest, sizeof row.latest, format, args);
        write_text(priority, row.latest, 0, "");
        row.written += 1;
    } else {
        std::vsnprintf(row.latest, sizeof row.latest, format, args);
        row.latest_priority = priority;
        row.held += 1;
    }
    va_end(args);
}

void runtime_log_tick()
{
    for (ChangeWindow& row : changes) {
        if (row.held == 0) {
            continue;
        }
        // At most one line besides the burst while the state keeps still;
        // the end of the window writes what is held in any case.
        const bool window_over = roll_window(row);
        if (window_over || (timer_read(&row.quiet) == 0 && row.written <= CHANGE_BURST)) {
            write_held(row);
        }
    }
}

void runtime_log_settle()
{
    for (ChangeWindow& row : changes) {
        if (row.held > 0) {
            write_held(row);
        }
    }
}

void runtime_log_reset()
{
    kinds = {};
    changes = {};
}

}  // namespace qo3964
