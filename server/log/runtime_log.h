// SPDX-License-Identifier: MIT
// The server's runtime log: what happens on the link after start-up.
//
// One line per event on standard error (written through console_output,
// so that a reader that takes nothing never holds the link), led by the priority prefix that
// journald and sd-daemon(3) read ("<3>" error, "<4>" warning, "<5>" notice,
// "<6>" info, "<7>" debug), so the journal files each line under its
// priority while the console texts of start-up and shutdown stay on
// standard output as they are.
//
// Each event kind is rate-limited on its own: a noisy line cannot flood the
// journal, and one noisy kind does not hide the others. What was held back
// is counted and named on the next line of that kind that gets through.
#pragma once

#include <cstdint>

namespace qo3964 {

enum LogPriority : int {
    LOG_PRI_ERR = 3,
    LOG_PRI_WARNING = 4,
    LOG_PRI_NOTICE = 5,
    LOG_PRI_INFO = 6,
    LOG_PRI_DEBUG = 7,
};

// Lines above this priority are not written (default: info; the server
// raises it to debug when its DEBUG level is above 0).
extern int runtime_log_level;

// Lines of one kind that get through per window, and the window.
inline constexpr int LOG_BURST = 10;
inline constexpr int32_t LOG_WINDOW_MS = 60000;

// Writes one event. `kind` names the event (a string literal: its address
// is the rate limiter's key); the text is a printf format.
void log_event(LogPriority priority, const char* kind, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Writes one change of a state that alternates (port lost / back, partner
// silent / answering). A state that flaps is not written at every change:
// each kind writes at most CHANGE_BURST changes per window; further ones
// are held back, and runtime_log_tick writes one line that says how many
// there were and the latest of them, once the window is over or the state
// has kept still for CHANGE_QUIET_MS. So the last line of a kind always
// tells the state as it stands, soon after it settled.
void log_change(LogPriority priority, const char* kind, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

inline constexpr int CHANGE_BURST = 4;
inline constexpr int32_t CHANGE_QUIET_MS = 10000;

// Called by the main loop on every pass: writes the lines of flapping
// states that are due. Cheap when there are none.
void runtime_log_tick();
// Writes every held-back change at once (the stop).
void runtime_log_settle();

// Forgets every kind's counts (tests).
void runtime_log_reset();

}  // namespace qo3964
