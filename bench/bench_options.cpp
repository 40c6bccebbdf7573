// SPDX-License-Identifier: MIT
#include "bench_options.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <string_view>

namespace qobench {

namespace {

constexpr std::array<int, 8> BAUD_RATES{1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

// A whole decimal number within [low, high], nothing else.
bool parse_int(const char* text, long low, long high, long& value)
{
    errno = 0;
    char* end = nullptr;
    const long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || parsed < low || parsed > high) {
        return false;
    }
    value = parsed;
    return true;
}

struct IntOption {
    std::string_view name;
    int BenchOptions::*field;
    long low;
    long high;
};

constexpr std::array<IntOption, 10> INT_OPTIONS{{
    {"--baud", &BenchOptions::baud, 1200, 115200},
    {"--bcc", &BenchOptions::bcc_mode, 0, 1},
    {"--zvz", &BenchOptions::zvz_ms, 1, 60000},
    {"--qvz", &BenchOptions::qvz_ms, 2, 60000},
    {"--sends", &BenchOptions::sends, 1, 100000},
    {"--burst", &BenchOptions::burst, 1, 100000},
    {"--idle", &BenchOptions::idle_seconds, 1, 3600},
    {"--trials", &BenchOptions::trials, 1, 1000},
    {"--line-seconds", &BenchOptions::line_seconds, 1, 3600},
    {"--receives", nullptr, 1, 100000},
}};

constexpr std::array<std::string_view, 5> TEXT_OPTIONS{"--csv", "--plots", "--samples", "--server", "--parity"};

bool takes_value(std::string_view arg)
{
    for (const std::string_view name : TEXT_OPTIONS) {
        if (arg == name) {
            return true;
        }
    }
    for (const IntOption& option : INT_OPTIONS) {
        if (arg == option.name) {
            return true;
        }
    }
    return false;
}

// --quick: fewer of everything, for a smoke run.
void make_quick(BenchOptions& options)
{
    options.quick = true;
    options.sends = 20;
    options.receive_counts = {40, 10};
    options.burst = 50;
    options.idle_seconds = 3;
    options.trials = 3;
    options.line_seconds = 5;
}

}  // namespace

const char* usage_text()
{
    return "usage: qo3964_bench [options]\n"
           "Runs qo3964_server against the partner simulator, first on a bare pseudo-terminal,\n"
           "then on one that the partner makes as slow as a real line, and measures send\n"
           "latency, request/response, throughput, a receive burst, the waits for a turn\n"
           "and the server's CPU time, each beside the time its characters take on the wire.\n"
           "  --quick          few iterations and a short idle time (a smoke run)\n"
           "  --csv PATH       write the figures as CSV too\n"
           "  --plots DIR      PNG charts (needs gnuplot); default: the CSV's folder\n"
           "  --samples PATH   every send latency as CSV\n"
           "  --server PATH    the server program (default: next to qo3964_bench)\n"
           "  --baud N         speed of the emulated line and BAUD of the rc-file (9600)\n"
           "  --parity E|O|N   its character (11 bits with E or O, 10 with N), PARITY (E)\n"
           "  --bcc 0|1        BCC_MODE: 1 3964R, 0 3964 (1)\n"
           "  --zvz MS         character delay time, server and partner (220)\n"
           "  --qvz MS         acknowledgement delay time, server and partner (2000)\n"
           "  --sends N        sends per latency series, request/response cycles (200)\n"
           "  --receives N     16 B telegrams per receive series (1000; 4096 B: N / 5)\n"
           "  --burst N        telegrams of the receive burst (200)\n"
           "  --idle S         seconds of each idle measurement (30)\n"
           "  --trials N       trials of each wait for a turn (10)\n"
           "  --line-seconds S on the emulated line, a series stops at about S seconds of\n"
           "                   wire time, with 3 telegrams at least (40)\n"
           "Exit status: 0 done, 1 set-up failed, 2 bad command line, 3 a telegram was\n"
           "lost or duplicated, 130 interrupted. The figures themselves are never judged.\n";
}

bool parse_options(int argc, char** argv, BenchOptions& options, std::string& error, bool& help)
{
    help = false;
    // --quick first, so that explicit counts given with it still win.
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--quick") {
            make_quick(options);
        }
    }
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--quick") {
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            help = true;
            return true;
        }
        if (!takes_value(arg)) {
            error = "unknown option " + std::string(arg);
            return false;
        }
        if (i + 1 >= argc) {
            error = "missing value after " + std::string(arg);
            return false;
        }
        const char* value = argv[++i];
        if (arg == "--csv") {
            options.csv = value;
            continue;
        }
        if (arg == "--plots") {
            options.plots = value;
            continue;
        }
        if (arg == "--samples") {
            options.samples = value;
            continue;
        }
        if (arg == "--server") {
            options.server = value;
            continue;
        }
        if (arg == "--parity") {
            const std::string_view p = value;
            if (p != "E" && p != "O" && p != "N") {
                error = "--parity takes E, O or N";
                return false;
            }
            options.parity = p[0];
            continue;
        }
        for (const IntOption& option : INT_OPTIONS) {
            if (arg != option.name) {
                continue;
            }
            long number = 0;
            if (!parse_int(value, option.low, option.high, number)) {
                error = std::string(arg) + " takes a number from " + std::to_string(option.low) + " to " +
                        std::to_string(option.high);
                return false;
            }
            if (option.field == nullptr) {
                options.receive_counts = {static_cast<int>(number), std::max(1, static_cast<int>(number) / 5)};
            } else {
                options.*option.field = static_cast<int>(number);
            }
        }
    }
    bool rate_known = false;
    for (const int rate : BAUD_RATES) {
        rate_known = rate_known || rate == options.baud;
    }
    if (!rate_known) {
        error = "--baud takes one of 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200";
        return false;
    }
    if (options.qvz_ms <= options.zvz_ms) {
        error = "--qvz must be greater than --zvz (the server refuses it otherwise)";
        return false;
    }
    return true;
}

}  // namespace qobench
