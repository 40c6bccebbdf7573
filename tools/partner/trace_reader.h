// SPDX-License-Identifier: MIT
// Reads the trace file that qo3964_server writes (rc key TRACEFILE): one
// line per telegram or control character, "DATE TIME DIRECTION BYTES",
// where IN is what the server read (the partner's side) and OUT what it
// wrote:
//   2026-05-04 22:10:01.123 OUT 02 STX
//   2026-05-04 22:10:07.001 IN  BREAK
// Lines starting with '#' are comments. The names of control characters
// after the bytes are ignored; a line error (BREAK, PARITY, MARKING) is
// kept as such.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "line_bytes.h"

namespace qopartner {

struct TraceLine {
    int number = 0;         // line number in the file
    int64_t time_ms = 0;    // milliseconds since 1970 (local time as written)
    bool from_server = false;  // OUT: the server wrote it
    Bytes bytes;
    std::string line_error;  // "BREAK", "PARITY", "MARKING"; empty for bytes
};

// One line of the file; nothing for a comment or an empty line. Throws
// std::invalid_argument with the reason for a line that is neither.
std::optional<TraceLine> parse_trace_line(const std::string& text, int number);
// The whole file. Throws std::invalid_argument (unreadable, bad line).
std::vector<TraceLine> read_trace(const std::string& path);

}  // namespace qopartner
