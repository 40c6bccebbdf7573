// SPDX-License-Identifier: MIT
// The library's per-handle connection records.
//
// Internal to the library: nothing here is part of the public header.
#pragma once

#include <cstdint>

#include "client_rc_file.h"
#include "deadline_timer.h"
#include "shared_segment.h"

namespace qo3964::client {

inline constexpr int HANDLE_COUNT = 10;

// The owner of a send: the process and its own number for the job, as
// written into send_job with the hand-over (seq 0: none).
struct JobOwner {
    int32_t pid;
    uint32_t seq;
};

// One record per handle. The segment is shared with the server without a
// lock, so it is only ever reached through a volatile pointer.
struct ClientConnection {
    volatile SharedSegment* segment;  // address of the last attach attempt
    // What the rc-file of the last open said: the key file handed to ftok,
    // the serial device, and the server's account.
    ClientRcSettings settings;
    int16_t attached;                 // 1 while the segment is attached
    int32_t owner_pid;                // process that opened the handle
    int16_t send_phase;   // -1 after open, 3 while a send is out, 0 after collection
    int16_t send_result;  // result of the last collected send
    DeadlineTimer send_timer;  // time-out of the current send
    int16_t aux_mark;          // -1 after a successful open
    int segment_id;            // of the attached segment
    int64_t next_liveness_ms;  // when the server's liveness is looked at next
    bool server_gone;          // the server ended without its shutdown marks
    JobOwner send_owner;       // of this handle's send not yet collected
};

// Milliseconds on the monotonic clock, for the library's own checks (the
// calls' time-outs run on the deadline timers); microseconds where a
// time-out is waited for whole, not a millisecond short by rounding.
int64_t now_ms();
int64_t now_us();

// The record of a handle, or nullptr for a handle outside 0 to 9.
ClientConnection* connection_for(int handle);

// The check that begins every call on a handle: 0 when the handle is
// valid and attached, else -50 (bad handle) or -98 (not attached).
int32_t check_attached(int handle);

}  // namespace qo3964::client
