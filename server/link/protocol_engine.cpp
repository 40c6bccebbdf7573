#include "protocol_engine.h"

#include <algorithm>
#include <array>

#include "link_transfer.h"
#include "result_codes.h"
#include "serial_line.h"
#include "telegram_buffers.h"

namespace qo3964 {

ProcedureSettings procedure{};
ProtocolEngine engine{};

namespace {

constexpr int32_t IDLE_READ_MS = 20;      // idle and connect reads
constexpr int32_t PAUSE_MS = 20;          // sleep of idle, reject, blocked and receive steps
constexpr int32_t DATA_PAUSE_MS = 10;     // sleep after each data step
constexpr int32_t BYTE_TIMER_MS = 10;     // a data chunk ends when a tick passes during a write
constexpr int32_t CHUNK_MAX = 1000;       // data bytes per step
constexpr int32_t RX_WINDOW_MS = 100;     // receive window per step
constexpr int32_t RX_BLOCKED_MS = 400;    // wait for room before refusing a telegram
constexpr int32_t DLE_ETX_BCC = DLE ^ ETX;

// Whether the state machine goes on within the current step.
enum class Flow { end_step, same_step };

LinkTransfer& lt = link_transfer;

void write_control(ControlChar c)
{
    // Results of control characters are not examined: a lost one shows up
    // as a missing answer and is handled by the partner's or our time-outs.
    serial_putc(c);
}

void arm(int32_t ms)
{
    timer_start(&engine.engine_timer, ms);
}

bool expired()
{
    return timer_read(&engine.engine_timer) == 0;
}

void go(EngineState next)
{
    engine.engine_state = next;
}

// A NUL byte or a marked line error; silence is not one.
bool is_line_status(int c)
{
    return c <= 0 && c != RC_SILENCE;
}

// ---- idle ---------------------------------------------------------------

// A latched BREAK or parity error is handed to the client as an entry of
// its own when the ring is empty, and a BREAK fails a pending send.
void report_line_error()
{
    const int32_t error = engine.line_error;
    if (error != RC_BREAK && error != RC_PARITY) {
        return;
    }
    if (p3964_fifo.count == 0) {
        lt.rx_status = error;
        push_received(p3964_fifo);
    }
    if (lt.send_pending == 1 && error == RC_BREAK) {
        complete_send(RC_BREAK);
    }
}

void request_connection()
{
    write_control(STX);
    arm(procedure.qvz);
    go(ENGINE_TX_CONNECT);
}

Flow step_idle()
{
    // A telegram acknowledged while the ring was full is queued as soon as
    // there is room, not only when the partner sends again.
    if (lt.rx_waiting != 0 && p3964_fifo.count < FIFO_DEPTH) {
        push_received(p3964_fifo);
    }
    const int c = serial_getc(IDLE_READ_MS);
    if (is_line_status(c)) {
        engine.last_error = c;
    }
    if (engine.line_error == 0) {
        engine.line_error = engine.last_error;
    }
    report_line_error();

    if (c == STX) {
        engine.last_error = 0;
        engine.line_error = 0;
        if (lt.send_pending == 1 && procedure.mmode != 0) {
            request_connection();
            return Flow::end_step;
        }
        if (lt.rx_waiting != 0) {
            arm(RX_BLOCKED_MS);
            go(ENGINE_RX_BLOCKED);
            return Flow::end_step;
        }
        go(ENGINE_RX_ACCEPT);
        return Flow::same_step;
    }
    if (c == RC_SILENCE) {
        if (lt.send_pending == 1) {
            request_connection();
        } else {
            sleep_ms(PAUSE_MS);
        }
        return Flow::end_step;
    }
    arm(procedure.zvz);
    sleep_ms(PAUSE_MS);
    go(ENGINE_REJECT);
    return Flow::end_step;
}

Flow step_reject()
{
    // The line is not read here: whatever else the partner sends meets the
    // idle state afterwards.
    if (expired()) {
        write_control(NAK);
        go(ENGINE_IDLE);
    }
    sleep_ms(PAUSE_MS);
    return Flow::end_step;
}

// ---- receiving ----------------------------------------------------------

Flow step_rx_blocked()
{
    // rx_data is offered even when nothing waits: coming from a connect
    // conflict this queues an empty entry that carries a pending status to
    // the client; with the ring full it marks rx_data as waiting, so the
    // partner is refused when the limit runs out and the refusal (-83)
    // reaches the client with that entry.
    push_received(p3964_fifo);
    if (lt.rx_length == 0 && lt.rx_waiting == 0) {
        go(ENGINE_RX_ACCEPT);
        return Flow::same_step;
    }
    if (!expired()) {
        sleep_ms(PAUSE_MS);
        return Flow::end_step;
    }
    write_control(NAK);
    lt.rx_status = RC_RX_OCCUPIED;
    sleep_ms(PAUSE_MS);
    sleep_ms(PAUSE_MS);
    go(ENGINE_IDLE);
    return Flow::end_step;
}

Flow step_rx_accept()
{
    // STX waiting now were repeated by the partner while we were not
    // reading; its data come only after our DLE. Kept as data, two of them
    // would cancel in the block check and pass as part of the telegram.
    serial_drop_waiting(STX);
    write_control(DLE);
    receive_body(true, lt.rx_data, TELEGRAM_MAX, &lt.rx_length, RX_WINDOW_MS);
    go(ENGINE_RX_BODY);
    return Flow::end_step;
}

Flow step_rx_body()
{
    const int r = receive_body(false, lt.rx_data, TELEGRAM_MAX, &lt.rx_length, RX_WINDOW_MS);
    if (r == 0) {
        sleep_ms(PAUSE_MS);
        return Flow::end_step;
    }
    go(ENGINE_IDLE);
    if (r == 1) {
        lt.rx_waiting = 1;
        push_received(p3964_fifo);
        engine.rx_failures = 0;
        // rx_status is cleared by push_received once the telegram is queued;
        // while it has to wait, an earlier failure's code stays to travel
        // with it.
        return Flow::end_step;
    }
    lt.rx_status = r;
    lt.rx_length = 0;
    engine.rx_failures += 1;
    if (engine.rx_failures >= procedure.tdr) {
        push_received(p3964_fifo);
        engine.rx_failures = 0;
    }
    return Flow::end_step;
}

// Reads one byte of a telegram within zvz and books it into the check;
// false when the partner stayed silent.
bool read_body_char(int* c)
{
    *c = serial_getc(procedure.zvz);
    if (*c == RC_SILENCE) {
        engine.last_error = RC_SILENCE;
        return false;
    }
    if (*c <= 0) {
        engine.last_error = *c;
        if (*c < 0) {
            engine.rx_fault = 1;
        }
    }
    engine.rx_bcc ^= *c;
    return true;
}

bool store(uint8_t* buffer, int32_t capacity, int32_t* length, int c)
{
    if (*length >= capacity) {
        return false;
    }
    buffer[*length] = static_cast<uint8_t>(c & 0xFF);
    *length += 1;
    return true;
}

// After DLE ETX: the BCC (3964R), the check, and the answer.
int finish_body()
{
    if (procedure.bcc_mode != 0) {
        int bcc = 0;
        if (!read_body_char(&bcc)) {
            write_control(NAK);
            return RC_RX_NO_BCC;
        }
    }
    if ((procedure.bcc_mode != 0 && engine.rx_bcc != 0) || engine.rx_fault == 1) {
        write_control(NAK);
        return RC_RX_BCC;
    }
    write_control(DLE);
    return 1;
}

// ---- sending ------------------------------------------------------------

void count_failed_attempt(int32_t code)
{
    lt.send_attempts += 1;
    if (lt.send_attempts >= procedure.tds) {
        complete_send(code);
        write_control(NAK);
    }
    go(ENGINE_IDLE);
}

Flow step_tx_connect()
{
    const int c = serial_getc(IDLE_READ_MS);
    if (c == DLE) {
        go(ENGINE_TX_START);
        return Flow::same_step;
    }
    if (c == STX) {
        // Both sides want to send: give way without counting an attempt;
        // the own send stays pending and is tried again from idle.
        go(ENGINE_RX_BLOCKED);
        return Flow::same_step;
    }
    if (c == RC_SILENCE && !expired()) {
        return Flow::end_step;
    }
    count_failed_attempt(RC_NO_CONNECT);
    return Flow::end_step;
}

Flow step_tx_start()
{
    engine.tx_pos = 0;
    engine.tx_bcc = 0;
    engine.tx_dle_owed = 0;
    go(ENGINE_TX_DATA);
    return Flow::same_step;
}

// Writes the doubling DLE of a data DLE; when the line does not take it, it
// stays owed and goes out before anything else, so the partner never sees
// a lone DLE followed by data.
bool settle_doubling_dle()
{
    if (engine.tx_dle_owed == 0) {
        return true;
    }
    if (serial_putc(DLE) != 1) {
        return false;
    }
    engine.tx_dle_owed = 0;
    engine.tx_bcc ^= DLE;
    return true;
}

// One chunk of at most CHUNK_MAX data bytes; it ends early at the first
// byte the line does not take or when a clock tick passes during a write.
void write_chunk()
{
    if (!settle_doubling_dle()) {
        return;
    }
    const int32_t chunk = std::min(lt.tx_length - engine.tx_pos, CHUNK_MAX);
    DeadlineTimer byte_timer{};
    for (int32_t n = 0; n < chunk; ++n) {
        const uint8_t byte = lt.tx_data[engine.tx_pos];
        timer_start(&byte_timer, BYTE_TIMER_MS);
        const int written = serial_putc(byte);
        const bool tick_passed = timer_read(&byte_timer) == 0;
        if (written != 1) {
            return;  // written again in the next step; not a failed attempt
        }
        engine.tx_pos += 1;
        engine.tx_bcc ^= byte;
        if (byte == DLE) {
            engine.tx_dle_owed = 1;
            if (!settle_doubling_dle()) {
                return;
            }
        }
        if (tick_passed) {
            return;
        }
    }
}

bool data_remains()
{
    return engine.tx_pos < lt.tx_length || engine.tx_dle_owed != 0;
}

void write_closing_block()
{
    engine.tx_bcc ^= DLE_ETX_BCC;
    // The BCC goes out as it is, never doubled, even when it equals DLE.
    const std::array<uint8_t, 3> block{DLE, ETX, static_cast<uint8_t>(engine.tx_bcc & 0xFF)};
    const int32_t count = procedure.bcc_mode != 0 ? 3 : 2;
    serial_write(block.data(), count);
}

Flow step_tx_data()
{
    write_chunk();
    if (!data_remains()) {
        write_closing_block();
        go(ENGINE_TX_ACK);
    }
    sleep_ms(DATA_PAUSE_MS);
    return Flow::end_step;
}

Flow step_tx_ack()
{
    const int c = serial_getc(procedure.qvz);
    if (c == DLE) {
        complete_send(RC_OK);
        go(ENGINE_IDLE);
        return Flow::end_step;
    }
    count_failed_attempt(RC_NO_ACK);
    return Flow::end_step;
}

// ---- the state table ----------------------------------------------------

using StateHandler = Flow (*)();

struct StateRow {
    EngineState state;
    StateHandler handler;
};

constexpr std::array<StateRow, 9> state_table{{
    {ENGINE_IDLE, step_idle},
    {ENGINE_REJECT, step_reject},
    {ENGINE_RX_BLOCKED, step_rx_blocked},
    {ENGINE_RX_ACCEPT, step_rx_accept},
    {ENGINE_RX_BODY, step_rx_body},
    {ENGINE_TX_CONNECT, step_tx_connect},
    {ENGINE_TX_START, step_tx_start},
    {ENGINE_TX_DATA, step_tx_data},
    {ENGINE_TX_ACK, step_tx_ack},
}};

Flow run_state()
{
    for (const StateRow& row : state_table) {
        if (row.state == engine.engine_state) {
            return row.handler();
        }
    }
    go(ENGINE_IDLE);  // not a state of the table: start over from idle
    return Flow::end_step;
}

}  // namespace

int link_open(const char* port_path, int32_t baud, char parity, char flow, int16_t tds,
              int16_t tdr, int16_t mmode, int32_t zvz, int32_t qvz, int32_t bcc_mode,
              int32_t monitor)
{
    procedure.tds = tds;
    procedure.tdr = tdr;
    procedure.mmode = mmode;
    procedure.zvz = zvz;
    procedure.qvz = qvz;
    procedure.bcc_mode = bcc_mode;
    return serial_open(port_path, baud, parity, flow, monitor);
}

void engine_step()
{
    take_send_job(snd_set);
    while (run_state() == Flow::same_step) {
    }
}

int receive_body(bool reset, uint8_t* buffer, int32_t capacity, int32_t* length, int32_t window_ms)
{
    if (reset) {
        *length = 0;
        engine.rx_bcc = 0;
        engine.rx_fault = 0;
        return 0;
    }
    timer_start(&engine.window_timer, window_ms);
    for (;;) {
        int c = 0;
        if (!read_body_char(&c)) {
            write_control(NAK);
            return RC_RX_ZVZ;
        }
        if (c == DLE) {
            int next = 0;
            if (!read_body_char(&next)) {
                write_control(NAK);
                return RC_RX_ZVZ;
            }
            if (next == ETX) {
                return finish_body();
            }
            // DLE DLE is one data DLE; DLE and any other byte are both
            // dropped (they stay in the check).
            if (next == DLE && !store(buffer, capacity, length, DLE)) {
                return RC_RX_OVERFLOW;
            }
        } else if (!store(buffer, capacity, length, c)) {
            return RC_RX_OVERFLOW;  // no answer: the rest meets the idle state
        }
        if (timer_read(&engine.window_timer) == 0) {
            return 0;
        }
    }
}

void engine_reset()
{
    procedure = ProcedureSettings{};
    engine = ProtocolEngine{};
    link_transfer = LinkTransfer{};
    snd_set = TelegramSlot{};
    p3964_fifo = ReceiveFifo{};
    serial_line.last_line_error = 0;
}

}  // namespace qo3964
