// SPDX-License-Identifier: MIT
// The command line of qo3964_bench.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace qobench {

struct BenchOptions {
    std::string server;     // qo3964_server to run; empty: the one next to this program
    std::string csv;        // where the figures go as CSV; empty: nowhere
    std::string plots;      // folder of the PNG charts; empty: the CSV's folder, if any
    std::string samples;    // where every send latency goes as CSV; empty: nowhere
    int baud = 9600;        // written to the rc-file; the real-line floor is computed for it
    char parity = 'E';      // 'E', 'O' or 'N', likewise
    int bcc_mode = 1;       // 1: 3964R, 0: 3964
    int zvz_ms = 220;       // character delay time, server and partner alike
    int qvz_ms = 2000;      // acknowledgement delay time, server and partner alike
    int latency_sends = 200;
    // Telegrams per throughput run, for 16, 256 and 4096 bytes.
    std::array<int, 3> send_counts{100, 100, 50};
    std::array<int, 3> receive_counts{1000, 1000, 200};
    int burst = 200;
    int idle_seconds = 30;
    int rounds = 3;         // throughput runs per figure; the median is shown
    int poll_ms = 1;        // the application's pause between empty qo3964m_receive calls
    int model_runs = 8;     // simulated runs per floor
    int kernel_hz = 0;      // the kernel's tick rate for the floors; 0: watch times() to find it
    uint64_t seed = 1;      // of the floor simulation
    bool quick = false;
};

// The telegram lengths of the throughput runs.
inline constexpr std::array<int, 3> THROUGHPUT_LENGTHS{16, 256, 4096};
// The telegram lengths of the latency runs.
inline constexpr std::array<int, 2> LATENCY_LENGTHS{16, 4096};
// The telegram length of the receive burst.
inline constexpr int BURST_LENGTH = 16;

// Fills `options` from the command line. On a refusal returns false with
// the reason in `error`; `help` is set for --help.
bool parse_options(int argc, char** argv, BenchOptions& options, std::string& error, bool& help);

// The usage text.
const char* usage_text();

}  // namespace qobench
