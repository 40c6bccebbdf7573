// SPDX-License-Identifier: MIT
#include "server_process.h"

#include <array>
#include <cerrno>
#include <cstdarg>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <sys/stat.h>
#include <unistd.h>

#include "console_output.h"
#include "line_trace.h"
#include "runtime_log.h"
#include "service_notify.h"

#include "segment_owner.h"
#include "serial_line.h"
#include "server_config.h"

namespace qo3964 {

volatile std::sig_atomic_t stop_reason = STOP_NONE;
char rc_path[512] = "./qo3964.rc";
char lockfile_path[600] = "";
bool lockfile_held = false;
LockfileHold lockfile_hold{};
bool segment_ready = false;
bool port_ready = false;
SerialLine* port_line = nullptr;
int server_wake_fd = -1;
bool start_done = false;

// Only sets the flag and ends the loop's wait: the loop notices it and
// stops in order; nothing else is safe inside a signal handler.
extern "C" void on_stop_signal(int)
{
    stop_reason = STOP_SIGNAL;
    if (server_wake_fd >= 0) {
        const int saved = errno;
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(server_wake_fd, &one, sizeof one);
        errno = saved;
    }
}

void install_signal_handlers()
{
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    // As signal() installs a handler: an interrupted write of the console
    // messages goes on.
    action.sa_flags = SA_RESTART;
    action.sa_handler = on_stop_signal;
    for (const int stop_signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(stop_signal, &action, nullptr);
    }
    // A vanished reader of the console or the log must not end the server.
    action.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &action, nullptr);
}

namespace {

// A slow reader still gets the stop's texts; one that takes nothing does
// not hold the stop for longer than the pause.
void pause_a_second()
{
    console_settle(1000);
    sleep(1);
}

const char* stop_status = nullptr;
int stop_errno = 0;

struct StopDetail {
    int priority;
    char text[320];
};
std::array<StopDetail, 4> stop_details{};
std::size_t stop_detail_count = 0;

// True when standard output and standard error are one file (a console,
// or 2>&1): the reason's line is then ended before the details.
bool one_stream()
{
    struct stat out {};
    struct stat err {};
    return fstat(STDOUT_FILENO, &out) == 0 && fstat(STDERR_FILENO, &err) == 0 && out.st_dev == err.st_dev &&
           out.st_ino == err.st_ino;
}

}  // namespace

void report_stop_details()
{
    if (stop_detail_count == 0) {
        return;
    }
    std::fflush(stdout);
    if (one_stream()) {
        console_write(CONSOLE_ERR, "\n", 1);
    }
    for (std::size_t i = 0; i < stop_detail_count; ++i) {
        log_event(static_cast<LogPriority>(stop_details[i].priority), "start-up failure", "%s", stop_details[i].text);
    }
    stop_detail_count = 0;
}

void note_stop_cause(const char* status, int error)
{
    stop_status = status;
    stop_errno = error;
}

void add_stop_detail(int priority, const char* format, ...)
{
    if (stop_detail_count == stop_details.size()) {
        return;
    }
    StopDetail& detail = stop_details[stop_detail_count++];
    detail.priority = priority;
    va_list args;
    va_start(args, format);
    std::vsnprintf(detail.text, sizeof detail.text, format, args);
    va_end(args);
}

void server_shutdown(const char* reason)
{
    link_settings.debug_level = 1;
    // Changes of the port or the partner held back: the last lines tell
    // how they stand.
    runtime_log_settle();
    trace_close();
    // Under the journal the reason of a failed start is an error entry.
    const bool failed_start = !start_done;
    std::printf("\n%s++++++ qo3964_server: %s", failed_start && console_is_journal(CONSOLE_OUT) ? "<3>" : "", reason);
    report_stop_details();
    if (failed_start) {
        notify_start_failed(stop_status != nullptr ? stop_status : reason, stop_errno);
    }
    notify_service("STOPPING=1");
    std::printf("\n++++++ qo3964_server: -> shutdown started");
    pause_a_second();
    if (port_ready && port_line != nullptr) {
        serial_restore(*port_line);
        std::printf("\n++++++ qo3964_server: restored old port definition ...");
        pause_a_second();
        port_ready = false;
    }
    if (segment_ready) {
        std::printf("\n++++++ qo3964_server: destroy shared memory ...");
        pause_a_second();
        segment_remove();
        segment_ready = false;
    }
    if (lockfile_held) {
        lockfile_held = false;
        // Only while the file is still the one this server made and locked.
        if (lockfile_release(lockfile_path, lockfile_hold)) {
            std::printf("\n++++++ qo3964_server: delete lockfile ...");
        } else {
            log_event(LOG_PRI_WARNING, "lockfile", "%s is no longer this server's: left alone", lockfile_path);
        }
    }
    std::printf("\n++++++ qo3964_server: ENDED ++++++\n");
    pause_a_second();
    std::exit(1);
}

}  // namespace qo3964
