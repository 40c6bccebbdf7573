// SPDX-License-Identifier: MIT
// The protocol engine's transfer fields and the three operations that move
// telegrams between them, the send slot and the receive ring.
#pragma once

#include <cstdint>

#include "telegram_buffers.h"

namespace qo3964 {

struct LinkTransfer {
    uint8_t tx_data[TELEGRAM_MAX];  // the telegram being sent
    int32_t tx_length;
    int32_t send_pending;   // 1 from take_send_job until the send is completed
    int32_t send_attempts;  // failed attempts of the current send
    uint8_t rx_data[TELEGRAM_MAX];  // the telegram being received, or one waiting
    int32_t rx_length;
    // A receive-side status waiting to be queued as an entry of its own
    // (length 0), ahead of the next telegram; 0: none.
    int32_t rx_status;
    int32_t rx_waiting;  // 1 while a finished telegram could not be queued
};

struct Link;

// Picks up a staged send from the send slot when none is pending. A slot
// whose length lies outside 0 to TELEGRAM_MAX is not taken but finished
// with RC_TOO_LONG.
void take_send_job(Link& link);
// Ends the current send for good with a status (1 or a negative code).
void complete_send(Link& link, int32_t status);
// Queues rx_data as a good telegram (status 1), after a waiting status
// report; keeps it (rx_waiting) when the ring has no room for it.
void push_received(Link& link);
// Records a receive-side status (a failed reception, a refused telegram,
// a line error) and queues it as an entry of its own when there is room.
// A waiting -83 is not replaced: a lost telegram must be seen.
void report_status(Link& link, int32_t code);
// Queues a waiting status report; false when the ring has no room for it.
bool push_report(Link& link);

}  // namespace qo3964
