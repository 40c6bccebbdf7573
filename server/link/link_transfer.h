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
    int32_t rx_status;   // status for the next queued entry; 0: none (entry gets 1)
    int32_t rx_waiting;  // 1 while a finished telegram could not be queued
};

extern LinkTransfer link_transfer;

// Picks up a staged send when none is pending. A slot whose length lies
// outside 0 to TELEGRAM_MAX is not taken but finished with RC_TOO_LONG.
void take_send_job(TelegramSlot& slot);
// Ends the current send for good with a status (1 or a negative code).
void complete_send(int32_t status);
// Queues rx_data with rx_status; keeps it (rx_waiting) when the ring is full.
void push_received(ReceiveFifo& fifo);

}  // namespace qo3964
