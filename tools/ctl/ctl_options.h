// SPDX-License-Identifier: MIT
// The command line of qo3964_ctl: global options, one command, and the
// command's own options and arguments, in any order after the program name.
#pragma once

#include <cstdint>
#include <vector>

namespace qoctl {

enum class Command { none, status, send, receive, stop, text };

// How status prints its report.
enum class StatusFormat { text, json, prometheus };

// Which texts a result code is shown with.
enum class Language { english, german, both };

// Exit statuses: only a success gives 0.
enum ExitStatus : int {
    EXIT_DONE = 0,
    EXIT_FAILED = 1,  // the server, the library or the line reported a failure
    EXIT_USAGE = 2,   // the command line was refused; nothing was done
};

// The file the server reads when it is started without an argument.
inline constexpr char DEFAULT_RC_FILE[] = "./qo3964.rc";

// Time limits in whole seconds; 0 waits without limit. An hour is far
// beyond any sensible wait and well inside what the tick arithmetic of the
// library's timers can hold (about 5.9 hours at 100 ticks per second).
inline constexpr int32_t TIMEOUT_MAX_S = 3600;
inline constexpr int32_t SEND_TIMEOUT_S = 10;
inline constexpr int32_t RECEIVE_TIMEOUT_S = 10;
inline constexpr int32_t STOP_TIMEOUT_S = 15;
inline constexpr int32_t NOT_GIVEN = -1;

struct CtlOptions {
    Command command = Command::none;
    const char* command_name = "";
    const char* rc_path = DEFAULT_RC_FILE;
    int32_t handle = 0;
    Language language = Language::english;
    bool language_given = false;
    bool help = false;
    bool version = false;
    int32_t timeout_s = NOT_GIVEN;  // the command's default when not given
    bool follow = false;
    int32_t count = NOT_GIVEN;      // receive: telegrams to wait for
    int32_t wait_ms = NOT_GIVEN;    // receive: the time limit in ms instead of seconds
    StatusFormat status_format = StatusFormat::text;
    const char* file = nullptr;     // send: the telegram's raw bytes
    std::vector<const char*> arguments;  // send: hex; text: the code
};

// Reads argv into `options`. Returns EXIT_DONE, or EXIT_USAGE after a
// one-line message on standard error.
int parse_options(int argc, char** argv, CtlOptions& options);

// Reads a whole decimal number with an optional sign into `value`; false
// when the text holds anything else or the number lies outside min..max.
bool parse_number(const char* text, int64_t min, int64_t max, int64_t& value);

// The command's time limit: the one given, else its default.
int32_t timeout_or(const CtlOptions& options, int32_t default_s);

void print_help();
void print_version();

}  // namespace qoctl
