#include "job_dispatcher.h"

#include "protocol_engine.h"
#include "result_codes.h"
#include "segment_owner.h"
#include "server_process.h"
#include "telegram_buffers.h"

#include <cstring>

namespace qo3964 {

EngineStepFn dispatcher_engine_step = engine_step;

namespace {

void check_stop_order()
{
    if (server_segment->shutdown_request > 0) {
        stop_reason = STOP_ORDER;
    }
}

// Moves the oldest received telegram into an idle receive_job.
void deliver_received()
{
    volatile JobBlock& job = server_segment->receive_job;
    if (p3964_fifo.count <= 0 || job.client_busy != 0 || job.result != 0 || job.state != JOB_IDLE) {
        return;
    }
    TelegramSlot& entry = p3964_fifo.entries[p3964_fifo.head];
    job.server_busy = 1;
    copy_to_block(job, entry.data, entry.length);
    job.length = entry.length;
    job.result = entry.status;
    entry.status = 0;
    job.state = entry.state;
    entry.state = SLOT_FREE;
    p3964_fifo.head = (p3964_fifo.head + 1) % FIFO_DEPTH;
    p3964_fifo.count = p3964_fifo.count - 1;
    job.server_busy = 0;
}

void hand_back(volatile JobBlock& job, int32_t result)
{
    job.server_busy = 1;
    job.result = result;
    job.state = JOB_DONE;
    job.server_busy = 0;
}

void move_send_job()
{
    volatile JobBlock& job = server_segment->send_job;
    if (job.state == JOB_DONE) {
        return;  // the last result has not been collected yet
    }
    if (snd_set.state == SLOT_DONE && job.client_busy == 0) {
        hand_back(job, snd_set.status);
        snd_set.state = SLOT_FREE;
        snd_set.status = 0;
        return;
    }
    if (job.state != JOB_SUBMITTED || snd_set.state != SLOT_FREE || job.client_busy != 0) {
        return;
    }
    const int32_t length = job.length;
    if (length < 0 || length > TELEGRAM_MAX) {
        // Written by some other program: it would overrun the send slot.
        // Refuse it at once; nothing goes on the line.
        hand_back(job, RC_TOO_LONG);
        return;
    }
    job.server_busy = 1;
    copy_from_block(snd_set.data, job, length);
    snd_set.length = length;
    snd_set.status = 0;
    snd_set.state = SLOT_STAGED;
    job.result = 0;
    job.state = JOB_IN_WORK;
    job.server_busy = 0;
}

}  // namespace

void service_jobs()
{
    check_stop_order();
    dispatcher_engine_step();
    deliver_received();
    move_send_job();
}

}  // namespace qo3964
