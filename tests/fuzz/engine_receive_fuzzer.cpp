// SPDX-License-Identifier: MIT
// The 3964R protocol engine fed arbitrary line bytes. The engine reads and
// writes one end of a socket pair; the fuzzer plays the partner on the
// other end, stages sends and empties the receive ring as the dispatcher
// would, and checks after every step that no buffer index or length has
// left its range. The engine's time runs on a fake clock that its own
// sleeps advance, so a step costs no real waiting.
//
// Input: a settings byte, a byte that pre-fills the receive ring, then
// records:
//   0x00              one step on a silent line
//   0x01..0x7F        that many bytes to the engine, steps until it has read them
//   0x80..0xEF n      ((h - 0x80) << 8 | n) bytes, the same way
//   0xF0              the dispatcher takes the oldest ring entry
//   0xF1..0xFF lo hi  stage a send of (lo | hi << 8) % 4097 bytes
// At the end the line falls silent and the engine must settle in idle.
#include <array>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "deadline_timer.h"
#include "link.h"
#include "protocol_engine.h"
#include "result_codes.h"
#include "serial_line.h"

using namespace qo3964;

namespace {

void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "protocol engine: %s\n", what);
        std::abort();
    }
}

// ---- the fake clock -----------------------------------------------------

int64_t fake_ms = 0;

int32_t fake_ticks()
{
    // The counter is 32 bits wide; it wraps like the real one.
    return static_cast<int32_t>(static_cast<uint32_t>(fake_ms / ms_per_tick()));
}

int32_t fake_sleep(int32_t ms)
{
    if (ms > 0) {
        fake_ms += ms;
    }
    return 0;
}

// The line's wait: what is there is there at once; otherwise the time
// passes without real waiting.
int32_t fake_wait(int fd, int16_t events, int32_t ms, int16_t* revents)
{
    pollfd watched{fd, events, 0};
    const int ready = poll(&watched, 1, 0);
    *revents = ready > 0 ? watched.revents : 0;
    if (ready == 0) {
        fake_sleep(ms);
    }
    return ready;
}

// Every run starts one second before the tick counter wraps, so the
// timers' roll-over arithmetic is part of every run.
void start_clock()
{
    fake_ms = (static_cast<int64_t>(INT32_MAX) - 100) * ms_per_tick();
}

// ---- the line -----------------------------------------------------------

// The link under test (kept out of the stack: its buffers are large).
Link& fz()
{
    static Link link;
    return link;
}

int engine_fd = -1;
int partner_fd = -1;

// Bytes written to the engine that it has not read yet.
int unread_by_engine()
{
    int pending = 0;
    require(ioctl(engine_fd, FIONREAD, &pending) == 0, "FIONREAD");
    // Bytes the line driver read ahead are unread too.
    return pending + serial_input_held(fz().line);
}

void drain(int fd)
{
    std::array<uint8_t, 4096> sink{};
    while (read(fd, sink.data(), sink.size()) > 0) {
    }
}

void feed(const uint8_t* bytes, size_t count)
{
    require(write(partner_fd, bytes, count) == static_cast<ssize_t>(count), "feeding the line");
}

// ---- invariants ---------------------------------------------------------

constexpr std::array<int32_t, 9> engine_states{
    ENGINE_IDLE,       ENGINE_REJECT,   ENGINE_RX_BLOCKED, ENGINE_RX_ACCEPT, ENGINE_RX_BODY,
    ENGINE_TX_CONNECT, ENGINE_TX_START, ENGINE_TX_DATA,    ENGINE_TX_ACK,
};
// Statuses a ring entry may carry.
constexpr std::array<int32_t, 8> entry_statuses{
    RC_OK, RC_BREAK, RC_PARITY, RC_RX_OVERFLOW, RC_RX_BCC, RC_RX_OCCUPIED, RC_RX_ZVZ, RC_RX_NO_BCC,
};
// Results a finished send may carry.
constexpr std::array<int32_t, 4> send_statuses{RC_OK, RC_BREAK, RC_NO_ACK, RC_NO_CONNECT};

template <size_t N>
bool one_of(int32_t value, const std::array<int32_t, N>& allowed)
{
    for (int32_t a : allowed) {
        if (a == value) {
            return true;
        }
    }
    return false;
}

