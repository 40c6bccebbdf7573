// SPDX-License-Identifier: MIT
// stop: gives the server the stop order through the segment and waits
// until it has gone: segment removed, process ended.
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "ctl_report.h"
#include "deadline_timer.h"
#include "server_handle.h"
#include "line_record.h"
#include "segment_wake.h"
#include "server_segment.h"

using namespace qo3964;

namespace qoctl {

namespace {

// The server's own stop takes about four seconds of paced messages.
constexpr int32_t POLL_PAUSE_MS = 50;
constexpr int32_t MS_PER_SECOND = 1000;

// What has been seen of the server's going so far.
struct Going {
    bool marked = false;   // it has left its main loop
    bool removed = false;  // its segment is no longer found by the key
    bool ended = false;    // its process has ended (or none was named)

    // The marks are not waited for: a server whose start fails as the order
    // comes removes its segment and ends without ever setting them.
    bool gone() const { return removed && ended; }
};

bool shutdown_marked(const volatile SharedSegment& segment)
{
    return segment.send_job.shutdown_mark == SHUTDOWN_MARK && segment.receive_job.shutdown_mark == SHUTDOWN_MARK;
}

// Whether the server still runs: by the segment's record of its process,
// or, in a segment without one, by the lock of its lockfile.
bool server_running(const SegmentView& view, const KeyFile& key_file)
{
    return line_record_present(view.line()) ? view.server_alive() : lockfile_held_by_server(key_file);
}

// Looks once; reports each step when it is first seen.
void look(const SegmentView& view, const KeyFile& key_file, pid_t pid, Going& going)
{
    if (!going.marked && shutdown_marked(*view.segment())) {
        going.marked = true;
        std::printf("shutdown marks set: the server has left its main loop\n");
    }
    if (!going.removed && view.removed()) {
        going.removed = true;
        std::printf("segment removed\n");
    }
    if (!going.ended && !server_running(view, key_file)) {
        going.ended = true;
        if (pid > 0) {
            std::printf("server process %d has ended\n", static_cast<int>(pid));
        }
    }
}

void report_time_out(const Going& going, pid_t pid, int id, int32_t timeout_s)
{
    char missing[192] = "";
    if (!going.marked) {
        std::strcat(missing, ", no shutdown marks");
    }
    if (!going.removed) {
        std::strcat(missing, ", segment still there");
    }
    if (!going.ended) {
        std::snprintf(missing + std::strlen(missing), sizeof missing - std::strlen(missing),
                      ", process %d still running", static_cast<int>(pid));
    }
    // Nobody answers the order: a server killed without its orderly stop
    // leaves its segment for the operator to remove.
    if (!going.marked && pid == 0) {
        std::snprintf(missing + std::strlen(missing), sizeof missing - std::strlen(missing),
                      "; if no server serves it, remove it with ipcrm -m %d", id);
    }
    complain("stop: the server has not gone within %d s%s", timeout_s, missing);
}

}  // namespace

int run_stop(const CtlOptions& options)
{
    ServerHandle server(options);
    if (server.open() != 0) {
        return EXIT_FAILED;
    }
    KeyFile key_file{};
    SegmentView view;
    if (attach_own_view(options, true, key_file, view) != 0) {
        return EXIT_FAILED;
    }
    const LineRecord line = view.line();
    pid_t pid = line_record_present(line) ? line.server_pid : lockfile_pid(key_file);
    if (!server_running(view, key_file)) {
        std::printf("no running process named in %s: waiting for the segment only\n", lockfile_name(key_file).path);
        pid = 0;
    }
    view.segment()->shutdown_request = 1;
    ring_doorbell(*view.segment());
    if (pid > 0) {
        std::printf("stop order given to the server of \"%s\", process %d\n", key_file.path, static_cast<int>(pid));
    } else {
        std::printf("stop order given to the server of \"%s\"\n", key_file.path);
    }

    const int32_t timeout_s = timeout_or(options, STOP_TIMEOUT_S);
    DeadlineTimer limit{};
    if (timeout_s > 0) {
        timer_start(&limit, timeout_s * MS_PER_SECOND);
    }
    Going going;
    for (;;) {
        look(view, key_file, pid, going);
        if (going.gone()) {
            std::printf("server stopped\n");
            return EXIT_DONE;
        }
        if (timeout_s > 0 && timer_read(&limit) == 0) {
            report_time_out(going, pid, view.id(), timeout_s);
            return EXIT_FAILED;
        }
        sleep_ms(POLL_PAUSE_MS);
    }
}

}  // namespace qoctl
