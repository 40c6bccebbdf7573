// SPDX-License-Identifier: MIT
#include "send_handover.h"

#include <atomic>
#include <unistd.h>

#include "block_claim.h"
#include "result_codes.h"
#include "segment_access.h"
#include "segment_wake.h"

namespace qo3964::client {

namespace {

std::atomic<uint32_t> last_job_seq{0};

}  // namespace

bool may_submit(int32_t state)
{
    return state == JOB_IDLE || state == JOB_DONE;
}

JobOwner new_job_owner()
{
    uint32_t seq = last_job_seq.fetch_add(1, std::memory_order_relaxed) + 1;
    if (seq == 0) {
        seq = last_job_seq.fetch_add(1, std::memory_order_relaxed) + 1;
    }
    return JobOwner{static_cast<int32_t>(getpid()), seq};
}

bool owns_job(const ClientConnection& connection, const volatile JobBlock& job)
{
    const JobOwner& owner = connection.send_owner;
    return owner.seq != 0 && load_field(job.owner_seq) == owner.seq && load_field(job.owner_pid) == owner.pid;
}

bool publish_send(volatile JobBlock& job, int32_t length, JobOwner owner)
{
    const int32_t state = load_acquire(job.state);
    if (!may_submit(state)) {
        return false;
    }
    store_field(job.owner_pid, owner.pid);
    store_field(job.owner_seq, owner.seq);
    store_field(job.result, int32_t{0});
    store_field(job.length, length);
    return exchange_if(job.state, state, int32_t{JOB_SUBMITTED});
}

Collected collect_result(ClientConnection& connection, volatile JobBlock& job, int32_t& outcome)
{
    const uint8_t claim = claim_block(job);
    if (claim == 0) {
        return Collected::busy;
    }
    // Looked at again under the claim, where nobody discards the result.
    Collected collected = Collected::busy;
    if (!owns_job(connection, job)) {
        connection.send_owner = JobOwner{};
        collected = Collected::lost;
    } else if (load_acquire(job.state) == JOB_DONE) {
        const int32_t server_result = load_field(job.result);
        // A code is passed on whole; only the record's 16-bit copy is bounded.
        outcome = server_result < 0 ? server_result : RC_SEND_DONE;
        connection.send_phase = 0;
        connection.send_result = static_cast<int16_t>(outcome < INT16_MIN ? INT16_MIN : outcome);
        connection.send_owner = JobOwner{};
        store_field(job.result, int32_t{0});
        store_release(job.state, int32_t{JOB_IDLE});
        collected = Collected::done;
    }
    release_block(job, claim);
    if (collected == Collected::done) {
        // Another application may wait for the block to be free.
        wake_waiters(job.state);
    }
    return collected;
}

}  // namespace qo3964::client
