// SPDX-License-Identifier: MIT
// The trace file of a server that runs unattended (rc keys TRACEFILE and
// TRACESIZE): every byte that passes the serial line, with the time of day
// and its direction, one telegram or control character per line, so that
// a partner's misbehaviour at night is on record in the morning, and
// qo3964_partner --replay can play the partner's side of it again:
//
//   # qo3964_server trace of /dev/ttyUSB0 from 2026-05-04 22:10:00.000
//   2026-05-04 22:10:01.123 OUT 02 STX
//   2026-05-04 22:10:01.125 IN  10 DLE
//   2026-05-04 22:10:01.130 OUT 41 42 10 10 43 10 03 42
//   2026-05-04 22:10:01.141 IN  10 DLE
//   2026-05-04 22:10:07.001 IN  BREAK
//
// IN is what the server read, OUT what it wrote. A line ends where the
// direction changes or the line was quiet for the gap (ZVZ, at least
// 50 ms). A block that follows the DLE that answered its STX is one line;
// anything else that begins with STX, DLE or NAK is that character alone,
// a request or an answer, and the line names it. A marked line error
// has a line of its own: BREAK, PARITY with the character, or MARKING.
//
// Writes never hold the link: a line the file does not take (a full disk)
// is dropped and counted, and the runtime log says so once. When the file
// would grow past its size, it is renamed to PATH.1 (replacing the older
// one) and a new one is begun.
#pragma once

#include <cstdint>

namespace qo3964 {

inline constexpr int32_t TRACE_GAP_MIN_MS = 50;

// Opens (appends to) the trace file; false with errno set when it cannot
// be opened (the server then runs without it).
bool trace_open(const char* path, int64_t max_bytes, int32_t gap_ms, const char* port);
// A byte that passed the line (direction 0 IN, 1 OUT, as the display's).
void trace_byte(int direction, uint8_t byte);
// A marked line error read from the line (-55, -56 or -57) and the byte
// the marking carried.
void trace_line_error(int32_t code, uint8_t byte);
// Ends the line of a run that has been quiet for the gap. Called by the
// main loop on every pass.
void trace_tick();
// Writes what is pending and closes the file.
void trace_close();

}  // namespace qo3964
