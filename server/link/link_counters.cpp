// SPDX-License-Identifier: MIT
#include "link_counters.h"

#include <array>
#include <ctime>

#include "counter_table.h"
#include "result_codes.h"
#include "segment_access.h"

namespace qo3964 {

namespace {

// The 64-bit words are read and written whole: the record lies on an
// 8-byte boundary, as in the segment.
alignas(8) ServerCounters own_counters{};
volatile ServerCounters* target = &own_counters;

struct FailureField {
    int32_t code;
    CounterField field;
};

constexpr std::array<FailureField, 4> failure_fields{{
    {RC_NO_CONNECT, &ServerCounters::sends_failed_no_connect},
    {RC_NO_ACK, &ServerCounters::sends_failed_no_ack},
    {RC_BREAK, &ServerCounters::sends_failed_break},
    {RC_TOO_LONG, &ServerCounters::sends_failed_too_long},
}};

uint64_t counter(CounterField field)
{
    return load_field(target->*field);
}

// Milliseconds since 1970 (UTC) by the wall clock: for people, never for
// a time limit.
uint64_t wall_clock_ms()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec / 1000000);
}

}  // namespace

void counters_publish_in(volatile ServerCounters& destination)
{
    for (const CounterInfo& entry : counter_table) {
        store_field(destination.*entry.field, counter(entry.field));
    }
    target = &destination;
}

void count(CounterField field, uint64_t amount)
{
    volatile uint64_t& value = target->*field;
    store_field(value, load_field(value) + amount);
}

void count_total(CounterField field, uint64_t total)
{
    volatile uint64_t& value = target->*field;
    if (load_field(value) != total) {
        store_field(value, total);
    }
}

void count_time(CounterField field)
{
    store_field(target->*field, wall_clock_ms());
}

void count_send_failed(int32_t code)
{
    for (const FailureField& entry : failure_fields) {
        if (entry.code == code) {
            count(entry.field);
            return;
        }
    }
    count(&ServerCounters::sends_failed_other);
}

}  // namespace qo3964
