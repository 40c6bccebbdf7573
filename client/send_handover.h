// SPDX-License-Identifier: MIT
// A send's way through `send_job`, block by block: the hand-over under the
// block's claim, and the collection of the result by the job's owner.
//
// The handle that hands a telegram over writes itself into the block as
// the job's owner (its process ID and a number of its own process for the
// job) before state 1. Only that owner collects the result: a look at two
// words tells a waiting send whether the result in the block is its own.
#pragma once

#include <cstdint>

#include "client_connection.h"

namespace qo3964::client {

// A block free for a new job: idle, or holding a result to discard.
bool may_submit(int32_t state);

// A new owner for a job of the calling process.
JobOwner new_job_owner();

// True while the job in the block is the handle's outstanding send.
bool owns_job(const ClientConnection& connection, const volatile JobBlock& job);

// With the block claimed and its data written: `length`, result 0 and the
// owner, then state 1 by compare-and-exchange from the free state (0 or
// 3) found now. False, and nothing handed over, when the block is not
// free.
bool publish_send(volatile JobBlock& job, int32_t length, JobOwner owner);

enum class Collected {
    done,  // the result is taken and the block freed
    busy,  // the block is claimed by another process right now, or not finished
    lost,  // the handle's job is no longer in the block
};

// Collects the handle's finished result under the block's claim: frees the
// block (result 0, then state 0) and sets `outcome` to 2 or the server's
// negative code.
Collected collect_result(ClientConnection& connection, volatile JobBlock& job, int32_t& outcome);

}  // namespace qo3964::client
