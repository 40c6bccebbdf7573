// SPDX-License-Identifier: MIT
// Handing telegrams to the server through `send_job` and collecting the
// results of the sends.
#include <cstdint>
#include <cstdio>

#include "client_connection.h"
#include "client_pacing.h"
#include "qo3964_client.h"
#include "result_codes.h"
#include "segment_access.h"
#include "send_claim.h"
#include "server_liveness.h"

using namespace qo3964;

namespace qo3964::client {

namespace {

constexpr int64_t MS_PER_SECOND = 1000;
// How long a result of another application is left for it to collect.
constexpr int64_t RESULT_GRACE_MS = 500;

// The procedure's own steps.
enum SendStep : int32_t {
    STEP_CLAIM = 0,         // raise client_busy once server_busy is down
    STEP_CHECK_CLAIM = 1,   // back off if the server started meanwhile
    STEP_HAND_OVER = 2,     // copy the telegram, state 1 last
    STEP_AWAIT_RESULT = 3,  // poll for state 3
};

// Send trace, shown from debug level 2 on.
void print(const char* text)
{
    if (debug > 1) {
        std::printf("%s\n", text);
    }
    std::fflush(stdout);
}

// Takes the server's result of a finished send and frees the block.
int32_t collect_result(ClientConnection& connection, volatile JobBlock& job)
{
    connection.send_phase = 0;
    const int32_t server_result = load_field(job.result);
    // A code is passed on whole; only the record's 16-bit copy is bounded.
    const int32_t outcome = server_result < 0 ? server_result : RC_SEND_DONE;
    connection.send_result = static_cast<int16_t>(outcome < INT16_MIN ? INT16_MIN : outcome);
    store_field(job.result, int32_t{0});
    // Only the finished job is freed: a telegram that another application
    // handed over meanwhile keeps its state 1.
    exchange_if<int32_t>(job.state, JOB_DONE, JOB_IDLE);
    return outcome;
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

bool may_submit(int32_t state)
{
    return state == JOB_IDLE || state == JOB_DONE;
}

// A result at state 3 that this handle did not hand over may be awaited by
// another application, which collects it at its next look: it is given
// RESULT_GRACE_MS before a new telegram overwrites it. `grace_end` is 0
// until the wait begins.
bool result_may_be_overwritten(const ClientConnection& connection, int32_t state, int64_t& grace_end)
{
    if (state != JOB_DONE || connection.send_phase == 3) {
        return true;
    }
    const int64_t now = now_ms();
    if (grace_end == 0) {
        grace_end = now + RESULT_GRACE_MS;
    }
    return now >= grace_end;
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
    uint8_t claim = 0;  // our value in client_busy while we hold it
    int64_t grace_end = 0;

    for (;;) {
        const int32_t left = timer_read(&connection.send_timer);
        if ((timed && left == 0) || leaving) {
            break;
        }
        if (load_acquire(job.shutdown_mark) != 0 || server_gone(connection)) {
            release_claim(job, claim);
            return RC_SHUTDOWN;
        }
        switch (step) {
        case STEP_CLAIM: {
            print("Schritt 0\n");
            const int32_t state = load_acquire(job.state);
            if (!may_submit(state)) {
                return RC_JOB_RUNNING;
            }
            if (load_field(job.server_busy) != 0 || !result_may_be_overwritten(connection, state, grace_end)) {
                timer_wait(&pause, POLL_PAUSE_MS);
                break;
            }
            claim = claim_send_job(connection, job);
            if (claim == 0) {
                timer_wait(&pause, POLL_PAUSE_MS);  // another application is handing a telegram over
                break;
            }
            // That application may have finished its hand-over between our
            // look at the state and our claim.
            if (!may_submit(load_acquire(job.state))) {
                release_claim(job, claim);
                return RC_JOB_RUNNING;
            }
            step = STEP_CHECK_CLAIM;
            break;
        }
        case STEP_CHECK_CLAIM:
            print("Schritt 1\n");
            if (load_field(job.server_busy) != 0) {
                release_claim(job, claim);
                claim = 0;
                timer_wait(&pause, POLL_PAUSE_MS);
                step = STEP_CLAIM;
                break;
            }
            step = STEP_HAND_OVER;
            break;
        case STEP_HAND_OVER:
            print("Schritt 2\n");
            if (!claim_still_held(job, claim)) {
                claim = 0;  // taken over while this process stood still
                timer_wait(&pause, POLL_PAUSE_MS);
                step = STEP_CLAIM;
                break;
            }
            copy_to_block(job, telegram, length);
            store_field(job.result, int32_t{0});
            store_field(job.length, length);
            store_release(job.state, int32_t{JOB_SUBMITTED});
            // Lowered after state 1: an application that claims next finds
            // the block handed over and refuses with -26.
            release_claim(job, claim);
            claim = 0;
            connection.send_phase = 3;
            provisional = RC_OK;
            if (wait != 0) {
                timer_wait(&pause, HANDOVER_PAUSE_MS);
                step = STEP_AWAIT_RESULT;
            } else {
                leaving = true;
            }
            break;
        default:  // STEP_AWAIT_RESULT
            print("Schritt 3\n");
            if (load_acquire(job.state) == JOB_DONE) {
                return collect_result(connection, job);
            }
            timer_wait(&pause, POLL_PAUSE_MS);
            break;
        }
    }

    // A time-out between claim and hand-over must not leave the block
    // claimed for the server.
    release_claim(job, claim);
    if (server_stopped(connection, job)) {
        return RC_SHUTDOWN;
    }
    if (timed && timer_read(&connection.send_timer) == 0) {
        return RC_TIMEOUT;
    }
    return provisional;
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
    qo3964::client::ClientConnection& connection = *qo3964::client::connection_for(handle);
    volatile JobBlock& job = connection.segment->send_job;
    if (qo3964::client::server_stopped(connection, job)) {
        return RC_SHUTDOWN;
    }
    const int32_t state = load_acquire(job.state);
    if (state == JOB_DONE) {
        return qo3964::client::collect_result(connection, job);
    }
    if (state == JOB_IDLE) {
        return RC_SEND_IDLE;
    }
    // Polled until the send ends: a server that is gone never ends it.
    if (qo3964::client::server_gone(connection)) {
        return RC_SHUTDOWN;
    }
    return RC_IN_WORK;
}
