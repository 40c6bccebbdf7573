#include "partner_options.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <fstream>

#include "hex_text.h"

namespace qopartner {

namespace {

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

ProgramOptions parse_options(const std::vector<std::string>& args)
{
    ProgramOptions options;
    PartnerSettings& settings = options.settings;
    bool device_line_options = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string option = args[i];
        std::string value;
        bool has_value = false;
        if (option.rfind("--", 0) == 0 && option.find('=') != std::string::npos) {
            const size_t at = option.find('=');
            value = option.substr(at + 1);
            option = option.substr(0, at);
            has_value = true;
        }
        const auto take_value = [&]() -> std::string {
            if (has_value) {
                return value;
            }
            if (i + 1 >= args.size()) {
                throw OptionError(option + " needs a value");
            }
            return args[++i];
        };
        const auto no_value = [&] {
            if (has_value) {
                throw OptionError(option + " takes no value");
            }
        };

        if (option == "--help" || option == "-h") {
            no_value();
            options.help = true;
        } else if (option == "--version" || option == "-V") {
            no_value();
            options.version = true;
        } else if (option == "--device") {
            options.device = take_value();
        } else if (option == "--baud") {
            const std::string text = take_value();
            options.baud = static_cast<int>(parse_number(option, text, 1, 10000000));
            static constexpr int rates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
            if (std::find(std::begin(rates), std::end(rates), options.baud) == std::end(rates)) {
                throw OptionError("--baud must be 1200, 2400, 4800, 9600, 19200, 38400, 57600 or 115200, not '" +
                                  text + "'");
            }
            device_line_options = true;
        } else if (option == "--parity") {
            const std::string text = take_value();
            if (text != "E" && text != "O" && text != "N") {
                throw OptionError("--parity must be E, O or N, not '" + text + "'");
            }
            options.parity = text[0];
            device_line_options = true;
        } else if (option == "--link") {
            options.link = take_value();
        } else if (option == "--3964") {
            no_value();
            settings.bcc = false;
        } else if (option == "--3964r" || option == "--3964R") {
            no_value();
            settings.bcc = true;
        } else if (option == "--zvz") {
            settings.zvz_ms = static_cast<int>(parse_number(option, take_value(), 1, 600000));
        } else if (option == "--qvz") {
            settings.qvz_ms = static_cast<int>(parse_number(option, take_value(), 1, 600000));
        } else if (option == "--attempts") {
            settings.send_attempts = static_cast<int>(parse_number(option, take_value(), 1, 1000));
        } else if (option == "--priority") {
            const std::string text = take_value();
            if (text != "high" && text != "low") {
                throw OptionError("--priority must be high or low, not '" + text + "'");
            }
            settings.priority = text == "high" ? Priority::high : Priority::low;
        } else if (option == "--echo") {
            no_value();
            settings.echo = true;
        } else if (option == "--max-length") {
            settings.max_length = static_cast<size_t>(parse_number(option, take_value(), 1, 1 << 20));
        } else if (option == "--retry-delay") {
            settings.retry_delay_ms = static_cast<int>(parse_number(option, take_value(), 0, 600000));
        } else if (option == "--send") {
            options.telegrams.push_back(parse_telegram("of --send", take_value()));
        } else if (option == "--file") {
            read_telegram_file(take_value(), options.telegrams);
        } else if (option == "--stdin") {
            no_value();
            options.from_stdin = true;
        } else if (option == "--repeat") {
            options.repeat = static_cast<int>(parse_number(option, take_value(), 0, 1000000000));
        } else if (option == "--interval") {
            options.interval_ms = static_cast<int>(parse_number(option, take_value(), 0, 3600000));
        } else if (option == "--quit-after-send") {
            no_value();
            options.quit_after_send = true;
        } else if (option == "--count") {
            options.count = parse_number(option, take_value(), 1, 2000000000);
        } else if (option == "--duration") {
            options.duration_s = parse_decimal(option, take_value(), 0.001, 31536000.0);
        } else if (option == "--fault") {
            const auto [name, times] = split_at_equals(take_value());
            const int n = times.empty() ? 1 : static_cast<int>(parse_number(option + " " + name, times, 1, 1000000000));
            options.fault_counts.emplace_back(parse_fault(option, name), n);
        } else if (option == "--fault-rate") {
            const auto [name, rate] = split_at_equals(take_value());
            if (rate.empty()) {
                throw OptionError("--fault-rate needs KIND=P, e.g. nak-end=0.05");
            }
            const Fault fault = parse_fault(option, name);
            options.fault_rates.emplace_back(fault, parse_decimal(option + " " + name, rate, 0.0, 1.0));
        } else if (option == "--seed") {
            const std::string text = take_value();
            uint64_t seed = 0;
            const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), seed);
            if (text.empty() || error != std::errc() || stop != text.data() + text.size()) {
                throw OptionError("--seed needs a whole number, not '" + text + "'");
            }
            settings.seed = seed;
        } else if (option == "--pause-ms") {
            settings.pause_ms = static_cast<int>(parse_number(option, take_value(), 0, 600000));
        } else if (option == "--stray-byte") {
            const std::string text = take_value();
            std::optional<Bytes> byte = parse_hex(text);
            if (!byte || byte->size() != 1) {
                throw OptionError("--stray-byte needs one byte in hex, e.g. 41, not '" + text + "'");
            }
            settings.stray_byte = byte->front();
        } else if (option == "--stray-quiet") {
            settings.stray_quiet_ms = static_cast<int>(parse_number(option, take_value(), 1, 3600000));
        } else if (option == "--conflict-telegram") {
            settings.conflict_telegram = parse_telegram("of --conflict-telegram", take_value());
        } else if (option.size() > 1 && option[0] == '-' && option != "-") {
            throw OptionError("unknown option '" + args[i] + "'");
        } else {
            options.telegrams.push_back(parse_telegram("on the command line", option));
        }
    }
    if (device_line_options && options.device.empty()) {
        throw OptionError("--baud and --parity apply to --device only");
    }
    if (!options.link.empty() && !options.device.empty()) {
        throw OptionError("--link applies to the pseudo-terminal only, not to --device");
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
  --parity E|O|N        parity of --device (default E)
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

Ending: on SIGINT or SIGTERM, or
  --count N             after N telegrams have been received
  --duration S          after S seconds (decimals allowed)
  -h, --help            show this text
  -V, --version         show the version

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

Exit status: 0 normal end, 1 the line could not be opened or was lost,
2 bad option or bad hex, 3 a send failed (with --quit-after-send).
)";
}

}  // namespace qopartner
