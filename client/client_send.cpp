// SPDX-License-Identifier: MIT
// Handing telegrams to the server through `send_job` and collecting the
// results of the sends.
#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "block_claim.h"
#include "client_connection.h"
#include "client_waits.h"
#include "process_identity.h"
#include "qo3964_client.h"
#include "result_codes.h"
#include "segment_access.h"
#include "segment_wake.h"
#include "send_handover.h"
#include "server_liveness.h"

using namespace qo3964;

namespace qo3964::client {

namespace {

constexpr int64_t MS_PER_SECOND = 1000;
// How long a result of another live application is left for it to collect.
constexpr int64_t RESULT_GRACE_MS = 500;

// The procedure's own steps.
enum SendStep : int32_t {
    STEP_CLAIM = 0,         // claim the block once server_busy is down
    STEP_CHECK_CLAIM = 1,   // back off if the server started meanwhile
    STEP_HAND_OVER = 2,     // copy the telegram, state 1 last
    STEP_AWAIT_RESULT = 3,  // wait for the own result
};

// Send trace, shown from debug level 2 on.
void print(const char* text)
{
    if (debug > 1) {
        std::printf("%s\n", text);
    }
    std::fflush(stdout);
}

// A time-out in seconds as timer milliseconds, bounded to the longest
// duration the tick arithmetic can hold.
int32_t timeout_ms(int32_t seconds)
{
    const int64_t ms = static_cast<int64_t>(seconds) * MS_PER_SECOND;
    const int64_t longest = timer_max_ms();
    return static_cast<int32_t>(ms < longest ? ms : longest);
}

bool bad_telegram(const void* telegram, int32_t length)
{
    return length < 0 || length > TELEGRAM_MAX || (telegram == nullptr && length > 0);
}

// A result at state 3 is discarded by a new hand-over when it is the
// handle's own or its owner has ended; a live owner is given
// RESULT_GRACE_MS to collect it first. `grace_end` is 0 until the wait
// begins.
bool result_may_be_discarded(const ClientConnection& connection, const volatile JobBlock& job, int64_t& grace_end)
{
    const int32_t owner = load_field(job.owner_pid);
    if (owns_job(connection, job) || !process_alive(owner, 0)) {
        return true;
    }
    const int64_t now = now_ms();
    if (grace_end == 0) {
        grace_end = now + RESULT_GRACE_MS;
    }
    return now >= grace_end;
}

// The telegram into the claimed block, handed over with the handle as its
// owner. False when the block is no longer free (or no longer held).
bool hand_over(ClientConnection& connection, volatile JobBlock& job, uint8_t claim, const void* telegram,
               int32_t length)
{
    if (!claim_held(job, claim) || !may_submit(load_acquire(job.state))) {
        return false;
    }
    copy_to_block(job, telegram, length);
    const JobOwner owner = new_job_owner();
    if (!publish_send(job, length, owner)) {
        return false;
    }
    connection.send_owner = owner;
    connection.send_phase = 3;
    return true;
}

// The longest wait now: LOOK_MS, or what is left of a timed send.
int32_t wait_span(bool timed, int32_t left)
{
    return timed ? std::min(left, LOOK_MS) : LOOK_MS;
}

// The one send procedure: with `wait` 1 until the result is back, with 0
// only until the telegram is handed over.
int32_t qom_send_intern(int handle, const void* telegram, int32_t length, int32_t timeout_seconds, int32_t wait)
{
    const int32_t checked = check_attached(handle);
    if (checked != 0) {
        return checked;
    }
    ClientConnection& connection = *connection_for(handle);
    volatile JobBlock& job = connection.segment->send_job;

    print("** Send_intern\n");
    if (bad_telegram(telegram, length)) {
        return RC_TOO_LONG;
    }
    const bool timed = timeout_seconds > 0;
    if (timed) {
        timer_start(&connection.send_timer, timeout_ms(timeout_seconds));
    }
    DeadlineTimer pause{};
    int32_t provisional = RC_TIMEOUT;
    int32_t step = STEP_CLAIM;
    bool leaving = false;
    uint8_t claim = 0;  // our token in client_busy while we hold the block
    int64_t grace_end = 0;

    for (;;) {
        const int32_t left = timer_read(&connection.send_timer);
        if ((timed && left == 0) || leaving) {
            break;
        }
        if (load_acquire(job.shutdown_mark) != 0 || server_gone(connection)) {
            release_block(job, claim);
            return RC_SHUTDOWN;
        }
        switch (step) {
        case STEP_CLAIM: {
            print("Schritt 0\n");
            const int32_t state = load_acquire(job.state);
            if (!may_submit(state)) {
                return RC_JOB_RUNNING;
            }
            if (load_field(job.server_busy) != 0) {
                timer_wait(&pause, BUSY_PAUSE_MS);
                break;
            }
            if (state == JOB_DONE && !result_may_be_discarded(connection, job, grace_end)) {
                // Its owner collects it, and wakes the waiters then.
                wait_while(job.state, state, wait_span(timed, left));
                break;
            }
            // Held by another application (handing its telegram over or
            // collecting its result), also by one that stands still.
            claim = claim_block(job);
            if (claim == 0) {
                return RC_JOB_RUNNING;
            }
            step = STEP_CHECK_CLAIM;
            break;
        }
        case STEP_CHECK_CLAIM:
            print("Schritt 1\n");
            if (load_field(job.server_busy) != 0) {
                release_block(job, claim);
                claim = 0;
                timer_wait(&pause, BUSY_PAUSE_MS);
                step = STEP_CLAIM;
                break;
            }
            step = STEP_HAND_OVER;
            break;
        case STEP_HAND_OVER: {
            print("Schritt 2\n");
            const bool handed = hand_over(connection, job, claim, telegram, length);
            // Lowered after state 1: an application that claims next finds
            // the block handed over and refuses with -26.
            release_block(job, claim);
            claim = 0;
            if (!handed) {
                return RC_JOB_RUNNING;
            }
            // Rung once the claim is down: woken earlier, the server would
            // find the block still held and wait for its next look.
            ring_doorbell(*connection.segment);
            provisional = RC_OK;
            if (wait != 0) {
                step = STEP_AWAIT_RESULT;
            } else {
                leaving = true;
            }
            break;
        }
        default: {  // STEP_AWAIT_RESULT
            print("Schritt 3\n");
            int32_t outcome = RC_TIMEOUT;
            const int32_t state = load_acquire(job.state);
            const Collected collected = state == JOB_DONE            ? collect_result(connection, job, outcome)
                                        : owns_job(connection, job) ? Collected::busy
                                                                    : Collected::lost;
            if (collected == Collected::done) {
                return outcome;
            }
            if (collected == Collected::lost) {
                // Its result was left uncollected so long that another
                // application's hand-over discarded it.
                return RC_TIMEOUT;
            }
            // Woken by the server when it takes the job and when it hands
            // the result back; a result held by another process's claim
            // for a moment is looked at again after a short pause.
            if (state == JOB_DONE) {
                timer_wait(&pause, BUSY_PAUSE_MS);
            } else {
                wait_while(job.state, state, wait_span(timed, left));
            }
            break;
        }
        }
    }

    // A time-out between claim and hand-over must not leave the block
    // claimed for the server.
    release_block(job, claim);
    if (server_stopped(connection, job)) {
        return RC_SHUTDOWN;
    }
    if (timed && timer_read(&connection.send_timer) == 0) {
        return RC_TIMEOUT;
    }
    return provisional;
}

// qo3964m_send_control: the handle's own send only; another application's
// job or result is none of its business.
int32_t send_control(ClientConnection& connection)
{
    volatile JobBlock& job = connection.segment->send_job;
    if (server_stopped(connection, job)) {
        return RC_SHUTDOWN;
    }
    if (connection.send_owner.seq == 0) {
        return RC_SEND_IDLE;
    }
    const int32_t state = load_acquire(job.state);
    int32_t outcome = RC_TIMEOUT;
    const Collected collected = !owns_job(connection, job) ? Collected::lost
                                : state == JOB_DONE        ? collect_result(connection, job, outcome)
                                                           : Collected::busy;
    if (collected == Collected::done) {
        return outcome;
    }
    if (collected == Collected::lost) {
        connection.send_owner = JobOwner{};
        return RC_TIMEOUT;
    }
    if (state == JOB_IDLE) {
        connection.send_owner = JobOwner{};  // freed by a repair of the server
        return RC_SEND_IDLE;
    }
    // Polled until the send ends: a server that is gone never ends it.
    return server_gone(connection) ? RC_SHUTDOWN : RC_IN_WORK;
}

}  // namespace

}  // namespace qo3964::client

extern "C" int qo3964m_send(int handle, const void* telegram, int length, int timeout_seconds)
{
    return qo3964::client::qom_send_intern(handle, telegram, length, timeout_seconds, 1);
}

extern "C" int qo3964m_send_strt(int handle, const void* telegram, int length, int timeout_seconds)
{
    return qo3964::client::qom_send_intern(handle, telegram, length, timeout_seconds, 0);
}

extern "C" int qo3964m_send_control(int handle)
{
    const int32_t checked = qo3964::client::check_attached(handle);
    if (checked != 0) {
        return checked;
    }
    return qo3964::client::send_control(*qo3964::client::connection_for(handle));
}
