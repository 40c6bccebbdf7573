// SPDX-License-Identifier: MIT
#include "segment_repair.h"

#include <cstdarg>
#include <cstdio>

#include "job_handover.h"
#include "link.h"
#include "link_counters.h"
#include "result_codes.h"
#include "runtime_log.h"
#include "segment_access.h"
#include "segment_owner.h"

namespace qo3964 {

namespace {

constexpr char KIND[] = "segment repair";

// Counts one repair and says what was put back.
void repaired(const char* format, ...) __attribute__((format(printf, 1, 2)));
void repaired(const char* format, ...)
{
    count(&ServerCounters::segment_repairs);
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    log_event(LOG_PRI_WARNING, KIND, "%s", text);
}

// server_busy is up only inside a transfer of the server, and the shutdown
// mark only once the server has left its loop.
void put_back_server_bytes(volatile JobBlock& job, const char* name)
{
    const uint8_t busy = load_field(job.server_busy);
    if (busy != 0) {
        store_release(job.server_busy, uint8_t{0});
        repaired( "%s: server_busy %u between passes, put back to 0", name, busy);
    }
    const uint8_t mark = load_field(job.shutdown_mark);
    if (mark != 0) {
        store_release(job.shutdown_mark, uint8_t{0});
        repaired( "%s: shutdown_mark %u while running, put back to 0", name, mark);
    }
}

// send_job is at 2 exactly while the send slot holds a send (at the start
// of a pass); other values than 0 to 3 are never written by anyone but a
// faulty program. A lower state beside a send in work would let another
// client submit over it, a 3 tell a polling client that it has ended. Without a
// send in work the block is handed back with -11, so that a client waiting
// for the result learns that its telegram did not go out.
void repair_send_state(const Link& link, volatile JobBlock& job)
{
    const int32_t state = load_acquire(job.state);
    const bool in_work = link.snd_set.state != SLOT_FREE;
    const bool known = state >= JOB_IDLE && state <= JOB_DONE;
    if (known && (state == JOB_IN_WORK) == in_work) {
        return;
    }
    raise_server_busy(job, true);
    if (in_work) {
        store_release(job.state, int32_t{JOB_IN_WORK});
        store_release(job.server_busy, uint8_t{0});
        repaired( "send_job: state %d with a send in work, put back to 2", state);
        return;
    }
    hand_back(job, RC_TOO_LONG);
    repaired("send_job: state %d with no send in work, handed back with %d", state,
              static_cast<int>(RC_TOO_LONG));
}

// An idle receive_job is filled only while its result is 0, and its
// length is 0 (a length left there refuses every smaller fetch with -11).
void repair_receive_result(volatile JobBlock& job)
{
    if (load_acquire(job.state) != JOB_IDLE) {
        return;
    }
    const int32_t result = load_field(job.result);
    if (result != 0) {
        store_release(job.result, int32_t{0});
        repaired( "receive_job: result %d in the idle block, put back to 0", result);
    }
    const int32_t length = load_field(job.length);
    if (length != 0) {
        store_release(job.length, int32_t{0});
        repaired( "receive_job: length %d in the idle block, put back to 0", length);
    }
}

}  // namespace

void repair_segment(const Link& link)
{
    volatile SharedSegment& segment = *server_segment;
    // Applications and qo3964_ctl tell the line and its server by it.
    if (put_back_server_info()) {
        repaired("the identification was overwritten, put back");
    }
    put_back_server_bytes(segment.send_job, "send_job");
    put_back_server_bytes(segment.receive_job, "receive_job");
    repair_send_state(link, segment.send_job);
    repair_receive_result(segment.receive_job);
}

}  // namespace qo3964
