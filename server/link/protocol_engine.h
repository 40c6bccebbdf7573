// SPDX-License-Identifier: MIT
// The 3964 / 3964R link procedure as a state machine that never waits:
// engine_step takes what the line holds and what time has brought, goes
// from state to state as far as that allows, and returns; link_wait_plan
// tells the loop what to wait for next (bytes, room to write, a deadline).
// The engine reaches the line only through the serial_* calls and prints
// nothing.
#pragma once

#include <cstdint>

#include "deadline_timer.h"

namespace qo3964 {

struct Link;

// Control characters of the procedure.
enum ControlChar : uint8_t {
    STX = 0x02,
    ETX = 0x03,
    DLE = 0x10,
    NAK = 0x15,
};

enum EngineState : int32_t {
    ENGINE_IDLE = 0,
    ENGINE_REJECT = 10,
    ENGINE_RX_BLOCKED = 20,
    ENGINE_RX_ACCEPT = 100,
    ENGINE_RX_BODY = 110,
    ENGINE_TX_CONNECT = 200,
    ENGINE_TX_START = 210,
    ENGINE_TX_DATA = 220,
    ENGINE_TX_ACK = 230,
};

// Procedure settings, handed over by link_open.
struct ProcedureSettings {
    int32_t zvz = 220;      // character delay time, ms
    int32_t qvz = 2000;     // acknowledgement delay time, ms
    int32_t bcc_mode = 1;   // 1: 3964R (BCC after DLE ETX); 0: 3964
    int16_t tds = 6;        // attempts of a send
    int16_t tdr = 6;        // failed receptions in a row before one is reported
    int16_t mmode = 0;      // 1: keep the own send on a partner's STX in idle
};

// Where ENGINE_TX_DATA stands.
enum SendPhase : int32_t {
    PHASE_DATA = 0,     // writing the data
    PHASE_CLOSING = 1,  // writing the closing block DLE ETX (BCC)
    PHASE_DRAIN = 2,    // waiting until the closing block has left the port
};

struct ProtocolEngine {
    int32_t engine_state = ENGINE_IDLE;
    // The tick count of the current step, read once at its start: every
    // timer of the step is armed and read at it (the clock read is a
    // system call).
    int32_t now_ticks = 0;
    // The state's time limit: zvz of quiet in ENGINE_REJECT, 400 ms or qvz
    // in ENGINE_RX_BLOCKED, the moment an STX has stood alone in
    // ENGINE_RX_ACCEPT, qvz in ENGINE_TX_CONNECT and ENGINE_TX_ACK, and in
    // ENGINE_TX_DATA qvz from the last byte the line took (then the drain's
    // whole limit).
    DeadlineTimer engine_timer{};
    int32_t tx_pos = 0;       // bytes of tx_data already written
    int32_t tx_bcc = 0;       // running XOR of what was sent after STX
    // 1 while the doubling DLE after a data DLE has not been accepted by
    // the line yet; it goes out before any further byte of the telegram.
    int32_t tx_dle_owed = 0;
    int32_t tx_phase = PHASE_DATA;
    int32_t tx_closing_sent = 0;  // bytes of the closing block the line took
    int32_t rx_failures = 0;      // consecutive failed receptions
    int32_t rx_last_failure = 0;  // code of the latest of them
    // 1 after a send failed for want of an answer, until the partner's
    // next good exchange (for the runtime log).
    int32_t partner_silent = 0;
    // ENGINE_REJECT: 1 when the rejection ends with a NAK (noise read in
    // idle); 0 when the failed reception that began it was answered
    // already. While a send is pending, a rejection lasts at most qvz from
    // the moment it met the send (reject_limit).
    int32_t reject_nak_owed = 0;
    int32_t reject_limited = 0;
    DeadlineTimer reject_limit{};
    // 1 from a failure on the line (noise, a failed reception or attempt)
    // to the next good exchange: an STX must then stand alone for a moment
    // before it counts as a connection request.
    int32_t line_suspect = 0;
    // 1 while the partner has the turn: after we refused its telegram, or
    // its STX came while we were sending, our next STX waits until its
    // repetition has come or turn_timer has run out, so that a partner
    // that repeats only on a quiet line is not starved by our sends.
    int32_t partner_turn = 0;
    DeadlineTimer turn_timer{};
    // 1 once the pending send has given way to the partner's crossing STX:
    // at its next crossing it keeps the line (the partner's STX is refused
    // with NAK and ours repeated), so a partner that sends back to back
    // lets it through after one of its telegrams.
    int32_t gave_way = 0;
    // ENGINE_TX_CONNECT and ENGINE_TX_ACK: 1 while a DLE read there waits
    // (until alone_timer) to show that it stands alone and is an answer.
    int32_t answer_read = 0;
    DeadlineTimer alone_timer{};
    // Kept by receive_body between its calls: the running check, a line
    // error inside the telegram, a DLE whose follower has not come yet,
    // the BCC awaited after DLE ETX, and zvz from the last byte.
    int32_t rx_bcc = 0;
    int32_t rx_fault = 0;
    int32_t rx_dle_read = 0;
    int32_t rx_bcc_due = 0;
    DeadlineTimer char_timer{};
};

// Stores the procedure settings and opens the line; 0 ready, -1 failure.
int link_open(Link& link, const char* port_path, int32_t baud, char parity, char flow, int16_t tds, int16_t tdr,
              int16_t mmode, int32_t zvz, int32_t qvz, int32_t bcc_mode, int32_t monitor);
// Runs the state machine as far as the line and the time allow; never
// waits. True when it did anything (a byte read or written, a state left).
bool engine_step(Link& link);
// The body receiver: with reset, starts a reception and returns 0;
// otherwise takes the bytes the line holds. Returns 0 (the telegram is not
// finished yet), 1 (telegram correct, DLE written), or -81, -82, -85, -86.
int receive_body(Link& link, bool reset, uint8_t* buffer, int32_t capacity, int32_t* length);

}  // namespace qo3964
