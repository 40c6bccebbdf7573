// SPDX-License-Identifier: MIT
#include "protocol_engine.h"

#include <algorithm>
#include <array>

#include "engine_pacing.h"
#include "link_events.h"
#include "link_transfer.h"
#include "port_keeper.h"
#include "result_codes.h"
#include "serial_line.h"
#include "telegram_buffers.h"

namespace qo3964 {

ProcedureSettings procedure{};
ProtocolEngine engine{};

namespace {

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

// ---- reports ------------------------------------------------------------

// A status waiting to be reported, then a telegram acknowledged while the
// ring was full, are queued as soon as there is room.
void release_waiting()
{
    if (push_report(p3964_fifo) && lt.rx_waiting != 0 && p3964_fifo.count < FIFO_DEPTH) {
        push_received(p3964_fifo);
    }
}

// A BREAK or parity error read outside a telegram is reported once, as an
// entry of its own; a BREAK also fails the send pending at that moment.
void report_line_error(int c)
{
    if (c != RC_BREAK && c != RC_PARITY) {
        return;
    }
    report_status(p3964_fifo, c);
    const bool fails_send = lt.send_pending == 1 && c == RC_BREAK;
    log_line_error(c, fails_send);
    if (fails_send) {
        complete_send(RC_BREAK);
    }
}

// The partner answered; after a send that it left unanswered, say so once.
void partner_answered()
{
    if (engine.partner_silent != 0) {
        engine.partner_silent = 0;
        log_partner_back();
    }
}

void finish_send(int32_t status)
{
    complete_send(status);
    if (status == RC_OK) {
        engine.line_suspect = 0;
        log_telegram_sent(lt.tx_length);
        partner_answered();
        return;
    }
    log_send_failed(status);
    if ((status == RC_NO_CONNECT || status == RC_NO_ACK) && engine.partner_silent == 0) {
        engine.partner_silent = 1;
        log_partner_silent(status);
    }
}

// ---- rejecting ----------------------------------------------------------

// Reads and drops what the partner still sends until the line has been
// quiet for zvz. Nothing read meanwhile is a connection request: an STX
// amid noise, or in the rest of a telegram given up on, would begin a
// telegram of fragments whose block check may match by chance.
void begin_reject(bool nak_owed)
{
    engine.reject_nak_owed = nak_owed ? 1 : 0;
    engine.reject_limited = 0;
    engine.line_suspect = 1;
    arm(procedure.zvz);
    go(ENGINE_REJECT);
}

// The one NAK for what was rejected, unless the failed reception that
// began the rejection was answered already; true when it was written.
bool end_reject()
{
    if (engine.reject_nak_owed == 0) {
        return false;
    }
    engine.reject_nak_owed = 0;
    write_control(NAK);
    return true;
}

// A send pending beside a rejection waits at most qvz: a line that never
// falls quiet (a floating input, a partner at another speed) must not
// starve it. Its STX then goes out into the noise, and an attempt that
// fails there counts as any other.
bool send_waited_enough()
{
    if (lt.send_pending != 1) {
        return false;
    }
    if (engine.reject_limited == 0) {
        timer_start(&engine.reject_limit, procedure.qvz);
        engine.reject_limited = 1;
        return false;
    }
    return timer_read(&engine.reject_limit) == 0;
}

// ---- idle ---------------------------------------------------------------

void request_connection()
{
    write_control(STX);
    arm(procedure.qvz);
    go(ENGINE_TX_CONNECT);
}

// The partner's STX, read in idle.
Flow partner_requests()
{
    engine.last_error = 0;
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

Flow step_idle()
{
    release_waiting();
    const int c = serial_getc(IDLE_READ_MS);
    if (is_line_status(c)) {
        engine.last_error = c;
    }
    if (c == STX) {
        return partner_requests();
    }
    if (c == RC_SILENCE) {
        if (lt.send_pending == 1) {
            request_connection();
        } else {
            sleep_ms(STEP_PAUSE_MS);
        }
        return Flow::end_step;
    }
    report_line_error(c);
    begin_reject(true);
    sleep_ms(STEP_PAUSE_MS);
    return Flow::end_step;
}

// Waits for zvz of quiet; whatever arrives meanwhile, an STX too, is
// dropped and starts the quiet time again, so a burst of any length ends
// in at most one NAK. A partner that began a telegram right after the
// noise repeats its STX after its qvz and is served then.
Flow step_reject()
{
    if (send_waited_enough()) {
        end_reject();
        request_connection();
        return Flow::end_step;
    }
    const int32_t left = timer_read(&engine.engine_timer);
    const int c = serial_getc(std::min(left, IDLE_READ_MS));
    if (c != RC_SILENCE) {
        report_line_error(c);
        arm(procedure.zvz);
        return Flow::end_step;
    }
    if (expired()) {
        if (end_reject()) {
            sleep_ms(STEP_PAUSE_MS);
        }
        go(ENGINE_IDLE);
    }
    return Flow::end_step;
}

// ---- receiving ----------------------------------------------------------

Flow step_rx_blocked()
{
    // A telegram acknowledged while the ring was full waits in rx_data;
    // the partner's new one is accepted once it is queued, or refused when
    // no room comes within the limit.
    release_waiting();
    if (lt.rx_waiting == 0) {
        go(ENGINE_RX_ACCEPT);
        return Flow::same_step;
    }
    if (!expired()) {
        // Room comes from the dispatcher's pass between two steps: a short
        // pause lets it hand out entries as fast as the client takes them.
        sleep_ms(RX_BLOCKED_PAUSE_MS);
        return Flow::end_step;
    }
    write_control(NAK);
    log_telegram_refused();
    report_status(p3964_fifo, RC_RX_OCCUPIED);
    sleep_ms(STEP_PAUSE_MS);
    sleep_ms(STEP_PAUSE_MS);
    go(ENGINE_IDLE);
    return Flow::end_step;
}

// A sender waits for our DLE after its STX, so nothing but a repeated STX
// may follow it before the DLE. Bytes right behind it make it a byte of
// something else: the rest of a telegram given up on, or noise. After a
// failure on the line the STX must also stand alone for two character
// times, for a line whose bytes arrive one by one.
bool stx_stands_alone()
{
    constexpr int32_t ALONE_CHARS = 2;
    const int32_t wait_ms = engine.line_suspect != 0 ? serial_wire_ms(ALONE_CHARS) + 1 : 0;
    return !serial_byte_waiting(wait_ms);
}

Flow step_rx_accept()
{
    // STX waiting now were repeated by the partner while we were not
    // reading; its data come only after our DLE. Kept as data, two of them
    // would cancel in the block check and pass as part of the telegram.
    serial_drop_waiting(STX);
    if (!stx_stands_alone()) {
        log_false_request();
        begin_reject(true);
        return Flow::end_step;
    }
    write_control(DLE);
    receive_body(true, lt.rx_data, TELEGRAM_MAX, &lt.rx_length, RX_WINDOW_MS);
    go(ENGINE_RX_BODY);
    return Flow::end_step;
}

Flow step_rx_body()
{
    const int r = receive_body(false, lt.rx_data, TELEGRAM_MAX, &lt.rx_length, RX_WINDOW_MS);
    if (r == 0) {
        sleep_ms(STEP_PAUSE_MS);
        return Flow::end_step;
    }
    go(ENGINE_IDLE);
    if (r == 1) {
        engine.line_suspect = 0;
        log_telegram_received(lt.rx_length);
        lt.rx_waiting = 1;
        push_received(p3964_fifo);
        if (engine.rx_failures > 0) {
            log_reception_recovered(engine.rx_failures, engine.rx_last_failure);
        }
        engine.rx_failures = 0;
        partner_answered();
        return Flow::end_step;
    }
    // A failure the partner's repetition may still recover is not the
    // application's business; only the tdr-th in a row is reported.
    lt.rx_length = 0;
    engine.rx_failures += 1;
    engine.rx_last_failure = r;
    if (engine.rx_failures >= procedure.tdr) {
        log_reception_reported(r, engine.rx_failures);
        report_status(p3964_fifo, r);
        engine.rx_failures = 0;
    } else {
        log_reception_failed(r, engine.rx_failures);
    }
    // What the partner still sends of the telegram belongs to no new one.
    // An overflow was not answered: the rejection ends with the NAK.
    begin_reject(r == RC_RX_OVERFLOW);
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

// An attempt failed on `answer` (RC_SILENCE when none came or the line
// took nothing). What the line has not sent of it must not go out ahead of
// the next STX; an answer that is no answer (noise, a line error) is
// rejected like noise in idle, but without a NAK of its own.
void count_failed_attempt(int32_t code, int answer = RC_SILENCE)
{
    serial_flush_output();
    lt.send_attempts += 1;
    if (answer != RC_SILENCE && answer != NAK) {
        begin_reject(false);
    } else {
        go(ENGINE_IDLE);
    }
    if (lt.send_attempts >= procedure.tds) {
        finish_send(code);
        write_control(NAK);
        return;
    }
    log_attempt_failed(code, lt.send_attempts, procedure.tds);
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
    log_failed_answer(c);
    count_failed_attempt(RC_NO_CONNECT, c);
    return Flow::end_step;
}

Flow step_tx_start()
{
    engine.tx_pos = 0;
    engine.tx_bcc = 0;
    engine.tx_dle_owed = 0;
    arm(procedure.qvz);
    go(ENGINE_TX_DATA);
    return Flow::same_step;
}

bool data_remains()
{
    return engine.tx_pos < lt.tx_length || engine.tx_dle_owed != 0;
}

// Books `count` bytes of the chunk as written: they were an owed doubling
// DLE, then the data from tx_pos on with every DLE doubled. A DLE whose
// double was not taken stays owed, exactly as a refused byte.
void book_written(int32_t count)
{
    int32_t booked = 0;
    if (engine.tx_dle_owed != 0 && booked < count) {
        engine.tx_dle_owed = 0;
        engine.tx_bcc ^= DLE;
        booked += 1;
    }
    while (booked < count) {
        const uint8_t byte = lt.tx_data[engine.tx_pos];
        engine.tx_pos += 1;
        engine.tx_bcc ^= byte;
        booked += 1;
        if (byte == DLE) {
            if (booked < count) {
                engine.tx_bcc ^= DLE;
                booked += 1;
            } else {
                engine.tx_dle_owed = 1;
            }
        }
    }
}

// One chunk of at most CHUNK_MAX data bytes, every DLE doubled, handed to
// the line in as few writes as it takes; what it does not take goes out in
// the next step. Returns the bytes taken, or -1 when a write failed.
int32_t write_chunk()
{
    std::array<uint8_t, 2 * CHUNK_MAX + 1> chunk{};
    int32_t size = 0;
    if (engine.tx_dle_owed != 0) {
        chunk[size++] = DLE;
    }
    const int32_t end = engine.tx_pos + std::min(lt.tx_length - engine.tx_pos, CHUNK_MAX);
    for (int32_t at = engine.tx_pos; at < end; ++at) {
        chunk[size++] = lt.tx_data[at];
        if (lt.tx_data[at] == DLE) {
            chunk[size++] = DLE;
        }
    }
    const int32_t written = serial_write_some(chunk.data(), size);
    if (written > 0) {
        book_written(written);
    }
    return written;
}

// The closing block DLE ETX (BCC), written as one block that must leave
// within qvz; false when it did not.
bool write_closing_block()
{
    engine.tx_bcc ^= DLE_ETX_BCC;
    // The BCC goes out as it is, never doubled, even when it equals DLE.
    const std::array<uint8_t, 3> block{DLE, ETX, static_cast<uint8_t>(engine.tx_bcc & 0xFF)};
    const int32_t count = procedure.bcc_mode != 0 ? 3 : 2;
    return serial_write(block.data(), count, procedure.qvz) == 0;
}

// A line that takes no byte for qvz (a dead adapter, CTS held low), or a
// write that fails, ends the attempt as a failed one.
Flow step_tx_data()
{
    const int32_t written = write_chunk();
    if (written > 0) {
        arm(procedure.qvz);
    } else if (written < 0 || (data_remains() && expired())) {
        count_failed_attempt(RC_NO_ACK);
        return Flow::end_step;
    }
    if (!data_remains()) {
        if (!write_closing_block()) {
            count_failed_attempt(RC_NO_ACK);
            return Flow::end_step;
        }
        go(ENGINE_TX_ACK);
    }
    sleep_ms(DATA_PAUSE_MS);
    return Flow::end_step;
}

Flow step_tx_ack()
{
    const int c = serial_getc(procedure.qvz);
    if (c == DLE) {
        go(ENGINE_IDLE);
        finish_send(RC_OK);
        return Flow::end_step;
    }
    log_failed_answer(c);
    count_failed_attempt(RC_NO_ACK, c);
    return Flow::end_step;
}

// ---- a lost port --------------------------------------------------------

// The port went away during this step: the send in work fails with the
// code of its stage, a reception in progress is dropped (the partner got
// no DLE for it), a telegram already acknowledged stays to be queued.
void line_lost(int32_t state_before)
{
    port_lost();
    if (lt.send_pending == 1) {
        const bool connected = state_before == ENGINE_TX_DATA || state_before == ENGINE_TX_ACK;
        finish_send(connected ? RC_NO_ACK : RC_NO_CONNECT);
    }
    if (lt.rx_waiting == 0) {
        lt.rx_length = 0;
    }
    engine.tx_dle_owed = 0;
    go(ENGINE_IDLE);
}

// A step while the port is down: sends fail at once as with nobody on the
// line, what waits is still queued, and the port is reopened when due.
void step_line_down()
{
    if (lt.send_pending == 1) {
        finish_send(RC_NO_CONNECT);
    }
    release_waiting();
    port_retry();
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
    port_remember(port_path, baud, parity, flow);
    return serial_open(port_path, baud, parity, flow, monitor);
}

void engine_step()
{
    take_send_job(snd_set);
    if (link_line_down()) {
        step_line_down();
        return;
    }
    const int32_t state_before = engine.engine_state;
    while (run_state() == Flow::same_step) {
    }
    if (serial_line.line_lost != 0) {
        line_lost(state_before);
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
            // A DLE inside data is doubled: a lone one means a byte was
            // lost or changed on the line, so the telegram is refused like
            // one with a wrong block check and the repetition recovers it.
            if (next != DLE) {
                write_control(NAK);
                return RC_RX_BCC;
            }
            if (!store(buffer, capacity, length, DLE)) {
                return RC_RX_OVERFLOW;
            }
        } else if (!store(buffer, capacity, length, c)) {
            return RC_RX_OVERFLOW;  // no answer: the rest meets the idle state
        }
        // The window is looked at when the bytes read ahead are used up:
        // a burst already read costs no clock reading per byte.
        if (serial_input_held() == 0 && timer_read(&engine.window_timer) == 0) {
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
    port_keeper = PortKeeper{};
    serial_line.last_line_error = 0;
    serial_line.line_lost = 0;
}

}  // namespace qo3964
