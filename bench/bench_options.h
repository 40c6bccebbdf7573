// SPDX-License-Identifier: MIT
// The command line of qo3964_bench.
#pragma once

#include <array>
#include <string>

namespace qobench {

struct BenchOptions {
    std::string server;     // qo3964_server to run; empty: the one next to this program
    std::string csv;        // where the figures go as CSV; empty: nowhere
    std::string plots;      // folder of the PNG charts; empty: the CSV's folder, if any
    std::string samples;    // where every send latency goes as CSV; empty: nowhere
    int baud = 9600;        // of the emulated line, and BAUD of the rc-file
    char parity = 'E';      // 'E', 'O' or 'N', likewise
    int bcc_mode = 1;       // 1: 3964R, 0: 3964
    int zvz_ms = 220;       // character delay time, server and partner alike
    int qvz_ms = 2000;      // acknowledgement delay time, server and partner alike
    int sends = 200;        // sends per latency series, and request/response cycles
    // Telegrams per receive series, for 16 and 4096 bytes.
    std::array<int, 2> receive_counts{1000, 200};
    int burst = 200;
    int idle_seconds = 30;
    int trials = 10;        // of each of the two waits for a turn
    int line_seconds = 40;  // on the emulated line, a series stops at about this much wire time
    bool quick = false;
};

// The telegram lengths of the send and receive series.
inline constexpr std::array<int, 2> LENGTHS{16, 4096};
// The request/response cycle: this much out, the partner's answer back.
inline constexpr int REQUEST_LENGTH = 16;
inline constexpr int ANSWER_LENGTH = 64;
// The telegrams of the receive burst and of the waits for a turn.
inline constexpr int SHORT_LENGTH = 16;

// Fills `options` from the command line. On a refusal returns false with
// the reason in `error`; `help` is set for --help.
bool parse_options(int argc, char** argv, BenchOptions& options, std::string& error, bool& help);

// The usage text.
const char* usage_text();

}  // namespace qobench
