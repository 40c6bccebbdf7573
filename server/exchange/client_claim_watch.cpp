// SPDX-License-Identifier: MIT
#include "client_claim_watch.h"

#include <array>

#include "deadline_timer.h"
#include "process_identity.h"
#include "runtime_log.h"
#include "segment_access.h"
#include "segment_owner.h"

namespace qo3964 {

namespace {

constexpr int32_t LOOK_AGAIN_MS = 1000;

// The claim last judged in a block (token 0: none yet).
struct ClaimWatch {
    uint8_t token = 0;
    uint64_t holder = 0;
    bool abandoned = false;
    DeadlineTimer look_again{};  // when a live holder is looked at again
};

std::array<ClaimWatch, 2> watches{};  // send_job, receive_job

ClaimWatch& watch_of(const volatile JobBlock& job)
{
    return &job == &server_segment->send_job ? watches[0] : watches[1];
}

const char* name_of(const volatile JobBlock& job)
{
    return &job == &server_segment->send_job ? "send_job" : "receive_job";
}

void report(const volatile JobBlock& job, const ClaimWatch& watch)
{
    if (watch.holder == 0) {
        log_event(LOG_PRI_WARNING, "client claim", "%s: client_busy %u names no holder: taken for left over",
                  name_of(job), watch.token);
    } else {
        log_event(LOG_PRI_WARNING, "client claim",
                  "%s: client_busy %u held by process %d, which has ended: taken for left over", name_of(job),
                  watch.token, static_cast<int>(holder_pid(watch.holder)));
    }
}

}  // namespace

bool client_claim_abandoned(const volatile JobBlock& job)
{
    ClaimWatch& watch = watch_of(job);
    const uint8_t token = load_acquire(job.client_busy);
    if (token == 0) {
        watch = ClaimWatch{};
        return false;
    }
    const uint64_t holder = load_field(job.claim_holder);
    const bool same = watch.token == token && watch.holder == holder;
    // An ended holder stays ended; a live one may end any time.
    if (same && (watch.abandoned || timer_read(&watch.look_again) > 0)) {
        return watch.abandoned;
    }
    watch.token = token;
    watch.holder = holder;
    watch.abandoned = !holder_alive(holder);
    timer_start(&watch.look_again, LOOK_AGAIN_MS);
    if (watch.abandoned) {
        report(job, watch);
    }
    return watch.abandoned;
}

void client_claim_watch_reset()
{
    watches = {};
}

}  // namespace qo3964