bool fits(int32_t length)
{
    return length >= 0 && length <= TELEGRAM_MAX;
}

bool held(int32_t index)
{
    const int32_t offset = (index - fz().p3964_fifo.head + FIFO_DEPTH) % FIFO_DEPTH;
    return offset < fz().p3964_fifo.count;
}

void check_ring()
{
    require(fz().p3964_fifo.count >= 0 && fz().p3964_fifo.count <= FIFO_DEPTH, "ring count out of 0..16");
    require(fz().p3964_fifo.head >= 0 && fz().p3964_fifo.head < FIFO_DEPTH, "ring head out of 0..15");
    for (int32_t i = 0; i < FIFO_DEPTH; ++i) {
        const TelegramSlot& entry = fz().p3964_fifo.entries[i];
        require(fits(entry.length), "ring entry length out of 0..4096");
        if (held(i)) {
            require(entry.state == SLOT_DONE, "held ring entry not finished");
            require(one_of(entry.status, entry_statuses), "ring entry with a foreign status");
        } else {
            require(entry.state == SLOT_FREE, "free ring entry not free");
        }
    }
}

void check_engine()
{
    const LinkTransfer& lt = fz().transfer;
    require(one_of(fz().engine.engine_state, engine_states), "unknown engine state");
    require(fits(lt.rx_length), "rx_length out of 0..4096");
    require(fits(lt.tx_length), "tx_length out of 0..4096");
    // tx_pos belongs to the telegram on the line; between sends it keeps
    // the end of the last one.
    if (fz().engine.engine_state == ENGINE_TX_DATA || fz().engine.engine_state == ENGINE_TX_ACK) {
        require(lt.send_pending == 1, "writing a telegram that is not pending");
        require(fz().engine.tx_pos >= 0 && fz().engine.tx_pos <= lt.tx_length, "tx_pos beyond the telegram");
    }
    require(lt.rx_waiting == 0 || lt.rx_waiting == 1, "rx_waiting");
    require(lt.rx_status == 0 || one_of(lt.rx_status, entry_statuses), "rx_status");
    require(fz().engine.rx_failures >= 0 && fz().engine.rx_failures < fz().procedure.tdr, "rx_failures reached tdr");
    require(lt.send_pending == 0 || lt.send_pending == 1, "send_pending");
    if (lt.send_pending == 1) {
        require(fz().snd_set.state == SLOT_TAKEN, "pending send without a taken slot");
        require(lt.send_attempts >= 0 && lt.send_attempts < fz().procedure.tds, "send_attempts reached tds");
    }
    check_ring();
}

// ---- the dispatcher's part ----------------------------------------------

// A finished send is handed back, as the dispatcher does in the same pass.
void hand_back_send()
{
    if (fz().snd_set.state == SLOT_DONE) {
        require(one_of(fz().snd_set.status, send_statuses), "send finished with a foreign status");
        require(fz().transfer.send_pending == 0, "finished send still pending");
        fz().snd_set.state = SLOT_FREE;
        fz().snd_set.status = 0;
    }
}

void take_oldest_entry()
{
    if (fz().p3964_fifo.count == 0) {
        return;
    }
    TelegramSlot& entry = fz().p3964_fifo.entries[fz().p3964_fifo.head];
    entry.status = 0;
    entry.state = SLOT_FREE;
    fz().p3964_fifo.head = (fz().p3964_fifo.head + 1) % FIFO_DEPTH;
    fz().p3964_fifo.count -= 1;
}

void stage_send(uint8_t seed, int32_t length)
{
    if (fz().snd_set.state != SLOT_FREE) {
        return;
    }
    // Every byte value turns up, DLEs included.
    for (int32_t i = 0; i < length; ++i) {
        fz().snd_set.data[i] = static_cast<uint8_t>(seed + i * 7);
    }
    fz().snd_set.length = length;
    fz().snd_set.status = 0;
    fz().snd_set.state = SLOT_STAGED;
}

