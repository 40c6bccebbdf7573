// SPDX-License-Identifier: MIT
#include "server_loop.h"

#include <cstdint>

#include "job_dispatcher.h"
#include "link.h"
#include "segment_owner.h"
#include "server_process.h"

namespace qo3964 {

namespace {

// Tells the segment's readers whether the line is up (qo3964_ctl status).
void publish_line_state(const Link& link)
{
    const uint8_t state = link_line_down(link) ? LINE_STATE_DOWN : LINE_STATE_UP;
    if (server_segment->send_job.spare_flag != state) {
        server_segment->send_job.spare_flag = state;
    }
}

}  // namespace

void run_server_loop(Link& link, int wake_fd)
{
    while (stop_reason == STOP_NONE) {
        const bool moved = service_jobs(link);
        publish_line_state(link);
        // What moved may let the engine or the exchange go on at once (a
        // result handed back frees the send slot, a delivered telegram
        // makes room in the ring).
        if (!moved) {
            link_wait(link, wake_fd, LOOK_MS);
        }
    }
}

}  // namespace qo3964
