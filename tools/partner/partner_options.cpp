// SPDX-License-Identifier: MIT
#include "partner_options.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <getopt.h>

#include "hex_text.h"

namespace qopartner {

namespace {

// getopt_long's codes: a telegram (an argument that is no option, in
// '-' mode), the short options' letters, and the long-only options past
// every character.
enum OptionCode : int {
    OPT_TELEGRAM = 1,
    OPT_DEVICE = 256,
    OPT_BAUD,
    OPT_PARITY,
    OPT_LINK,
    OPT_PLAIN_3964,
    OPT_WITH_BCC,
    OPT_ZVZ,
    OPT_QVZ,
    OPT_ATTEMPTS,
    OPT_PRIORITY,
    OPT_ECHO,
    OPT_MAX_LENGTH,
    OPT_RETRY_DELAY,
    OPT_SEND,
    OPT_FILE,
    OPT_STDIN,
    OPT_REPEAT,
    OPT_INTERVAL,
    OPT_QUIT_AFTER_SEND,
    OPT_COUNT,
    OPT_DURATION,
    OPT_FAULT,
    OPT_FAULT_RATE,
    OPT_SEED,
    OPT_PAUSE_MS,
    OPT_STRAY_BYTE,
    OPT_STRAY_QUIET,
    OPT_CONFLICT_TELEGRAM,
    OPT_REPLAY,
    OPT_REPLAY_WAIT,
    OPT_REPLAY_AFTER,
    OPT_LINE_SPEED,
};

// '-': arguments that are no options come back in their place, so that the
// telegrams of the command line, of --send and of --file keep their order;
// ':': a missing value is told apart from an unknown option.
constexpr char SHORT_OPTIONS[] = "-:hV";

constexpr std::array<option, 36> long_options{{  // ended by an entry of zeros
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"device", required_argument, nullptr, OPT_DEVICE},
    {"baud", required_argument, nullptr, OPT_BAUD},
    {"parity", required_argument, nullptr, OPT_PARITY},
    {"link", required_argument, nullptr, OPT_LINK},
    {"line-speed", required_argument, nullptr, OPT_LINE_SPEED},
    {"3964", no_argument, nullptr, OPT_PLAIN_3964},
    {"3964r", no_argument, nullptr, OPT_WITH_BCC},
    {"3964R", no_argument, nullptr, OPT_WITH_BCC},
    {"zvz", required_argument, nullptr, OPT_ZVZ},
    {"qvz", required_argument, nullptr, OPT_QVZ},
    {"attempts", required_argument, nullptr, OPT_ATTEMPTS},
    {"priority", required_argument, nullptr, OPT_PRIORITY},
    {"echo", no_argument, nullptr, OPT_ECHO},
    {"max-length", required_argument, nullptr, OPT_MAX_LENGTH},
    {"retry-delay", required_argument, nullptr, OPT_RETRY_DELAY},
    {"send", required_argument, nullptr, OPT_SEND},
    {"file", required_argument, nullptr, OPT_FILE},
    {"stdin", no_argument, nullptr, OPT_STDIN},
    {"repeat", required_argument, nullptr, OPT_REPEAT},
    {"interval", required_argument, nullptr, OPT_INTERVAL},
    {"quit-after-send", no_argument, nullptr, OPT_QUIT_AFTER_SEND},
    {"count", required_argument, nullptr, OPT_COUNT},
    {"duration", required_argument, nullptr, OPT_DURATION},
    {"fault", required_argument, nullptr, OPT_FAULT},
    {"fault-rate", required_argument, nullptr, OPT_FAULT_RATE},
    {"seed", required_argument, nullptr, OPT_SEED},
    {"pause-ms", required_argument, nullptr, OPT_PAUSE_MS},
    {"stray-byte", required_argument, nullptr, OPT_STRAY_BYTE},
    {"stray-quiet", required_argument, nullptr, OPT_STRAY_QUIET},
    {"conflict-telegram", required_argument, nullptr, OPT_CONFLICT_TELEGRAM},
    {"replay", required_argument, nullptr, OPT_REPLAY},
    {"replay-wait", required_argument, nullptr, OPT_REPLAY_WAIT},
    {"replay-after", required_argument, nullptr, OPT_REPLAY_AFTER},
}};

// The rates the server accepts.
int parse_rate(const std::string& option, const std::string& text)
{
    static constexpr int rates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    long rate = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, rate);
    if (text.empty() || error != std::errc() || stop != end ||
        std::find(std::begin(rates), std::end(rates), rate) == std::end(rates)) {
        throw OptionError(option + " must be 1200, 2400, 4800, 9600, 19200, 38400, 57600 or 115200, not '" + text +
                          "'");
    }
    return static_cast<int>(rate);
}

