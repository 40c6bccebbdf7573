// SPDX-License-Identifier: MIT
#include "protocol_engine.h"

#include <algorithm>
#include <array>
#include <poll.h>
#include <unistd.h>

#include "link.h"
#include "link_events.h"
#include "result_codes.h"

namespace qo3964 {

namespace {

constexpr int32_t DLE_ETX_BCC = DLE ^ ETX;
// How long a partner's STX waits for room in a full ring before it is
// refused.
constexpr int32_t RX_BLOCKED_MS = 400;
// Data bytes handed to the line in one write.
constexpr int32_t CHUNK_MAX = 1000;
// After a failure on the line, an STX must stand alone this many character
// times before it counts as a connection request.
constexpr int32_t ALONE_CHARS = 2;
// From this many data bytes of a telegram on, bytes that come one by one
// are taken in batches of RX_BATCH_CHARS character times.
constexpr int32_t RX_BATCH_AFTER = 256;
constexpr int32_t RX_BATCH_CHARS = 8;
// Transitions of one step at the most: a guard, far above what any line
// can bring about between two looks.
constexpr int STEP_TRANSITIONS_MAX = 10000;

// Whether the state machine goes on at once, and whether it did anything.
enum class Flow {
    wait,      // nothing more to do until the line or the time brings something
    progress,  // something was done; look again at once
};

void write_control(Link& link, ControlChar c)
{
    // Results of control characters are not examined: a lost one shows up
    // as a missing answer and is handled by the partner's or our time-outs.
    serial_putc(link.line, c);
}

// The engine's timers, at the step's tick count.
void start(Link& link, DeadlineTimer& timer, int32_t ms)
{
    timer_start_at(&timer, ms, link.engine.now_ticks);
}

int32_t left(Link& link, DeadlineTimer& timer)
{
    return timer_read_at(&timer, link.engine.now_ticks);
}

void arm(Link& link, int32_t ms)
{
    start(link, link.engine.engine_timer, ms);
}

bool expired(Link& link)
{
    return left(link, link.engine.engine_timer) == 0;
}

Flow go(Link& link, EngineState next)
{
    link.engine.engine_state = next;
    return Flow::progress;
}

// A byte the line holds now, or RC_SILENCE.
int next_byte(Link& link)
{
    return serial_getc(link.line, 0);
}

// ---- reports ------------------------------------------------------------

// A status waiting to be reported, then a telegram acknowledged while the
// ring was full, are queued as soon as there is room.
void release_waiting(Link& link)
{
    if (push_report(link) && link.transfer.rx_waiting != 0 && link.p3964_fifo.count < FIFO_DEPTH) {
        push_received(link);
    }
}

// A BREAK or parity error read outside a telegram is reported once, as an
// entry of its own; a BREAK also fails the send pending at that moment.
void report_line_error(Link& link, int c)
{
    if (c != RC_BREAK && c != RC_PARITY) {
        return;
    }
    report_status(link, c);
    const bool fails_send = link.transfer.send_pending == 1 && c == RC_BREAK;
    log_line_error(c, fails_send);
    if (fails_send) {
        complete_send(link, RC_BREAK);
    }
}

// The partner answered; after a send that it left unanswered, say so once.
void partner_answered(Link& link)
{
    if (link.engine.partner_silent != 0) {
        link.engine.partner_silent = 0;
        log_partner_back();
    }
}

void finish_send(Link& link, int32_t status)
{
    complete_send(link, status);
    if (status == RC_OK) {
        link.engine.line_suspect = 0;
        log_telegram_sent(link.transfer.tx_length);
        partner_answered(link);
        return;
    }
    log_send_failed(status, link_line_down(link));
    // Only silence that was said is one: after a refusal or a lost port the
    // next unanswered send is still reported.
    if ((status == RC_NO_CONNECT || status == RC_NO_ACK) && link.engine.partner_silent == 0 &&
        log_partner_silent(status, link_line_down(link))) {
        link.engine.partner_silent = 1;
    }
}

// ---- rejecting ----------------------------------------------------------

// Reads and drops what the partner still sends until the line has been
// quiet for zvz. Nothing read meanwhile is a connection request: an STX
// amid noise, or in the rest of a telegram given up on, would begin a
// telegram of fragments whose block check may match by chance.
Flow begin_reject(Link& link, bool nak_owed)
{
    ProtocolEngine& e = link.engine;
    e.reject_nak_owed = nak_owed ? 1 : 0;
    e.reject_limited = 0;
    e.line_suspect = 1;
    arm(link, link.procedure.zvz);
    return go(link, ENGINE_REJECT);
}

// The one NAK for what was rejected, unless the failed reception that
// began the rejection was answered already.
void end_reject(Link& link)
{
    if (link.engine.reject_nak_owed != 0) {
        link.engine.reject_nak_owed = 0;
        write_control(link, NAK);
    }
}

// A send pending beside a rejection waits at most qvz: a line that never
// falls quiet (a floating input, a partner at another speed) must not
// starve it. Its STX then goes out into the noise, and an attempt that
// fails there counts as any other.
bool send_waited_enough(Link& link)
{
    ProtocolEngine& e = link.engine;
    if (link.transfer.send_pending != 1) {
        return false;
    }
    if (e.reject_limited == 0) {
        start(link, e.reject_limit, link.procedure.qvz);
        e.reject_limited = 1;
        return false;
    }
    return left(link, e.reject_limit) == 0;
}

// ---- idle ---------------------------------------------------------------

Flow accept_connection(Link& link);

Flow request_connection(Link& link)
{
    link.engine.answer_read = 0;
    write_control(link, STX);
    arm(link, link.procedure.qvz);
    return go(link, ENGINE_TX_CONNECT);
}

// The partner's STX, read in idle.
Flow partner_requests(Link& link)
{
    if (link.transfer.send_pending == 1 && link.procedure.mmode != 0) {
        return request_connection(link);
    }
    if (link.transfer.rx_waiting != 0) {
        arm(link, RX_BLOCKED_MS);
        return go(link, ENGINE_RX_BLOCKED);
    }
    return accept_connection(link);
}

// The partner gets the line for its repetition: for qvz (its wait for
// our answer) and twice zvz (a partner's usual quiet before it repeats).
void give_partner_the_turn(Link& link)
{
    link.engine.partner_turn = 1;
    start(link, link.engine.turn_timer, link.procedure.qvz + 2 * link.procedure.zvz);
}

bool partner_has_the_turn(Link& link)
{
    ProtocolEngine& e = link.engine;
    if (e.partner_turn != 0 && left(link, e.turn_timer) == 0) {
        e.partner_turn = 0;
    }
    return e.partner_turn != 0;
}

Flow step_idle(Link& link)
{
    release_waiting(link);
    const int c = next_byte(link);
    if (c == RC_SILENCE) {
        // A send waiting goes out as soon as nothing waits on the line,
        // unless the partner's repetition is due first.
        if (link.transfer.send_pending != 1 || partner_has_the_turn(link)) {
            return Flow::wait;
        }
        return request_connection(link);
    }
    if (c == STX) {
        return partner_requests(link);
    }
    report_line_error(link, c);
    return begin_reject(link, true);
}

// Waits for zvz of quiet; whatever arrives meanwhile, an STX too, is
// dropped and starts the quiet time again, so a burst of any length ends
// in at most one NAK. A partner that began a telegram right after the
// noise repeats its STX after its qvz and is served then.
Flow step_reject(Link& link)
{
    if (send_waited_enough(link)) {
        end_reject(link);
        return request_connection(link);
    }
    bool dropped = false;
    for (int c = next_byte(link); c != RC_SILENCE; c = next_byte(link)) {
        report_line_error(link, c);
        dropped = true;
    }
    if (dropped) {
        arm(link, link.procedure.zvz);
        return Flow::progress;
    }
    if (!expired(link)) {
        return Flow::wait;
    }
    end_reject(link);
    return go(link, ENGINE_IDLE);
}

// ---- receiving ----------------------------------------------------------

Flow step_rx_blocked(Link& link)
{
    // A telegram acknowledged while the ring was full waits in rx_data;
    // the partner's new one is accepted once it is queued, or refused when
    // no room comes within the limit. Room comes from the dispatcher.
    release_waiting(link);
    if (link.transfer.rx_waiting == 0) {
        return accept_connection(link);
    }
    if (!expired(link)) {
        return Flow::wait;
    }
    write_control(link, NAK);
    log_telegram_refused();
    report_status(link, RC_RX_OCCUPIED);
    return go(link, ENGINE_IDLE);
}

// A sender waits for our DLE after its STX, so nothing but a repeated STX
// may follow it before the DLE. Bytes right behind it make it a byte of
// something else: the rest of a telegram given up on, or noise.
bool bytes_behind_stx(Link& link)
{
    // STX waiting now were repeated by the partner while we were not
    // reading; its data come only after our DLE. Kept as data, two of them
    // would cancel in the block check and pass as part of the telegram.
    serial_drop_waiting(link.line, STX);
    return serial_byte_waiting(link.line);
}

Flow answer_connection(Link& link)
{
    write_control(link, DLE);
    receive_body(link, true, link.transfer.rx_data, TELEGRAM_MAX, &link.transfer.rx_length);
    return go(link, ENGINE_RX_BODY);
}

// After a failure on the line the STX must also stand alone for two
// character times, for a line whose bytes arrive one by one.
Flow accept_connection(Link& link)
{
    if (bytes_behind_stx(link)) {
        log_false_request();
        return begin_reject(link, true);
    }
    if (link.engine.line_suspect == 0) {
        return answer_connection(link);
    }
    arm(link, serial_wire_ms(link.line, ALONE_CHARS) + 1);
    return go(link, ENGINE_RX_ACCEPT);
}

Flow step_rx_accept(Link& link)
{
    if (bytes_behind_stx(link)) {
        log_false_request();
        return begin_reject(link, true);
    }
    return expired(link) ? answer_connection(link) : Flow::wait;
}

Flow step_rx_body(Link& link)
{
    ProtocolEngine& e = link.engine;
    LinkTransfer& lt = link.transfer;
    const int r = receive_body(link, false, lt.rx_data, TELEGRAM_MAX, &lt.rx_length);
    if (r == 0) {
        return Flow::wait;
    }
    if (r == 1) {
        e.line_suspect = 0;
        e.partner_turn = 0;
        log_telegram_received(lt.rx_length);
        lt.rx_waiting = 1;
        push_received(link);
        if (e.rx_failures > 0) {
            log_reception_recovered(e.rx_failures, e.rx_last_failure);
        }
        e.rx_failures = 0;
        partner_answered(link);
        return go(link, ENGINE_IDLE);
    }
    // A failure the partner's repetition may still recover is not the
    // application's business; only the tdr-th in a row is reported.
    lt.rx_length = 0;
    e.rx_failures += 1;
    e.rx_last_failure = r;
    if (e.rx_failures >= link.procedure.tdr) {
        log_reception_reported(r, e.rx_failures);
        report_status(link, r);
        e.rx_failures = 0;
    } else {
        log_reception_failed(r, e.rx_failures);
    }
    // What the partner still sends of the telegram belongs to no new one.
    // An overflow was not answered: the rejection ends with the NAK.
    give_partner_the_turn(link);
    return begin_reject(link, r == RC_RX_OVERFLOW);
}

// Books one byte of a telegram into the check and the fault flag.
void book_body_char(Link& link, int c)
{
    ProtocolEngine& e = link.engine;
    if (c < 0) {
        e.rx_fault = 1;
    }
    e.rx_bcc ^= c;
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

// After DLE ETX (and the BCC in 3964R): the check, and the answer.
int finish_body(Link& link)
{
    ProtocolEngine& e = link.engine;
    if ((link.procedure.bcc_mode != 0 && e.rx_bcc != 0) || e.rx_fault == 1) {
        write_control(link, NAK);
        return RC_RX_BCC;
    }
    write_control(link, DLE);
    return 1;
}

// One byte of the body; 0 to go on, or the result of the reception.
int take_body_char(Link& link, int c, uint8_t* buffer, int32_t capacity, int32_t* length)
{
    ProtocolEngine& e = link.engine;
    book_body_char(link, c);
    if (e.rx_bcc_due != 0) {
        return finish_body(link);
    }
    if (e.rx_dle_read != 0) {
        e.rx_dle_read = 0;
        if (c == ETX) {
            if (link.procedure.bcc_mode != 0) {
                e.rx_bcc_due = 1;
                return 0;
            }
            return finish_body(link);
        }
        // A DLE inside data is doubled: a lone one means a byte was lost
        // or changed on the line, so the telegram is refused like one with
        // a wrong block check and the repetition recovers it.
        if (c != DLE) {
            write_control(link, NAK);
            return RC_RX_BCC;
        }
        return store(buffer, capacity, length, DLE) ? 0 : RC_RX_OVERFLOW;
    }
    if (c == DLE) {
        e.rx_dle_read = 1;
        return 0;
    }
    // A line error inside the telegram also takes one place.
    return store(buffer, capacity, length, c) ? 0 : RC_RX_OVERFLOW;  // no answer on overflow
}

// ---- sending ------------------------------------------------------------

// An attempt failed on `answer` (RC_SILENCE when none came or the line
// took nothing). What the line has not sent of it must not go out ahead of
// the next STX; an answer that is no answer (noise, a line error) is
// rejected like noise in idle, but without a NAK of its own.
Flow count_failed_attempt(Link& link, int32_t code, int answer = RC_SILENCE)
{
    LinkTransfer& lt = link.transfer;
    serial_flush_output(link.line);
    lt.send_attempts += 1;
    if (answer != RC_SILENCE && answer != NAK) {
        begin_reject(link, false);
    } else {
        go(link, ENGINE_IDLE);
    }
    if (lt.send_attempts >= link.procedure.tds) {
        finish_send(link, code);
        write_control(link, NAK);
    } else {
        log_attempt_failed(code, lt.send_attempts, link.procedure.tds);
    }
    return Flow::progress;
}

// What a DLE read in answer to us is.
enum class Answer { yes, no, not_yet };

// A DLE that answers us stands alone: the partner waits for our data after
// its DLE to our STX, and after its DLE to our closing block only its own
// STX may follow. A DLE with other bytes behind it belongs to a block (the
// rest of a telegram the partner broke off and finished late): taken for
// an answer, it would have our telegram reported delivered although the
// partner never took it. After a failure on the line the DLE must also
// stand alone for two character times.
Answer dle_answer(Link& link, bool stx_may_follow)
{
    ProtocolEngine& e = link.engine;
    if (e.answer_read == 0) {
        e.answer_read = 1;
        const int32_t wait_ms = e.line_suspect != 0 ? serial_wire_ms(link.line, ALONE_CHARS) + 1 : 0;
        start(link, e.alone_timer, wait_ms);
    }
    const int next = serial_peek(link.line);
    if (next >= 0 && !(stx_may_follow && next == STX)) {
        e.answer_read = 0;
        return Answer::no;
    }
    if (left(link, e.alone_timer) > 0) {
        return Answer::not_yet;
    }
    e.answer_read = 0;
    return Answer::yes;
}

Flow step_tx_connect(Link& link)
{
    const int c = link.engine.answer_read != 0 ? DLE : next_byte(link);
    if (c == DLE) {
        switch (dle_answer(link, false)) {
        case Answer::yes:
            return go(link, ENGINE_TX_START);
        case Answer::not_yet:
            return Flow::wait;
        case Answer::no:
            log_failed_answer(DLE);
            return count_failed_attempt(link, RC_NO_CONNECT, DLE);
        }
    }
    if (c == STX) {
        if (link.engine.gave_way == 0) {
            // Both sides want to send: give way without counting an
            // attempt; the own send stays pending and is tried again from
            // idle, right after the partner's telegram.
            link.engine.gave_way = 1;
            return go(link, ENGINE_RX_BLOCKED);
        }
        // It gave way once already: now the partner waits (not ready) and
        // repeats after our telegram, which has its turn then.
        write_control(link, NAK);
        give_partner_the_turn(link);
        return request_connection(link);
    }
    if (c == RC_SILENCE && !expired(link)) {
        return Flow::wait;
    }
    log_failed_answer(c);
    return count_failed_attempt(link, RC_NO_CONNECT, c);
}

Flow step_tx_start(Link& link)
{
    ProtocolEngine& e = link.engine;
    e.tx_pos = 0;
    e.tx_bcc = 0;
    e.tx_dle_owed = 0;
    e.tx_phase = PHASE_DATA;
    e.tx_closing_sent = 0;
    arm(link, link.procedure.qvz);
    return go(link, ENGINE_TX_DATA);
}

bool data_remains(const Link& link)
{
    return link.engine.tx_pos < link.transfer.tx_length || link.engine.tx_dle_owed != 0;
}

// Books `count` bytes of the chunk as written: they were an owed doubling
// DLE, then the data from tx_pos on with every DLE doubled. A DLE whose
// double was not taken stays owed, exactly as a refused byte.
void book_written(Link& link, int32_t count)
{
    ProtocolEngine& e = link.engine;
    int32_t booked = 0;
    if (e.tx_dle_owed != 0 && booked < count) {
        e.tx_dle_owed = 0;
        e.tx_bcc ^= DLE;
        booked += 1;
    }
    while (booked < count) {
        const uint8_t byte = link.transfer.tx_data[e.tx_pos];
        e.tx_pos += 1;
        e.tx_bcc ^= byte;
        booked += 1;
        if (byte == DLE) {
            if (booked < count) {
                e.tx_bcc ^= DLE;
                booked += 1;
            } else {
                e.tx_dle_owed = 1;
            }
        }
    }
}

// One chunk of at most CHUNK_MAX data bytes, every DLE doubled, handed to
// the line in as few writes as it takes. Returns the bytes taken, or -1
// when a write failed.
int32_t write_chunk(Link& link)
{
    ProtocolEngine& e = link.engine;
    std::array<uint8_t, 2 * CHUNK_MAX + 1> chunk{};
    int32_t size = 0;
    if (e.tx_dle_owed != 0) {
        chunk[size++] = DLE;
    }
    const int32_t end = e.tx_pos + std::min(link.transfer.tx_length - e.tx_pos, CHUNK_MAX);
    for (int32_t at = e.tx_pos; at < end; ++at) {
        chunk[size++] = link.transfer.tx_data[at];
        if (link.transfer.tx_data[at] == DLE) {
            chunk[size++] = DLE;
        }
    }
    const int32_t written = serial_write_some(link.line, chunk.data(), size);
    if (written > 0) {
        book_written(link, written);
    }
    return written;
}

// The closing block DLE ETX (BCC); what the line takes of it now. The BCC
// goes out as it is, never doubled, even when it equals DLE.
int32_t write_closing_block(Link& link)
{
    ProtocolEngine& e = link.engine;
    const uint8_t bcc = static_cast<uint8_t>((e.tx_bcc ^ DLE_ETX_BCC) & 0xFF);
    const std::array<uint8_t, 3> block{DLE, ETX, bcc};
    const int32_t count = link.procedure.bcc_mode != 0 ? 3 : 2;
    const int32_t written =
        serial_write_some(link.line, block.data() + e.tx_closing_sent, count - e.tx_closing_sent);
    if (written > 0) {
        e.tx_closing_sent += written;
    }
    return written < 0 ? -1 : count - e.tx_closing_sent;
}

// The closing block has left the port once the output queue is empty; its
// limit is a total: the wire time of what was queued plus qvz. Then the
// acknowledgement delay time begins.
Flow drain_closing_block(Link& link)
{
    const int32_t queued = serial_output_queued(link.line);
    if (queued < 0) {
        return count_failed_attempt(link, RC_NO_ACK);
    }
    if (queued == 0) {
        link.engine.answer_read = 0;
        arm(link, link.procedure.qvz);
        return go(link, ENGINE_TX_ACK);
    }
    return expired(link) ? count_failed_attempt(link, RC_NO_ACK) : Flow::wait;
}

// A line that takes no byte for qvz (a dead adapter, CTS held low), or a
// write that fails, ends the attempt as a failed one.
Flow step_tx_data(Link& link)
{
    ProtocolEngine& e = link.engine;
    if (e.tx_phase == PHASE_DRAIN) {
        return drain_closing_block(link);
    }
    const int32_t written = e.tx_phase == PHASE_DATA ? write_chunk(link) : 0;
    if (written < 0) {
        return count_failed_attempt(link, RC_NO_ACK);
    }
    if (written > 0) {
        arm(link, link.procedure.qvz);
    }
    if (e.tx_phase == PHASE_DATA) {
        if (data_remains(link)) {
            return written > 0 ? Flow::progress : (expired(link) ? count_failed_attempt(link, RC_NO_ACK) : Flow::wait);
        }
        e.tx_phase = PHASE_CLOSING;
    }
    const int32_t left = write_closing_block(link);
    if (left < 0) {
        return count_failed_attempt(link, RC_NO_ACK);
    }
    if (left > 0) {
        return expired(link) ? count_failed_attempt(link, RC_NO_ACK) : Flow::wait;
    }
    e.tx_phase = PHASE_DRAIN;
    arm(link, serial_wire_ms(link.line, std::max(serial_output_queued(link.line), 0)) + link.procedure.qvz);
    return Flow::progress;
}

Flow step_tx_ack(Link& link)
{
    const int c = link.engine.answer_read != 0 ? DLE : next_byte(link);
    if (c == DLE) {
        switch (dle_answer(link, true)) {
        case Answer::yes:
            go(link, ENGINE_IDLE);
            finish_send(link, RC_OK);
            return Flow::progress;
        case Answer::not_yet:
            return Flow::wait;
        case Answer::no:
            log_failed_answer(DLE);
            return count_failed_attempt(link, RC_NO_ACK, DLE);
        }
    }
    if (c == RC_SILENCE && !expired(link)) {
        return Flow::wait;
    }
    if (c == STX) {
        give_partner_the_turn(link);  // it wanted to send meanwhile
    }
    log_failed_answer(c);
    return count_failed_attempt(link, RC_NO_ACK, c);
}

// ---- a lost port --------------------------------------------------------

// The port went away: the send in work fails with the code of its stage,
// a reception in progress is dropped (the partner got no DLE for it), a
// telegram already acknowledged stays to be queued.
void line_lost(Link& link, int32_t state_before)
{
    port_lost(link);
    if (link.transfer.send_pending == 1) {
        const bool connected = state_before == ENGINE_TX_DATA || state_before == ENGINE_TX_ACK;
        finish_send(link, connected ? RC_NO_ACK : RC_NO_CONNECT);
    }
    if (link.transfer.rx_waiting == 0) {
        link.transfer.rx_length = 0;
    }
    link.engine.tx_dle_owed = 0;
    link.engine.answer_read = 0;
    link.engine.engine_state = ENGINE_IDLE;
}

// While the port is down: sends fail at once as with nobody on the line,
// what waits is still queued, and the port is reopened when due.
bool step_line_down(Link& link)
{
    bool did = false;
    if (link.transfer.send_pending == 1) {
        finish_send(link, RC_NO_CONNECT);
        did = true;
    }
    release_waiting(link);
    return port_retry(link) || did;
}

// ---- the state table ----------------------------------------------------

using StateHandler = Flow (*)(Link&);

struct StateRow {
    EngineState state;
    StateHandler handler;
    // What the state waits for besides its deadline: bytes to read, or
    // room to write (the states that read nothing must not be woken by
    // bytes they would leave unread).
    int16_t events;
};

constexpr std::array<StateRow, 9> state_table{{
    {ENGINE_IDLE, step_idle, POLLIN},
    {ENGINE_REJECT, step_reject, POLLIN},
    {ENGINE_RX_BLOCKED, step_rx_blocked, 0},
    {ENGINE_RX_ACCEPT, step_rx_accept, POLLIN},
    {ENGINE_RX_BODY, step_rx_body, POLLIN},
    {ENGINE_TX_CONNECT, step_tx_connect, POLLIN},
    {ENGINE_TX_START, step_tx_start, 0},
    {ENGINE_TX_DATA, step_tx_data, POLLOUT},
    {ENGINE_TX_ACK, step_tx_ack, POLLIN},
}};

const StateRow* row_of(int32_t state)
{
    for (const StateRow& row : state_table) {
        if (row.state == state) {
            return &row;
        }
    }
    return nullptr;
}

Flow run_state(Link& link)
{
    const StateRow* row = row_of(link.engine.engine_state);
    if (row == nullptr) {
        return go(link, ENGINE_IDLE);  // not a state of the table: start over from idle
    }
    return row->handler(link);
}

// The deadline the state waits for, in ms; -1 when it has none.
int32_t state_deadline(Link& link)
{
    ProtocolEngine& e = link.engine;
    switch (e.engine_state) {
    case ENGINE_IDLE:
        return link.transfer.send_pending == 1 && e.partner_turn != 0 ? left(link, e.turn_timer) : -1;
    case ENGINE_RX_BODY:
        return left(link, e.char_timer);
    case ENGINE_TX_CONNECT:
    case ENGINE_TX_ACK:
        return e.answer_read != 0 ? left(link, e.alone_timer) : left(link, e.engine_timer);
    case ENGINE_REJECT: {
        int32_t quiet_ms = left(link, e.engine_timer);
        if (link.transfer.send_pending == 1 && e.reject_limited != 0) {
            quiet_ms = std::min(quiet_ms, left(link, e.reject_limit));
        }
        return quiet_ms;
    }
    case ENGINE_TX_DATA:
        if (e.tx_phase == PHASE_DRAIN) {
            // Looked at again when the queue should have left.
            const int32_t queued = std::max(serial_output_queued(link.line), 1);
            return std::min(left(link, e.engine_timer), serial_wire_ms(link.line, queued));
        }
        return left(link, e.engine_timer);
    default:
        return left(link, e.engine_timer);
    }
}

}  // namespace

int link_open(Link& link, const char* port_path, int32_t baud, char parity, char flow, int16_t tds, int16_t tdr,
              int16_t mmode, int32_t zvz, int32_t qvz, int32_t bcc_mode, int32_t monitor)
{
    ProcedureSettings& p = link.procedure;
    p.tds = tds;
    p.tdr = tdr;
    p.mmode = mmode;
    p.zvz = zvz;
    p.qvz = qvz;
    p.bcc_mode = bcc_mode;
    port_remember(link, port_path, baud, parity, flow);
    return serial_open(link.line, port_path, baud, parity, flow, monitor);
}

bool engine_step(Link& link)
{
    link.engine.now_ticks = tick_source();
    take_send_job(link);
    if (link_line_down(link)) {
        return step_line_down(link);
    }
    bool did = false;
    for (int turn = 0; turn < STEP_TRANSITIONS_MAX; ++turn) {
        const int32_t state_before = link.engine.engine_state;
        const Flow flow = run_state(link);
        if (link.line.line_lost != 0) {
            line_lost(link, state_before);
            return true;
        }
        if (flow == Flow::wait) {
            break;
        }
        did = true;
        take_send_job(link);
    }
    return did;
}

int receive_body(Link& link, bool reset, uint8_t* buffer, int32_t capacity, int32_t* length)
{
    ProtocolEngine& e = link.engine;
    if (reset) {
        *length = 0;
        e.rx_bcc = 0;
        e.rx_fault = 0;
        e.rx_dle_read = 0;
        e.rx_bcc_due = 0;
        start(link, e.char_timer, link.procedure.zvz);
        return 0;
    }
    bool took = false;
    for (int c = next_byte(link); c != RC_SILENCE; c = next_byte(link)) {
        took = true;
        const int r = take_body_char(link, c, buffer, capacity, length);
        if (r != 0) {
            return r;
        }
    }
    // zvz runs from the last byte: armed once for what came together.
    if (took) {
        start(link, e.char_timer, link.procedure.zvz);
        return 0;
    }
    if (left(link, e.char_timer) > 0) {
        return 0;
    }
    // The partner paused longer than zvz: inside the data, or before the BCC.
    write_control(link, NAK);
    return e.rx_bcc_due != 0 ? RC_RX_NO_BCC : RC_RX_ZVZ;
}

LinkWait link_wait_plan(Link& link)
{
    LinkWait wait;
    if (link_line_down(link)) {
        wait.timeout_ms = port_retry_due(link);
        return wait;
    }
    const StateRow* row = row_of(link.engine.engine_state);
    wait.fd = link.line.line_fd;
    wait.events = row != nullptr ? row->events : POLLIN;
    if (link.engine.engine_state == ENGINE_TX_DATA && link.engine.tx_phase == PHASE_DRAIN) {
        wait.events = 0;  // no room is asked for; the queue is looked at again
    }
    wait.timeout_ms = state_deadline(link);
    // Deep in a long telegram on a slow line, where the bytes come one by
    // one, they are taken a few at a time rather than each on its own
    // wake-up: its end is seen at most RX_BATCH_CHARS character times
    // later, which short telegrams (an answer, a request) never pay.
    if (link.engine.engine_state == ENGINE_RX_BODY && link.transfer.rx_length >= RX_BATCH_AFTER &&
        link.line.last_read < RX_BATCH_CHARS) {
        wait.events = 0;
        wait.timeout_ms = std::min(wait.timeout_ms, serial_wire_ms(link.line, RX_BATCH_CHARS));
    }
    return wait;
}

void link_events_seen(Link& link, int16_t watched, int16_t revents)
{
    serial_note_events(link.line, watched, revents);
}

void link_wait(Link& link, int wake_fd, int32_t max_ms)
{
    const LinkWait plan = link_wait_plan(link);
    const int32_t timeout = plan.timeout_ms >= 0 ? std::min(plan.timeout_ms, max_ms) : max_ms;
    std::array<pollfd, 2> watched{{{wake_fd, POLLIN, 0}, {plan.fd, plan.events, 0}}};
    const nfds_t count = plan.fd >= 0 ? 2 : 1;
    const int ready = poll(watched.data(), count, timeout);
    if (ready < 0) {
        return;
    }
    if ((watched[0].revents & POLLIN) != 0) {
        uint64_t rung = 0;
        [[maybe_unused]] const ssize_t read_back = read(wake_fd, &rung, sizeof rung);
    }
    if (count == 2) {
        link_events_seen(link, watched[1].events, watched[1].revents);
    }
}

}  // namespace qo3964