// A step, and when it did nothing the server's wait: it tells the engine
// what the line holds, and the time it would wait for passes at once on
// the fake clock when nothing is there.
void step()
{
    if (!engine_step(fz())) {
        const LinkWait plan = link_wait_plan(fz());
        const int32_t timeout = plan.timeout_ms > 0 ? plan.timeout_ms : 1;
        if (plan.fd < 0) {
            fake_sleep(timeout);
        } else {
            int16_t revents = 0;
            fake_wait(plan.fd, plan.events, timeout, &revents);
            link_events_seen(fz(), plan.events, revents);
        }
    }
    drain(partner_fd);
    hand_back_send();
    check_engine();
}

// Steps until the engine has read everything fed to it. Every byte is read
// within a bounded number of steps (each byte can start at most one wait
// for room in the ring, and a step that waits lets the time pass).
void run_until_read(size_t fed)
{
    const size_t bound = (fed + 1) * 448;
    for (size_t n = 0; unread_by_engine() > 0; ++n) {
        require(n < bound, "the engine stopped reading the line");
        step();
    }
}

// On a silent line the engine ends up idle with no send pending.
void run_until_settled()
{
    for (int n = 0;; ++n) {
        const bool idle = fz().engine.engine_state == ENGINE_IDLE && unread_by_engine() == 0;
        if (idle && fz().transfer.send_pending == 0) {
            return;
        }
        require(n < 5000, "the engine does not settle on a silent line");
        step();
    }
}

// ---- the input ----------------------------------------------------------

struct Input {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;

    bool empty() const { return pos >= size; }
    uint8_t next() { return pos < size ? data[pos++] : 0; }
};

void apply_settings(uint8_t bits)
{
    fz().procedure.bcc_mode = (bits & 0x01) == 0 ? 1 : 0;
    fz().procedure.mmode = static_cast<int16_t>((bits >> 1) & 0x01);
    fz().procedure.tds = static_cast<int16_t>(1 + ((bits >> 2) & 0x03));
    fz().procedure.tdr = static_cast<int16_t>(1 + ((bits >> 4) & 0x03));
    // Short delay times keep the steps per input byte few; qvz stays
    // greater than zvz, as the configuration demands.
    fz().procedure.zvz = 20 * (1 + ((bits >> 6) & 0x03));
    fz().procedure.qvz = fz().procedure.zvz + 60;
}

// Entries of one byte each, as left by earlier receptions.
void prefill_ring(uint8_t bits)
{
    const int32_t count = (bits >> 4) == 15 ? FIFO_DEPTH : (bits >> 4);
    fz().p3964_fifo.head = bits & 0x0F;
    fz().p3964_fifo.count = count;
    for (int32_t n = 0; n < count; ++n) {
        TelegramSlot& entry = fz().p3964_fifo.entries[(fz().p3964_fifo.head + n) % FIFO_DEPTH];
        entry.data[0] = static_cast<uint8_t>(n);
        entry.length = 1;
        entry.status = RC_OK;
        entry.state = SLOT_DONE;
    }
}

void run_record(Input& in)
{
    const uint8_t h = in.next();
    if (h == 0x00) {
        step();
        return;
    }
    if (h == 0xF0) {
        take_oldest_entry();
        return;
    }
    if (h > 0xF0) {
        const int32_t length = (in.next() | in.next() << 8) % (TELEGRAM_MAX + 1);
        stage_send(h, length);
        return;
    }
    size_t length = h;
    if (h >= 0x80) {
        length = static_cast<size_t>(h - 0x80) << 8 | in.next();
    }
    if (length > in.size - in.pos) {
        length = in.size - in.pos;
    }
    feed(in.data + in.pos, length);
    in.pos += length;
    run_until_read(length);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    int fds[2];
    require(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds) == 0, "socketpair");
    engine_fd = fds[0];
    partner_fd = fds[1];
    tick_source = fake_ticks;
    sleep_source = fake_sleep;
    wait_source = fake_wait;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fz() = Link{};
    serial_use(fz().line, engine_fd);
    fz().line.monitor_on = 0;
    drain(engine_fd);
    drain(partner_fd);
    start_clock();

    Input in{data, size};
    apply_settings(in.next());
    prefill_ring(in.next());
    check_engine();
    while (!in.empty()) {
        run_record(in);
    }
    run_until_settled();
    return 0;
}