long parse_number(const std::string& option, const std::string& text, long low, long high)
{
    long value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || value < low || value > high) {
        throw OptionError(option + " needs a whole number from " + std::to_string(low) + " to " +
                          std::to_string(high) + ", not '" + text + "'");
    }
    return value;
}

double parse_decimal(const std::string& option, const std::string& text, double low, double high)
{
    char* stop = nullptr;
    const double value = std::strtod(text.c_str(), &stop);
    if (text.empty() || stop != text.c_str() + text.size() || !(value >= low && value <= high)) {
        throw OptionError(option + " needs a number from " + std::to_string(low) + " to " + std::to_string(high) +
                          ", not '" + text + "'");
    }
    return value;
}

Bytes parse_telegram(const std::string& where, const std::string& text)
{
    std::optional<Bytes> telegram = text == "-" ? Bytes{} : parse_hex(text);
    if (!telegram) {
        throw OptionError("bad hex telegram " + where + ": '" + text + "'");
    }
    return *telegram;
}

Fault parse_fault(const std::string& option, const std::string& name)
{
    std::optional<Fault> fault = fault_from_name(name);
    if (!fault) {
        std::string known;
        for (std::string_view each : fault_names) {
            known += known.empty() ? "" : ", ";
            known += each;
        }
        throw OptionError(option + ": unknown fault '" + name + "' (known: " + known + ")");
    }
    return *fault;
}

// "KIND" or "KIND=VALUE".
std::pair<std::string, std::string> split_at_equals(const std::string& text)
{
    const size_t at = text.find('=');
    if (at == std::string::npos) {
        return {text, ""};
    }
    return {text.substr(0, at), text.substr(at + 1)};
}

void read_telegram_file(const std::string& path, std::vector<Bytes>& telegrams)
{
    std::ifstream file(path);
    if (!file) {
        throw OptionError("cannot read the telegram file '" + path + "'");
    }
    std::string line;
    int number = 0;
    while (std::getline(file, line)) {
        ++number;
        bool skip = false;
        std::optional<Bytes> telegram = parse_telegram_line(line, skip);
        if (skip) {
            continue;
        }
        if (!telegram) {
            throw OptionError("bad hex telegram in " + path + " line " + std::to_string(number) + ": '" + line + "'");
        }
        telegrams.push_back(std::move(*telegram));
    }
}

}  // namespace

std::optional<Bytes> parse_telegram_line(const std::string& line, bool& skip)
{
    const size_t first = line.find_first_not_of(" \t\r");
    skip = first == std::string::npos || line[first] == '#';
    if (skip) {
        return std::nullopt;
    }
    const size_t last = line.find_last_not_of(" \t\r");
    const std::string text = line.substr(first, last - first + 1);
    if (text == "-") {
        return Bytes{};
    }
    return parse_hex(text);
}

