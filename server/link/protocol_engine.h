// SPDX-License-Identifier: MIT
// The 3964 / 3964R link procedure as a state machine. The dispatcher calls
// engine_step once per pass of the main loop; each step does a bounded
// piece of work and returns. The engine reaches the line only through
// serial_getc, serial_putc and serial_write, and prints nothing.
#pragma once

#include <cstdint>

#include "deadline_timer.h"

namespace qo3964 {

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

struct ProtocolEngine {
    int32_t engine_state = ENGINE_IDLE;
    // The state's time limit: zvz of quiet in ENGINE_REJECT, 400 ms or qvz
    // in ENGINE_RX_BLOCKED, qvz in ENGINE_TX_CONNECT, and in ENGINE_TX_DATA
    // qvz from the last byte the line took.
    DeadlineTimer engine_timer{};
    int32_t last_error = 0;   // last line status seen
    int32_t tx_pos = 0;       // bytes of tx_data already written
    int32_t tx_bcc = 0;       // running XOR of what was sent after STX
    // 1 while the doubling DLE after a data DLE has not been accepted by
    // the line yet; it goes out before any further byte of the telegram.
    int32_t tx_dle_owed = 0;
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
    // Kept by receive_body between its calls.
    int32_t rx_bcc = 0;
    int32_t rx_fault = 0;
    DeadlineTimer window_timer{};
};

extern ProcedureSettings procedure;
extern ProtocolEngine engine;

// Stores the procedure settings and opens the line; 0 ready, -1 failure.
int link_open(const char* port_path, int32_t baud, char parity, char flow, int16_t tds,
              int16_t tdr, int16_t mmode, int32_t zvz, int32_t qvz, int32_t bcc_mode,
              int32_t monitor);
// One step of the state machine.
void engine_step();
// The body receiver: with reset, starts a reception and returns 0;
// otherwise reads for one window of window_ms. Returns 0 (window over),
// 1 (telegram correct, DLE written), or -81, -82, -85, -86.
int receive_body(bool reset, uint8_t* buffer, int32_t capacity, int32_t* length, int32_t window_ms);
// Puts settings, engine and transfer fields, the send slot, the receive
// ring, the port keeper and the line's error back to their start values.
void engine_reset();

}  // namespace qo3964
