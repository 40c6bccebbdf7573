// SPDX-License-Identifier: MIT
// The command line of the qo3964_partner program.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "fault_plan.h"
#include "line_bytes.h"
#include "partner_settings.h"
#include "trace_replay.h"

namespace qopartner {

struct ProgramOptions {
    std::string device;  // empty: create a pseudo-terminal
    int baud = 9600;
    char parity = 'E';
    int line_speed = 0;  // the pseudo-terminal takes a real line's time at this speed (0: none)
    std::string link;  // symbolic link to the pty slave, removed at exit
    PartnerSettings settings;
    std::vector<std::pair<Fault, int>> fault_counts;
    std::vector<std::pair<Fault, double>> fault_rates;
    std::vector<Bytes> telegrams;  // from the command line and --file, in order
    bool from_stdin = false;
    int repeat = 1;  // 0: endlessly
    int interval_ms = 0;
    bool quit_after_send = false;
    long count = 0;         // stop after this many received telegrams (0: no limit)
    double duration_s = 0;  // stop after this many seconds (0: no limit)
    std::string replay;  // a server's trace whose partner side is played
    ReplaySettings replay_settings;
    bool help = false;
    bool version = false;
};

// A bad option or bad hex; the message says which.
class OptionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

ProgramOptions parse_options(int argc, char** argv);
// Telegrams of a file or of standard input: one hex telegram per line;
// blank lines and lines starting with '#' are skipped, "-" is the empty
// telegram. Nothing when the line is not a telegram.
std::optional<Bytes> parse_telegram_line(const std::string& line, bool& skip);
std::string usage_text();

}  // namespace qopartner
