// SPDX-License-Identifier: MIT
// The server's hand-over points between the job dispatcher and the 3964R
// protocol engine: the send slot and the ring of received telegrams.
#pragma once

#include <cstdint>

#include "shared_segment.h"

namespace qo3964 {

inline constexpr int32_t FIFO_DEPTH = 16;

// Values of TelegramSlot::state.
enum SlotState : int32_t {
    SLOT_FREE = 0,
    SLOT_STAGED = 1,  // send slot: staged by the dispatcher
    SLOT_TAKEN = 2,   // send slot: taken by the engine
    SLOT_DONE = 3,    // finished: a send result, or a received telegram
};

struct TelegramSlot {
    uint8_t data[TELEGRAM_MAX];
    int32_t length;  // 0 to TELEGRAM_MAX
    int32_t status;  // 0 unknown, 1 good, or a negative result code
    int32_t state;   // SlotState
};

struct ReceiveFifo {
    TelegramSlot entries[FIFO_DEPTH];
    int32_t head;   // index of the oldest entry
    int32_t count;  // entries held, 0 to FIFO_DEPTH
};

}  // namespace qo3964
