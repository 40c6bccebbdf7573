// SPDX-License-Identifier: MIT
// Waiting for a received telegram: a fetch, again each time the server
// fills receive_job (it wakes the waiters of its state word) and at the
// latest every LOOK_MS, until one came or the time is up.
#include <algorithm>
#include <cstdint>

#include "client_connection.h"
#include "client_receive.h"
#include "client_waits.h"
#include "qo3964_client.h"
#include "segment_access.h"
#include "segment_wake.h"

using namespace qo3964;
using qo3964::client::BUSY_PAUSE_MS;
using qo3964::client::LOOK_MS;
using qo3964::client::now_us;

extern "C" int qo3964m_receive_wait(int handle, void* buffer, int size, int timeout_ms)
{
    const int32_t checked = qo3964::client::check_attached(handle);
    if (checked != 0) {
        return checked;
    }
    volatile JobBlock& job = qo3964::client::connection_for(handle)->segment->receive_job;
    const int64_t end = now_us() + int64_t{std::max(timeout_ms, 0)} * 1000;
    for (;;) {
        const int32_t seen = load_acquire(job.state);
        bool taken = false;
        const int result = qo3964::client::fetch_received(handle, buffer, size, taken);
        // A telegram of 0 bytes ends the wait as well, with its 0.
        if (result != 0 || taken) {
            return result;
        }
        const int64_t left_us = end - now_us();
        if (left_us <= 0) {
            return 0;
        }
        // A telegram another fetcher holds, or the server is still copying:
        // a short pause, as the state does not change for this one.
        const int64_t left_ms = (left_us + 999) / 1000;
        const int64_t span = seen == JOB_DONE ? BUSY_PAUSE_MS : std::min<int64_t>(left_ms, LOOK_MS);
        wait_while(job.state, seen, static_cast<int32_t>(std::min(span, left_ms)));
    }
}
