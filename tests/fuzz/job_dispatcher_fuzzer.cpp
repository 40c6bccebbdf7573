// SPDX-License-Identifier: MIT
// The job dispatcher's passes over a segment whose every byte comes from
// the input, as any program attached to it could have written them, with
// the send slot and receive ring in any state the engine can leave them
// in. The engine step is a stub that takes staged sends, queues entries,
// finishes sends, and plays a client poking at the segment. The segment
// lies in a heap block of exactly its size, so AddressSanitizer sees any
// access beyond it.
//
// Input: a header of control fields (below), a pass count, four bytes per
// pass for the stub, then the segment's bytes (missing ones are zero).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "job_dispatcher.h"
#include "link.h"
#include "segment_owner.h"
#include "server_process.h"

using namespace qo3964;

namespace {

void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "job dispatcher: %s\n", what);
        std::abort();
    }
}

struct Input {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;

    uint8_t next() { return pos < size ? data[pos++] : 0; }
    int32_t length() { return (next() | next() << 8) % (TELEGRAM_MAX + 1); }
    int32_t signed_byte() { return static_cast<int8_t>(next()); }
};

bool fits(int32_t length)
{
    return length >= 0 && length <= TELEGRAM_MAX;
}

// ---- engine-side state the engine could have left ------------------------

// The link the passes work on (kept out of the stack: its buffers are large).
Link& fz()
{
    static Link link;
    return link;
}

void load_send_slot(Input& in)
{
    fz().snd_set.state = in.next() & 0x03;
    fz().snd_set.length = in.length();
    fz().snd_set.status = in.signed_byte();
    fz().transfer.send_pending = fz().snd_set.state == SLOT_TAKEN ? 1 : 0;
}

void load_ring(Input& in)
{
    const uint8_t bits = in.next();
    fz().p3964_fifo.head = bits & 0x0F;
    fz().p3964_fifo.count = (bits >> 4) == 15 ? FIFO_DEPTH : (bits >> 4);
    for (TelegramSlot& entry : fz().p3964_fifo.entries) {
        entry.length = in.length();
    }
    const int32_t status = in.signed_byte();
    for (int32_t n = 0; n < fz().p3964_fifo.count; ++n) {
        TelegramSlot& entry = fz().p3964_fifo.entries[(fz().p3964_fifo.head + n) % FIFO_DEPTH];
        entry.status = status != 0 ? status : 1;
        entry.state = SLOT_DONE;
    }
}

// ---- the stub engine step -------------------------------------------------

struct Pass {
    uint8_t action;
    uint8_t a1;
    uint8_t a2;
    uint8_t a3;
};

// The stub's part of the input, four bytes a pass.
Input script{nullptr, 0};
SharedSegment* segment = nullptr;

void queue_telegram(const Pass& p)
{
    LinkTransfer& lt = fz().transfer;
    lt.rx_length = (p.a1 | p.a2 << 8) % (TELEGRAM_MAX + 1);
    std::memset(lt.rx_data, p.a3, static_cast<size_t>(lt.rx_length));
    lt.rx_status = static_cast<int8_t>(p.a3) < 0 ? static_cast<int8_t>(p.a3) : 0;
    push_received(fz());
}

void finish_send(const Pass& p)
{
    if (fz().transfer.send_pending == 1) {
        complete_send(fz(), static_cast<int8_t>(p.a1) < 0 ? static_cast<int8_t>(p.a1) : 1);
    }
}

// A client writes one byte anywhere in the segment.
void poke(const Pass& p)
{
    const size_t offset = (p.a1 | p.a2 << 8) % sizeof(SharedSegment);
    reinterpret_cast<uint8_t*>(segment)[offset] = p.a3;
}

// A client collects what the server handed it.
void collect()
{
    JobBlock& receive = segment->receive_job;
    receive.length = 0;
    receive.result = 0;
    receive.state = JOB_IDLE;
    JobBlock& send = segment->send_job;
    if (send.state == JOB_DONE) {
        send.result = 0;
        send.state = JOB_IDLE;
    }
}

bool stub_engine_step(Link&)
{
    take_send_job(fz());
    const Pass p{script.next(), script.next(), script.next(), script.next()};
    switch (p.action % 5) {
    case 1:
        queue_telegram(p);
        break;
    case 2:
        finish_send(p);
        break;
    case 3:
        poke(p);
        break;
    case 4:
        collect();
        break;
    default:
        break;
    }
    return false;
}

void check()
{
    require(fz().p3964_fifo.count >= 0 && fz().p3964_fifo.count <= FIFO_DEPTH, "ring count out of 0..16");
    require(fz().p3964_fifo.head >= 0 && fz().p3964_fifo.head < FIFO_DEPTH, "ring head out of 0..15");
    for (const TelegramSlot& entry : fz().p3964_fifo.entries) {
        require(fits(entry.length), "ring entry length out of 0..4096");
    }
    if (fz().snd_set.state == SLOT_STAGED || fz().snd_set.state == SLOT_TAKEN) {
        require(fits(fz().snd_set.length), "send slot holds a length beyond 4096");
    }
    require(fits(fz().transfer.tx_length), "tx_length out of 0..4096");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input in{data, size};
    fz() = Link{};
    stop_reason = STOP_NONE;
    load_send_slot(in);
    load_ring(in);

    const size_t passes = in.next();
    const size_t script_bytes = std::min(passes * sizeof(Pass), size - std::min(size, in.pos));
    script = Input{data + in.pos, script_bytes};
    in.pos += script_bytes;

    auto* block = static_cast<SharedSegment*>(std::calloc(1, sizeof(SharedSegment)));
    require(block != nullptr, "calloc");
    if (in.pos < size) {
        std::memcpy(block, data + in.pos, std::min(sizeof(SharedSegment), size - in.pos));
    }
    segment = block;
    server_segment = block;

    check();
    for (size_t n = 0; n < passes; ++n) {
        service_jobs(fz(), stub_engine_step);
        check();
    }
    server_segment = nullptr;
    segment = nullptr;
    std::free(block);
    return 0;
}
