// SPDX-License-Identifier: MIT
#include "job_handover.h"

#include "segment_access.h"
#include "segment_wake.h"

namespace qo3964 {

bool raise_server_busy(volatile JobBlock& job, bool ignore_client)
{
    if (!ignore_client && load_field(job.client_busy) != 0) {
        return false;
    }
    store_field(job.server_busy, uint8_t{1});
    full_fence();
    if (!ignore_client && load_field(job.client_busy) != 0) {
        store_release(job.server_busy, uint8_t{0});
        return false;
    }
    return true;
}

void hand_back(volatile JobBlock& job, int32_t result)
{
    store_field(job.result, result);
    store_release(job.state, int32_t{JOB_DONE});
    store_release(job.server_busy, uint8_t{0});
    wake_waiters(job.state);
}

}  // namespace qo3964
