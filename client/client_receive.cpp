// SPDX-License-Identifier: MIT
// Fetching a received telegram from `receive_job`.
#include <cstdint>

#include "block_claim.h"
#include "client_connection.h"
#include "client_receive.h"
#include "qo3964_client.h"
#include "result_codes.h"
#include "segment_access.h"
#include "segment_wake.h"
#include "server_liveness.h"

using namespace qo3964;

namespace {

// The server never fills the block with these; a faulty program did.
bool impossible_entry(int32_t length, int32_t status)
{
    return length < 0 || length > TELEGRAM_MAX || status > RC_OK;
}

// Frees the block, `state` last.
void free_block(volatile JobBlock& job)
{
    store_field(job.length, int32_t{0});
    store_field(job.result, int32_t{0});
    store_release(job.state, int32_t{JOB_IDLE});
}

// The block is free again: the server, which has the next telegram, and
// other fetchers waiting for the block are woken.
void block_freed(volatile SharedSegment& segment)
{
    ring_doorbell(segment);
    wake_waiters(segment.receive_job.state);
}

// Nothing to fetch: 0, or -100 when the server is gone without its marks
// (an application polling for telegrams would poll for ever).
int nothing_received(qo3964::client::ClientConnection& connection)
{
    return qo3964::client::server_gone(connection) ? RC_SHUTDOWN : RC_IN_WORK;
}

}  // namespace

namespace qo3964::client {

int fetch_received(int handle, void* buffer, int size, bool& taken)
{
    taken = false;
    const int32_t checked = qo3964::client::check_attached(handle);
    if (checked != 0) {
        return checked;
    }
    qo3964::client::ClientConnection& connection = *qo3964::client::connection_for(handle);
    volatile JobBlock& job = connection.segment->receive_job;
    if (qo3964::client::server_stopped(connection, job)) {
        return RC_SHUTDOWN;
    }
    // Too small a buffer leaves the telegram for a call with a larger one.
    const int32_t waiting = load_field(job.length);
    if (waiting >= 0 && waiting <= TELEGRAM_MAX && (waiting > size || (buffer == nullptr && waiting > 0))) {
        return RC_TOO_LONG;
    }
    if (load_field(job.server_busy) != 0) {
        return RC_IN_WORK;  // the server is filling the block
    }
    if (load_acquire(job.state) == JOB_IDLE && load_field(job.client_busy) == 0) {
        return nothing_received(connection);
    }
    // One application at a time empties the block: another one that holds
    // it is taking this telegram, and the next call may get the next one.
    const uint8_t claim = qo3964::client::claim_block(job);
    if (claim == 0) {
        return RC_IN_WORK;
    }
    if (load_field(job.server_busy) != 0) {
        qo3964::client::release_block(job, claim);
        return RC_IN_WORK;
    }
    // Looked at again under the claim. A free block with client_busy up was
    // left by a fetch that ended between freeing it and lowering the byte
    // (a killed process); the release lowers it.
    if (load_acquire(job.state) == JOB_IDLE) {
        qo3964::client::release_block(job, claim);
        block_freed(*connection.segment);
        return nothing_received(connection);
    }
    // The length that counts is the one seen after the state.
    const int32_t length = load_field(job.length);
    const int32_t status = load_field(job.result);
    int result = status < 0 ? status : length;
    bool freed = true;
    if (impossible_entry(length, status)) {
        // Reported once; left in place it would block reception for good.
        free_block(job);
        result = RC_TOO_LONG;
    } else if (length > size || (buffer == nullptr && length > 0)) {
        result = RC_TOO_LONG;
        freed = false;
    } else {
        copy_from_block(buffer, job, length);
        free_block(job);
        taken = true;
    }
    qo3964::client::release_block(job, claim);
    if (freed) {
        block_freed(*connection.segment);
    }
    return result;
}

}  // namespace qo3964::client

extern "C" int qo3964m_receive(int handle, void* buffer, int size)
{
    bool taken = false;
    return qo3964::client::fetch_received(handle, buffer, size, taken);
}