ProgramOptions parse_options(int argc, char** argv)
{
    ProgramOptions options;
    PartnerSettings& settings = options.settings;
    bool baud_given = false;
    bool parity_given = false;
    opterr = 0;  // the messages are the program's own
    optind = 1;
    for (;;) {
        // A long option fills an argument of its own and is named as
        // written; a short one may share it ("-hV") and is named by its letter.
        const std::string arg = optind < argc ? argv[optind] : "";
        const bool long_form = arg.rfind("--", 0) == 0;
        int index = -1;
        const int code = getopt_long(argc, argv, SHORT_OPTIONS, long_options.data(), &index);
        if (code == -1) {
            break;  // the end, or "--": what follows are telegrams
        }
        const std::string written =
            long_form ? arg.substr(0, arg.find('=')) : std::string{'-', static_cast<char>(optopt)};
        if (code == '?' && long_form && optopt != 0) {
            throw OptionError(written + " takes no value");
        }
        if (code == '?') {
            throw OptionError("unknown option '" + (long_form ? arg : written) + "'");
        }
        if (code == ':') {
            throw OptionError(written + " needs a value");
        }
        // Named in full in the messages about its value, also when shortened.
        const std::string option =
            index >= 0 ? std::string("--") + long_options[static_cast<size_t>(index)].name : std::string();
        const std::string value = optarg != nullptr ? optarg : "";

        switch (code) {
        case OPT_TELEGRAM:
            options.telegrams.push_back(parse_telegram("on the command line", value));
            break;
        case 'h':
            options.help = true;
            break;
        case 'V':
            options.version = true;
            break;
        case OPT_DEVICE:
            options.device = value;
            break;
        case OPT_BAUD:
            options.baud = parse_rate("--baud", value);
            baud_given = true;
            break;
        case OPT_LINE_SPEED:
            options.line_speed = parse_rate("--line-speed", value);
            break;
        case OPT_PARITY:
            if (value != "E" && value != "O" && value != "N") {
                throw OptionError("--parity must be E, O or N, not '" + value + "'");
            }
            options.parity = value[0];
            parity_given = true;
            break;
        case OPT_LINK:
            options.link = value;
            break;
        case OPT_PLAIN_3964:
            settings.bcc = false;
            break;
        case OPT_WITH_BCC:
            settings.bcc = true;
            break;
        case OPT_ZVZ:
            settings.zvz_ms = static_cast<int>(parse_number(option, value, 1, 600000));
            break;
        case OPT_QVZ:
            settings.qvz_ms = static_cast<int>(parse_number(option, value, 1, 600000));
            break;
        case OPT_ATTEMPTS:
            settings.send_attempts = static_cast<int>(parse_number(option, value, 1, 1000));
            break;
        case OPT_PRIORITY:
            if (value != "high" && value != "low") {
                throw OptionError("--priority must be high or low, not '" + value + "'");
            }
            settings.priority = value == "high" ? Priority::high : Priority::low;
            break;
        case OPT_ECHO:
            settings.echo = true;
            break;
        case OPT_MAX_LENGTH:
            settings.max_length = static_cast<size_t>(parse_number(option, value, 1, 1 << 20));
            break;
        case OPT_RETRY_DELAY:
            settings.retry_delay_ms = static_cast<int>(parse_number(option, value, 0, 600000));
            break;
        case OPT_SEND:
            options.telegrams.push_back(parse_telegram("of --send", value));
            break;
        case OPT_FILE:
            read_telegram_file(value, options.telegrams);
            break;
        case OPT_STDIN:
            options.from_stdin = true;
            break;
        case OPT_REPEAT:
            options.repeat = static_cast<int>(parse_number(option, value, 0, 1000000000));
            break;
        case OPT_INTERVAL:
            options.interval_ms = static_cast<int>(parse_number(option, value, 0, 3600000));
            break;
        case OPT_QUIT_AFTER_SEND:
            options.quit_after_send = true;
            break;
        case OPT_COUNT:
            options.count = parse_number(option, value, 1, 2000000000);
            break;
        case OPT_DURATION:
            options.duration_s = parse_decimal(option, value, 0.001, 31536000.0);
            break;
        case OPT_FAULT: {
            const auto [name, times] = split_at_equals(value);
            const int n =
                times.empty() ? 1 : static_cast<int>(parse_number(option + " " + name, times, 1, 1000000000));
            options.fault_counts.emplace_back(parse_fault(option, name), n);
            break;
        }
        case OPT_FAULT_RATE: {
            const auto [name, rate] = split_at_equals(value);
            if (rate.empty()) {
                throw OptionError("--fault-rate needs KIND=P, e.g. nak-end=0.05");
            }
            const Fault fault = parse_fault(option, name);
            options.fault_rates.emplace_back(fault, parse_decimal(option + " " + name, rate, 0.0, 1.0));
            break;
        }
        case OPT_SEED: {
            uint64_t seed = 0;
            const auto [stop, error] = std::from_chars(value.data(), value.data() + value.size(), seed);
            if (value.empty() || error != std::errc() || stop != value.data() + value.size()) {
                throw OptionError("--seed needs a whole number, not '" + value + "'");
            }
            settings.seed = seed;
            break;
        }
        case OPT_PAUSE_MS:
            settings.pause_ms = static_cast<int>(parse_number(option, value, 0, 600000));
            break;
        case OPT_STRAY_BYTE: {
            std::optional<Bytes> byte = parse_hex(value);
            if (!byte || byte->size() != 1) {
                throw OptionError("--stray-byte needs one byte in hex, e.g. 41, not '" + value + "'");
            }
            settings.stray_byte = byte->front();
            break;
        }
        case OPT_STRAY_QUIET:
            settings.stray_quiet_ms = static_cast<int>(parse_number(option, value, 1, 3600000));
            break;
        case OPT_CONFLICT_TELEGRAM:
            settings.conflict_telegram = parse_telegram("of --conflict-telegram", value);
            break;
        case OPT_REPLAY:
            if (value.empty()) {
                throw OptionError("--replay needs the trace file");
            }
            options.replay = value;
            break;
        case OPT_REPLAY_WAIT:
            options.replay_settings.wait_ms = static_cast<int>(parse_number(option, value, 1, 3600000));
            break;
        case OPT_REPLAY_AFTER:
            options.replay_settings.after_ms = static_cast<int>(parse_number(option, value, 0, 3600000));
            break;
        default:
            throw OptionError("unknown option '" + arg + "'");
        }
    }
    for (; optind < argc; ++optind) {
        options.telegrams.push_back(parse_telegram("on the command line", argv[optind]));
    }
    if (options.device.empty() && (baud_given || (parity_given && options.line_speed == 0))) {
        throw OptionError("--baud and --parity apply to --device only (--parity also to --line-speed)");
    }
    if (options.line_speed != 0 && !options.device.empty()) {
        throw OptionError("--line-speed applies to the pseudo-terminal only: a --device has its own speed");
    }
    if (!options.link.empty() && !options.device.empty()) {
        throw OptionError("--link applies to the pseudo-terminal only, not to --device");
    }
    if (!options.replay.empty() && (!options.telegrams.empty() || options.from_stdin || settings.echo ||
                                    !options.fault_counts.empty() || !options.fault_rates.empty())) {
        throw OptionError("--replay plays the trace alone: no telegrams, --stdin, --echo or faults with it");
    }
    if (settings.qvz_ms <= settings.zvz_ms) {
        throw OptionError("--qvz must be greater than --zvz");
    }
    return options;
}

