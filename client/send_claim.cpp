// SPDX-License-Identifier: MIT
#include "send_claim.h"

#include "segment_access.h"

namespace qo3964::client {

uint8_t claim_send_job(ClientConnection& connection, volatile JobBlock& job)
{
    ClaimWatch& watch = connection.claim_watch;
    if (exchange_if(job.client_busy, uint8_t{0}, uint8_t{1})) {
        full_fence();
        watch = ClaimWatch{};
        return 1;
    }
    // A live claim lasts one copy of a telegram; the same value seen for
    // CLAIM_STALE_MS, at every look since, is a dead one.
    const uint8_t seen = load_field(job.client_busy);
    const int64_t now = now_ms();
    if (seen == 0 || seen != watch.seen || watch.since_ms == 0) {
        watch = ClaimWatch{seen, now};
        return 0;
    }
    if (now - watch.since_ms < CLAIM_STALE_MS) {
        return 0;
    }
    const uint8_t mine = seen == 1 ? 2 : 1;
    if (!exchange_if(job.client_busy, seen, mine)) {
        return 0;
    }
    full_fence();
    watch = ClaimWatch{};
    return mine;
}

bool claim_still_held(const volatile JobBlock& job, uint8_t claim)
{
    return load_acquire(job.client_busy) == claim;
}

void release_claim(volatile JobBlock& job, uint8_t claim)
{
    if (claim != 0) {
        exchange_if(job.client_busy, claim, uint8_t{0});
    }
}

}  // namespace qo3964::client
