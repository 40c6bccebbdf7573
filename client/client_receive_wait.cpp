// SPDX-License-Identifier: MIT
// Waiting for a received telegram: qo3964m_receive, again each time the
// server fills receive_job (it wakes the waiters of its state word) and at
// the latest every LOOK_MS, until one came or the time is up.
#include <algorithm>
#include <cstdint>
#include <ctime>

#include "client_connection.h"
#include "qo3964_client.h"
#include "segment_access.h"
#include "segment_wake.h"

using namespace qo3964;

namespace {

// The longest wait between two looks: a server that does not wake (an
// older one) is still heard.
constexpr int32_t LOOK_MS = 100;

// Microseconds on the monotonic clock: the time-out is waited for whole,
// not a millisecond short by rounding.
int64_t now_us()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

}  // namespace

extern "C" int qo3964m_receive_wait(int handle, void* buffer, int size, int timeout_ms)
{
    const int32_t checked = qo3964::client::check_attached(handle);
    if (checked != 0) {
        return checked;
    }
    volatile JobBlock& job = qo3964::client::connection_for(handle)->segment->receive_job;
    const int64_t end = now_us() + int64_t{std::max(timeout_ms, 0)} * 1000;
    for (;;) {
        // Looked at before the fetch: a telegram of 0 bytes fetched ends
        // the wait as well, with the 0 qo3964m_receive gives for it.
        const int32_t seen = load_acquire(job.state);
        const int result = qo3964m_receive(handle, buffer, size);
        if (result != 0 || seen == JOB_DONE) {
            return result;
        }
        const int64_t left_us = end - now_us();
        if (left_us <= 0) {
            return 0;
        }
        const int64_t left_ms = (left_us + 999) / 1000;
        wait_while(job.state, seen, static_cast<int32_t>(std::min<int64_t>(left_ms, LOOK_MS)));
    }
}
