// SPDX-License-Identifier: MIT
#include "client_claim_watch.h"

#include <array>

#include "deadline_timer.h"
#include "runtime_log.h"
#include "segment_access.h"
#include "segment_owner.h"

namespace qo3964 {

namespace {

struct ClaimWatch {
    DeadlineTimer since{};
    bool watching = false;  // client_busy was up at the last look
    bool stale = false;     // ... and has been for CLAIM_STALE_MS
};

std::array<ClaimWatch, 2> watches{};  // send_job, receive_job

ClaimWatch& watch_of(const volatile JobBlock& job)
{
    return &job == &server_segment->send_job ? watches[0] : watches[1];
}

void look_at(const volatile JobBlock& job, const char* name)
{
    ClaimWatch& watch = watch_of(job);
    if (load_field(job.client_busy) == 0) {
        watch = ClaimWatch{};
        return;
    }
    if (!watch.watching) {
        timer_start(&watch.since, CLAIM_STALE_MS);
        watch.watching = true;
        return;
    }
    if (!watch.stale && timer_read(&watch.since) == 0) {
        watch.stale = true;
        log_event(LOG_PRI_WARNING, "client claim", "%s: client_busy up for over %d s: a client died holding it",
                  name, CLAIM_STALE_MS / 1000);
    }
}

}  // namespace

void watch_client_claims()
{
    look_at(server_segment->send_job, "send_job");
    look_at(server_segment->receive_job, "receive_job");
}

bool client_claim_stale(const volatile JobBlock& job)
{
    return watch_of(job).stale;
}

void client_claim_watch_reset()
{
    watches = {};
}

}  // namespace qo3964
