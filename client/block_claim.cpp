// SPDX-License-Identifier: MIT
#include "block_claim.h"

#include "process_identity.h"
#include "segment_access.h"

namespace qo3964::client {

uint8_t claim_block(volatile JobBlock& job)
{
    const uint64_t me = own_holder_id();
    const uint64_t holder = load_acquire(job.claim_holder);
    if (holder != 0 && (holder == me || holder_alive(holder))) {
        return 0;
    }
    if (!exchange_if(job.claim_holder, holder, me)) {
        return 0;  // another application claimed it at the same moment
    }
    // A token that differs from the last ones: a release that comes late
    // cannot lower the claim that followed it.
    uint8_t token = increment(job.claim_serial);
    if (token == 0) {
        token = increment(job.claim_serial);
    }
    store_field(job.client_busy, token);
    full_fence();
    return token;
}

bool claim_held(const volatile JobBlock& job, uint8_t token)
{
    return load_acquire(job.client_busy) == token && load_field(job.claim_holder) == own_holder_id();
}

void release_block(volatile JobBlock& job, uint8_t token)
{
    if (token == 0) {
        return;
    }
    exchange_if(job.client_busy, token, uint8_t{0});
    exchange_if(job.claim_holder, own_holder_id(), uint64_t{0});
}

}  // namespace qo3964::client