std::string usage_text()
{
    return R"(Usage: qo3964_partner [OPTION]... [HEX]...
Plays the partner device (a controller) at the other end of a serial line
that speaks the 3964 / 3964R procedure, so that qo3964_server can be run
and tested without hardware. It answers the server's telegrams, sends
telegrams of its own and misbehaves on cue.

Line:
  (default)             create a pseudo-terminal pair; the first line of
                        output is "PTY <path>": the PORT for the server
  --device PATH         use this serial device instead (e.g. one end of a
                        null-modem cable); the first line is "DEVICE <path>"
  --baud N              speed of --device: 1200, 2400, 4800, 9600, 19200,
                        38400, 57600 or 115200 (default 9600)
  --parity E|O|N        parity of --device or --line-speed (default E)
  --line-speed N        make the pseudo-terminal as slow as a real line at
                        N baud (the rates of --baud), with --parity's
                        character (11 bits with E or O, 10 with N): own
                        bytes go out one character time apart, the
                        server's are taken only after their time on the
                        wire. The server's rc-file should name the same
                        BAUD and PARITY
  --link PATH           make PATH a symbolic link to the pseudo-terminal
                        (handy for rc-files); removed at exit. An existing
                        symbolic link is replaced, any other file is not.

Procedure (defaults as the server's):
  --3964r               a block check character (BCC) follows DLE ETX (default)
  --3964                no block check character
  --zvz MS              character delay time (default 220)
  --qvz MS              acknowledgement delay time, greater than zvz (default 2000)
  --attempts N          attempts per own telegram, the first included (default 6)
  --priority high|low   when both sides send STX at once: high waits on for
                        DLE, low answers DLE and receives first (default high;
                        the server gives way)
  --echo                send every received telegram back
  --max-length N        longest telegram taken; longer ones get NAK (default 4096)
  --retry-delay MS      quiet time before a repetition (default 2 x zvz)

Sending:
  HEX, --send HEX       a telegram to send: "01 10 02", 011002 or 01:10:02;
                        "-" (or "") is the empty telegram
  --file PATH           telegrams from a file, one per line; blank lines and
                        lines starting with '#' are skipped
  --stdin               telegrams from standard input, one per line, sent as
                        they come (after those of the command line and file);
                        a bad line is reported and skipped
  --repeat N            send the telegrams of the command line and file N
                        times (0: endlessly; default 1)
  --interval MS         pause after each telegram (default 0)
  --quit-after-send     end when every telegram has been sent; the exit
                        status is 3 when one of them failed

Faults (KIND: nak-stx, nak-end, silent-stx, silent-end, corrupt-bcc, pause,
stray, conflict):
  --fault KIND[=N]      inject KIND at its next N occasions (default 1)
  --fault-rate KIND=P   inject KIND at each occasion with probability P (0 to 1)
  --seed N              seed for the probabilities (default 1)
    nak-stx      answer the server's STX with NAK instead of DLE
    nak-end      answer a correct telegram's end with NAK instead of DLE
    silent-stx   do not answer the server's STX
    silent-end   do not answer a correct telegram's end (it is not delivered)
    corrupt-bcc  send an own telegram with a wrong BCC (3964R only)
    pause        pause inside an own telegram, after its first byte
    stray        write a stray byte when the line has been quiet a while
    conflict     answer the server's STX with an own STX (and send the next
                 queued telegram, or the conflict telegram)
  --pause-ms MS         length of the pause (default 2 x zvz)
  --stray-byte HEX      the stray byte (default 41)
  --stray-quiet MS      quiet time before a stray byte (default 2 x zvz)
  --conflict-telegram HEX  sent by the conflict fault when nothing is queued
                        (default 43 4F 4E 46 4C 49 43 54, "CONFLICT")

Replaying a server's trace (rc key TRACEFILE):
  --replay FILE         play the partner's side of the trace: the IN lines
                        (what that server read) are written with the pauses
                        they had (at most 10 s), each OUT line (what it
                        wrote) is waited for and compared. Begins once the
                        server has set up the line; ends after the last line
  --replay-wait MS      how long each OUT line is waited for (default 5000)
  --replay-after MS     pause after the server set up the line, before the
                        first line (default 1000)
  The server's side is driven as it was then: a send in the trace comes
  only when an application sends it again.

Ending: on SIGINT or SIGTERM, or
  --count N             after N telegrams have been received
  --duration S          after S seconds (decimals allowed)
  -h, --help            show this text
  -V, --version         show the version

Long options may be shortened to any unambiguous start; "--" ends the
options: every argument after it is a telegram.

Output: one line per event on standard output, "HH:MM:SS.mmm EVENT details",
where <hex> is "-" for the empty telegram:
  RX <hex>                         telegram received and acknowledged
  RX-NAK <reason> <hex>            reception refused: bcc-error, dle-sequence,
                                   overflow, zvz
  TX <hex> <outcome> attempts=N    own telegram ended: acknowledged,
                                   no-connection, refused, no-acknowledgement,
                                   line-failure, stopped
  TX-FAIL <outcome> attempt=N      one attempt failed
  STRAY <hex>                      unexpected bytes while idle
  CONFLICT keep|yield              both sides sent STX at once
  FAULT <kind>                     a fault was injected
and at the end "STATS received=N rejected=N attempts=N sent=N acknowledged=N
refused=N failed=N stray=N conflicts=N fault-<kind>=N ...".
With --replay: REPLAY-IN, REPLAY-OUT (as traced), REPLAY-DIFFERS,
REPLAY-MISSING and REPLAY-SKIP (a line error) with the trace's line number,
and at the end "REPLAY-END written=N matched=N differed=N missing=N
skipped=N".

Exit status: 0 normal end, 1 the line could not be opened or was lost,
2 bad option or bad hex, 3 a send failed (with --quit-after-send),
4 the server did not write what the trace shows (with --replay).
)";
}

}  // namespace qopartner
