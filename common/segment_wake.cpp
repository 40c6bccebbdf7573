// SPDX-License-Identifier: MIT
#include "segment_wake.h"

#include <cerrno>
#include <climits>
#include <ctime>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "segment_access.h"

namespace qo3964 {

namespace {

// The futex calls on a word of the segment; the word's bytes are the
// futex, whatever its type.
long futex(const volatile void* word, int operation, uint32_t value, const timespec* timeout)
{
    return syscall(SYS_futex, const_cast<void*>(word), operation, value, timeout, nullptr, 0);
}

void futex_wait(const volatile void* word, uint32_t seen, int32_t timeout_ms)
{
    if (timeout_ms <= 0) {
        return;
    }
    const timespec timeout{timeout_ms / 1000, static_cast<long>(timeout_ms % 1000) * 1000000L};
    // EAGAIN (the word changed already), ETIMEDOUT and EINTR all end the
    // wait; the caller looks at the word again in any case.
    futex(word, FUTEX_WAIT, seen, &timeout);
}

}  // namespace

void wake_waiters(volatile int32_t& word)
{
    futex(&word, FUTEX_WAKE, INT_MAX, nullptr);
}

void wait_while(volatile int32_t& word, int32_t seen, int32_t timeout_ms)
{
    futex_wait(&word, static_cast<uint32_t>(seen), timeout_ms);
}

void ring_doorbell(volatile SharedSegment& segment)
{
    segment_detail::view(segment.info.doorbell).fetch_add(1, std::memory_order_release);
    futex(&segment.info.doorbell, FUTEX_WAKE, INT_MAX, nullptr);
}

uint32_t doorbell_count(const volatile SharedSegment& segment)
{
    return load_acquire(segment.info.doorbell);
}

void wait_for_doorbell(volatile SharedSegment& segment, uint32_t seen, int32_t timeout_ms)
{
    futex_wait(&segment.info.doorbell, seen, timeout_ms);
}

}  // namespace qo3964
