// SPDX-License-Identifier: MIT
#include "segment_view.h"

using namespace qo3964;

namespace qosoak {

std::optional<WaitingEntry> SegmentView::waiting_entry() const
{
    const volatile JobBlock& job = segment().receive_job;
    // `state` first: the server writes it after `length` and `result` and
    // lowers `server_busy` after it.
    if (job.state != JOB_DONE || job.server_busy != 0) {
        return std::nullopt;
    }
    return WaitingEntry{job.length, job.result};
}

}  // namespace qosoak
