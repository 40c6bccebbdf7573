// SPDX-License-Identifier: MIT
#include "link_transfer.h"

#include <cstring>

#include "link.h"
#include "result_codes.h"

namespace qo3964 {

namespace {

bool length_fits(int32_t length)
{
    return length >= 0 && length <= TELEGRAM_MAX;
}

}  // namespace

void take_send_job(Link& link)
{
    TelegramSlot& slot = link.snd_set;
    LinkTransfer& lt = link.transfer;
    if (lt.send_pending != 0 || slot.state != SLOT_STAGED) {
        return;
    }
    // The slot is filled from shared memory by the dispatcher; a length it
    // should never have staged is refused here rather than copied past the
    // end of either buffer.
    if (!length_fits(slot.length)) {
        slot.status = RC_TOO_LONG;
        slot.state = SLOT_DONE;
        return;
    }
    std::memcpy(lt.tx_data, slot.data, static_cast<size_t>(slot.length));
    lt.tx_length = slot.length;
    slot.status = 0;
    lt.send_pending = 1;
    // Each send gives way to a crossing STX once, however the one before it ended.
    link.engine.gave_way = 0;
    slot.state = SLOT_TAKEN;
}

void complete_send(Link& link, int32_t status)
{
    link.transfer.send_attempts = 0;
    link.snd_set.state = SLOT_DONE;
    link.transfer.send_pending = 0;
    link.snd_set.status = status;
}

namespace {

void queue_entry(ReceiveFifo& fifo, const uint8_t* data, int32_t length, int32_t status)
{
    TelegramSlot& entry = fifo.entries[(fifo.head + fifo.count) % FIFO_DEPTH];
    std::memcpy(entry.data, data, static_cast<size_t>(length));
    entry.length = length;
    entry.status = status;
    entry.state = SLOT_DONE;
    fifo.count = fifo.count + 1;
}

}  // namespace

bool push_report(Link& link)
{
    ReceiveFifo& fifo = link.p3964_fifo;
    LinkTransfer& lt = link.transfer;
    if (lt.rx_status == 0) {
        return true;
    }
    if (fifo.count >= FIFO_DEPTH) {
        return false;
    }
    queue_entry(fifo, lt.rx_data, 0, lt.rx_status);
    lt.rx_status = 0;
    return true;
}

void report_status(Link& link, int32_t code)
{
    LinkTransfer& lt = link.transfer;
    if (lt.rx_status != RC_RX_OCCUPIED) {
        lt.rx_status = code;
    }
    push_report(link);
}

void push_received(Link& link)
{
    ReceiveFifo& fifo = link.p3964_fifo;
    LinkTransfer& lt = link.transfer;
    lt.rx_waiting = 1;
    // A status waiting to be reported goes first; with the ring full the
    // telegram waits in rx_data until it is offered again.
    if (!push_report(link) || fifo.count >= FIFO_DEPTH) {
        return;
    }
    queue_entry(fifo, lt.rx_data, lt.rx_length, RC_OK);
    lt.rx_length = 0;
    lt.rx_waiting = 0;
}

}  // namespace qo3964
