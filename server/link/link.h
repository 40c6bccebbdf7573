// SPDX-License-Identifier: MIT
// The link layer as one object: the procedure's settings, the protocol
// engine and its transfer buffers, the send slot and the receive ring,
// the serial line and the keeper of the port. The server's loop owns one
// and hands it to every step; a test owns one of its own.
#pragma once

#include <cstdint>

#include "link_transfer.h"
#include "port_keeper.h"
#include "protocol_engine.h"
#include "serial_line.h"
#include "telegram_buffers.h"

namespace qo3964 {

struct Link {
    ProcedureSettings procedure{};
    ProtocolEngine engine{};
    LinkTransfer transfer{};
    TelegramSlot snd_set{};      // the send slot
    ReceiveFifo p3964_fifo{};    // received telegrams, oldest at head
    SerialLine line{};
    PortKeeper port{};
};

// What the link waits for before its next step: its descriptor with the
// events that matter in its state (fd -1 while the port is down), and the
// milliseconds to its earliest deadline (-1: none).
struct LinkWait {
    int fd = -1;
    int16_t events = 0;
    int32_t timeout_ms = -1;
};

LinkWait link_wait_plan(Link& link);
// Tells the link what a wait for `watched` saw on its descriptor (a
// hang-up loses the port at the next step).
void link_events_seen(Link& link, int16_t watched, int16_t revents);

// One wait for whatever calls for the next step: the line as the link's
// state asks, `wake_fd` (whose count is read off), and the link's earliest
// deadline, but at most max_ms.
void link_wait(Link& link, int wake_fd, int32_t max_ms);

}  // namespace qo3964
