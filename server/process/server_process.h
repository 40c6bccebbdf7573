// SPDX-License-Identifier: MIT
// The server process's own state: why it stops, what its shutdown has to
// undo, and the orderly shutdown itself.
#pragma once

#include <csignal>

#include "server_lockfile.h"

namespace qo3964 {

struct SerialLine;

enum StopReason : int {
    STOP_NONE = 0,
    STOP_ORDER = 1,   // a positive shutdown_request was seen
    STOP_SIGNAL = 2,  // SIGINT, SIGTERM or SIGHUP arrived
};

// Written by the stop signals' handler, read before every pass of the main
// loop.
extern volatile std::sig_atomic_t stop_reason;

extern char rc_path[512];
extern char lockfile_path[600];
extern bool lockfile_held;  // delete the lockfile at shutdown
extern LockfileHold lockfile_hold;  // the lock on it, held for the server's life
extern bool segment_ready;  // remove the segment at shutdown
extern bool port_ready;     // restore the serial port at shutdown
extern SerialLine* port_line;  // the line whose port that is
// Written to by the stop signals' handler, so that the loop's wait ends
// at once (-1 until the loop has one).
extern int server_wake_fd;
extern bool start_done;     // start-up got to "[14] is up and ok"

// SIGINT, SIGTERM (kill, a service or machine stop) and SIGHUP (a closed
// terminal) all stop the server in order; SIGPIPE is ignored. Installed
// first thing, for the whole run.
extern "C" void on_stop_signal(int signal_number);
void install_signal_handlers();

// The one orderly stop: undoes what was done, prints ENDED, exits with 1.
[[noreturn]] void server_shutdown(const char* reason);

// A line that explains the coming stop (the system's error text, a hint),
// written to standard error with its priority right after the reason, so
// that the console texts on standard output stay as they are. At most a
// few are kept; `priority` is a runtime-log priority.
void add_stop_detail(int priority, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Writes the details noted so far (and forgets them).
void report_stop_details();

// What the service manager is told of a failed start besides the reason
// text: `status` in its place when not null (a reason without its step
// number), and the system's error number when not 0.
void note_stop_cause(const char* status, int error);

}  // namespace qo3964
