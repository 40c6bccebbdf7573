// SPDX-License-Identifier: MIT
#include "doorbell_listener.h"

#include <csignal>
#include <cstdint>
#include <unistd.h>

#include "segment_wake.h"

namespace qo3964 {

namespace {

// The listener needs no look of its own: a stop rings the doorbell too,
// and a wait that begins after the ring ends at once, as the count has
// changed. So an idle server's listener does not wake up at all.
constexpr int32_t LISTEN_LIMIT_MS = 3600 * 1000;

}  // namespace

bool DoorbellListener::start(volatile SharedSegment& segment, int wake_fd)
{
    segment_ = &segment;
    wake_fd_ = wake_fd;
    quit_ = false;
    // Signals stay with the loop's thread: the thread starts with all of
    // them blocked.
    sigset_t all{};
    sigset_t previous{};
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    running_ = pthread_create(&thread_, nullptr, run, this) == 0;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return running_;
}

void DoorbellListener::stop()
{
    if (!running_) {
        return;
    }
    quit_ = true;
    ring_doorbell(*segment_);
    pthread_join(thread_, nullptr);
    running_ = false;
}

void* DoorbellListener::run(void* self)
{
    static_cast<DoorbellListener*>(self)->listen();
    return nullptr;
}

void DoorbellListener::listen()
{
    uint32_t seen = doorbell_count(*segment_);
    while (!quit_) {
        wait_for_doorbell(*segment_, seen, LISTEN_LIMIT_MS);
        const uint32_t now = doorbell_count(*segment_);
        if (now != seen && !quit_) {
            seen = now;
            const uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = write(wake_fd_, &one, sizeof one);
        }
    }
}

}  // namespace qo3964
