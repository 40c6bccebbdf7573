// SPDX-License-Identifier: MIT
// How server and clients read and write the fields that hand a job block
// from one side to the other.
//
// Plain volatile accesses keep the compiler's order but not the CPU's: on
// a weakly ordered processor (ARM) the other side could see `state` before
// the data it announces. So every hand-over field goes through an atomic
// view of the segment's own bytes (the layout does not change):
//
// - the side that fills or frees a block writes data, `length` and
//   `result` first and `state` last, with release order;
// - the side that takes a block reads `state` with acquire order before it
//   relies on anything else in the block;
// - a side that raises its busy byte puts a full fence between that store
//   and its look at the other side's byte, so that two sides that raise
//   at the same moment cannot both miss each other;
// - clients claim a block by compare-and-exchange of its `claim_holder`,
//   so that of two applications that claim at the same moment only one
//   wins, and hand a job over by compare-and-exchange of `state`.
#pragma once

#include <atomic>
#include <cstdint>

#include "shared_segment.h"

namespace qo3964 {

static_assert(std::atomic_ref<uint8_t>::is_always_lock_free);
static_assert(std::atomic_ref<int8_t>::is_always_lock_free);
static_assert(std::atomic_ref<int32_t>::is_always_lock_free);
static_assert(std::atomic_ref<uint32_t>::is_always_lock_free);
// 64-bit words: the server's counters, read whole also on i386 (x87 or SSE
// loads; the tools attach the segment read-only) and arm64, and the
// claim_holder of a job block, taken by compare-and-exchange
// (cmpxchg8b on i386). They lie on 8-byte boundaries of the segment.
static_assert(std::atomic_ref<uint64_t>::is_always_lock_free);
static_assert(std::atomic_ref<uint64_t>::required_alignment <= 8);
static_assert(std::atomic_ref<int32_t>::required_alignment <= 4, "the segment's words lie on 4-byte boundaries");

namespace segment_detail {

// The segment is shared memory, not a volatile object: the atomic view
// works on the same bytes.
template <typename T>
std::atomic_ref<T> view(const volatile T& field)
{
    return std::atomic_ref<T>(const_cast<T&>(field));
}

}  // namespace segment_detail

// A field read or written on its own, ordered by the `state` around it.
template <typename T>
T load_field(const volatile T& field)
{
    return segment_detail::view(field).load(std::memory_order_relaxed);
}

template <typename T>
void store_field(volatile T& field, T value)
{
    segment_detail::view(field).store(value, std::memory_order_relaxed);
}

// Reading a field that hands the block over: nothing after it is read
// before it.
template <typename T>
T load_acquire(const volatile T& field)
{
    return segment_detail::view(field).load(std::memory_order_acquire);
}

// Writing a field that hands the block over: everything written before it
// is seen first.
template <typename T>
void store_release(volatile T& field, T value)
{
    segment_detail::view(field).store(value, std::memory_order_release);
}

// Replaces `expected` by `desired` when the field holds `expected`; false
// (and nothing written) otherwise. A full barrier either way.
template <typename T>
bool exchange_if(volatile T& field, T expected, T desired)
{
    return segment_detail::view(field).compare_exchange_strong(expected, desired, std::memory_order_seq_cst);
}

// Adds 1 to the field and returns the new value.
template <typename T>
T increment(volatile T& field)
{
    return static_cast<T>(segment_detail::view(field).fetch_add(T{1}, std::memory_order_relaxed) + T{1});
}

// Between raising one's own busy byte and looking at the other side's.
inline void full_fence()
{
    std::atomic_thread_fence(std::memory_order_seq_cst);
}

}  // namespace qo3964
