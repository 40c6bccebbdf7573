// SPDX-License-Identifier: MIT
#include "job_dispatcher.h"

#include "client_claim_watch.h"
#include "job_handover.h"
#include "link.h"
#include "link_counters.h"
#include "result_codes.h"
#include "segment_access.h"
#include "segment_owner.h"
#include "segment_repair.h"
#include "segment_wake.h"
#include "server_process.h"

namespace qo3964 {

namespace {

void check_stop_order()
{
    if (load_field(server_segment->shutdown_request) > 0) {
        stop_reason = STOP_ORDER;
    }
}

// Moves the oldest received telegram into an idle receive_job and wakes
// the applications that wait for one.
bool deliver_received(Link& link)
{
    ReceiveFifo& p3964_fifo = link.p3964_fifo;
    volatile JobBlock& job = server_segment->receive_job;
    if (p3964_fifo.count <= 0 || load_acquire(job.state) != JOB_IDLE || load_field(job.result) != 0 ||
        !raise_server_busy(job, client_claim_abandoned(job))) {
        return false;
    }
    TelegramSlot& entry = p3964_fifo.entries[p3964_fifo.head];
    copy_to_block(job, entry.data, entry.length);
    store_field(job.length, entry.length);
    store_field(job.result, entry.status);
    entry.status = 0;
    store_release(job.state, entry.state);
    entry.state = SLOT_FREE;
    p3964_fifo.head = (p3964_fifo.head + 1) % FIFO_DEPTH;
    p3964_fifo.count = p3964_fifo.count - 1;
    store_release(job.server_busy, uint8_t{0});
    wake_waiters(job.state);
    return true;
}

bool move_send_job(Link& link)
{
    TelegramSlot& snd_set = link.snd_set;
    volatile JobBlock& job = server_segment->send_job;
    const int32_t state = load_acquire(job.state);
    if (state == JOB_DONE) {
        return false;  // the last result has not been collected yet
    }
    if (snd_set.state == SLOT_DONE) {
        // No client writes the block while it is at 2, so a client_busy up
        // then (a client that died in a claim) cannot keep the result back.
        if (!raise_server_busy(job, state == JOB_IN_WORK)) {
            return false;
        }
        hand_back(job, snd_set.status);
        snd_set.state = SLOT_FREE;
        snd_set.status = 0;
        return true;
    }
    if (state != JOB_SUBMITTED || snd_set.state != SLOT_FREE) {
        return false;
    }
    // The client lowers its byte right after state 1; a byte that stays up
    // belongs to a client that died there.
    if (!raise_server_busy(job, client_claim_abandoned(job))) {
        return false;
    }
    const int32_t length = load_field(job.length);
    if (length < 0 || length > TELEGRAM_MAX) {
        // Written by some other program: it would overrun the send slot.
        // Refuse it at once; nothing goes on the line.
        count_send_failed(RC_TOO_LONG);
        hand_back(job, RC_TOO_LONG);
        return true;
    }
    copy_from_block(snd_set.data, job, length);
    snd_set.length = length;
    snd_set.status = 0;
    snd_set.state = SLOT_STAGED;
    store_field(job.result, int32_t{0});
    store_release(job.state, int32_t{JOB_IN_WORK});
    store_release(job.server_busy, uint8_t{0});
    return true;
}

}  // namespace

bool service_jobs(Link& link, EngineStepFn step)
{
    check_stop_order();
    repair_segment(link);
    bool moved = step(link);
    moved = deliver_received(link) || moved;
    moved = move_send_job(link) || moved;
    return moved;
}

}  // namespace qo3964
