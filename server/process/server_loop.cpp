// SPDX-License-Identifier: MIT
#include "server_loop.h"

#include <cstdint>

#include <algorithm>

#include "console_output.h"
#include "job_dispatcher.h"
#include "line_trace.h"
#include "link.h"
#include "link_counters.h"
#include "runtime_log.h"
#include "segment_access.h"
#include "segment_owner.h"
#include "server_process.h"
#include "service_watchdog.h"

namespace qo3964 {

namespace {

// Tells the segment's readers whether the line is up (qo3964_ctl status).
void publish_line_state(const Link& link)
{
    const uint8_t state = link_line_down(link) ? LINE_STATE_DOWN : LINE_STATE_UP;
    if (server_segment->send_job.spare_flag != state) {
        server_segment->send_job.spare_flag = state;
    }
}

// What each pass does besides the jobs, each on its own deadline: the
// watchdog, the held-back lines of a flapping state, the end of a trace
// line, and the count of dropped console output.
void tend_the_run(const Link& link)
{
    publish_line_state(link);
    watchdog_ping();
    runtime_log_tick();
    trace_tick();
    count_total(&ServerCounters::output_dropped, console_dropped());
}

// A program that does not ring may hand a job over while send_job is free
// (or has one waiting), and may take a telegram while the ring holds the
// next: then the loop looks within LOOK_MS. Otherwise (a send in work, an
// empty ring) only a stop byte can come unrung, and a second will do.
int32_t look_ms(const Link& link)
{
    const int32_t state = load_acquire(server_segment->send_job.state);
    const bool job_may_come = state != JOB_IN_WORK;
    return job_may_come || link.p3964_fifo.count > 0 ? LOOK_MS : STOP_LOOK_MS;
}

// The loop's longest wait: the look, or the watchdog's next ping when it
// is due sooner.
int32_t longest_wait_ms(const Link& link)
{
    const int32_t look = look_ms(link);
    const int32_t watchdog = watchdog_due_ms();
    return watchdog >= 0 ? std::clamp(watchdog, int32_t{1}, look) : look;
}

}  // namespace

void run_server_loop(Link& link, int wake_fd)
{
    // A pass never waits: the watchdog's interval needs to cover only the
    // waits between passes (at most LOOK_MS) and a loaded machine.
    watchdog_start(LOOK_MS + 1000);
    while (stop_reason == STOP_NONE) {
        const bool moved = service_jobs(link);
        tend_the_run(link);
        // What moved may let the engine or the exchange go on at once (a
        // result handed back frees the send slot, a delivered telegram
        // makes room in the ring).
        if (!moved) {
            link_wait(link, wake_fd, longest_wait_ms(link));
        }
    }
}

}  // namespace qo3964
