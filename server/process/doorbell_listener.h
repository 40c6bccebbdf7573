// SPDX-License-Identifier: MIT
// Bridges the segment's doorbell into the loop's wait. The doorbell is a
// futex, which poll cannot watch, so a thread of its own waits on it and
// writes to the loop's wake descriptor when it was rung. The thread only
// waits and signals; everything else stays with the loop.
#pragma once

#include <atomic>
#include <pthread.h>

#include "shared_segment.h"

namespace qo3964 {

class DoorbellListener {
public:
    DoorbellListener() = default;
    DoorbellListener(const DoorbellListener&) = delete;
    DoorbellListener& operator=(const DoorbellListener&) = delete;
    ~DoorbellListener() { stop(); }

    // Starts listening; false when no thread could be started (the loop
    // then finds work at its regular looks only).
    bool start(volatile SharedSegment& segment, int wake_fd);
    void stop();

private:
    static void* run(void* self);
    void listen();

    volatile SharedSegment* segment_ = nullptr;
    int wake_fd_ = -1;
    std::atomic<bool> quit_{false};
    pthread_t thread_{};
    bool running_ = false;
};

}  // namespace qo3964
