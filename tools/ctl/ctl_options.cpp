// SPDX-License-Identifier: MIT
#include "ctl_options.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <string_view>

#include "ctl_report.h"

namespace qoctl {

namespace {

enum class OptionId { rc, handle, lang, help, version, timeout, file, follow, count, wait, json, prometheus };

constexpr unsigned command_bit(Command command)
{
    return 1u << static_cast<unsigned>(command);
}
constexpr unsigned ANY_COMMAND = ~0u;

struct OptionRule {
    const char* long_name;  // spelled with "--" before it
    char short_name;        // spelled with "-" before it; 0 for none
    bool takes_value;
    unsigned commands;  // the commands it belongs to
    OptionId id;
};

constexpr std::array<OptionRule, 12> option_rules{{
    {"rc", 'f', true, ANY_COMMAND, OptionId::rc},
    {"handle", 0, true, ANY_COMMAND, OptionId::handle},
    {"lang", 0, true, ANY_COMMAND, OptionId::lang},
    {"help", 'h', false, ANY_COMMAND, OptionId::help},
    {"version", 'V', false, ANY_COMMAND, OptionId::version},
    {"timeout", 0, true,
     command_bit(Command::send) | command_bit(Command::receive) | command_bit(Command::stop), OptionId::timeout},
    {"file", 0, true, command_bit(Command::send), OptionId::file},
    {"follow", 0, false, command_bit(Command::receive), OptionId::follow},
    {"count", 0, true, command_bit(Command::receive), OptionId::count},
    {"wait", 0, true, command_bit(Command::receive), OptionId::wait},
    {"json", 0, false, command_bit(Command::status), OptionId::json},
    {"prometheus", 0, false, command_bit(Command::status), OptionId::prometheus},
}};

// getopt_long's code for a long option: past every character, so that it
// never meets a short option's.
constexpr int LONG_CODE_BASE = 256;

// getopt_long's tables, made from option_rules. The short options begin
// with '+' (no reordering: parse_options hands getopt_long only the
// arguments that are options, and takes the others itself, in their order;
// so "text -67" is a code, never the options -6 and -7) and ':' (a missing
// value is told apart from an unknown option).
constexpr auto long_options = [] {
    std::array<option, option_rules.size() + 1> table{};
    for (std::size_t i = 0; i < option_rules.size(); ++i) {
        table[i] = {option_rules[i].long_name, option_rules[i].takes_value ? required_argument : no_argument,
                    nullptr, LONG_CODE_BASE + static_cast<int>(i)};
    }
    return table;
}();

constexpr auto short_options = [] {
    std::array<char, 2 + 2 * option_rules.size() + 1> text{'+', ':'};
    std::size_t at = 2;
    for (const OptionRule& rule : option_rules) {
        if (rule.short_name != 0) {
            text[at++] = rule.short_name;
            if (rule.takes_value) {
                text[at++] = ':';
            }
        }
    }
    return text;
}();

struct CommandName {
    std::string_view name;
    Command command;
};

constexpr std::array<CommandName, 5> command_names{{
    {"status", Command::status},
    {"send", Command::send},
    {"receive", Command::receive},
    {"stop", Command::stop},
    {"text", Command::text},
}};

constexpr std::array<std::string_view, 3> language_names{"en", "de", "both"};
constexpr std::array<Language, 3> languages{Language::english, Language::german, Language::both};

// A leading '-' makes an option, except before a digit: "-67" is a code.
bool looks_like_option(const char* arg)
{
    return arg[0] == '-' && arg[1] != '\0' && std::isdigit(static_cast<unsigned char>(arg[1])) == 0;
}

// The rule of a code that getopt_long returned; nullptr for none.
const OptionRule* rule_for(int code)
{
    for (std::size_t i = 0; i < option_rules.size(); ++i) {
        const OptionRule& rule = option_rules[i];
        if (code == LONG_CODE_BASE + static_cast<int>(i) || (rule.short_name != 0 && code == rule.short_name)) {
            return &rule;
        }
    }
    return nullptr;
}

int refuse_value(const OptionRule& rule, const char* value, const char* wanted)
{
    complain("option --%s needs %s, not \"%s\"", rule.long_name, wanted, value);
    return EXIT_USAGE;
}

int apply_option(const OptionRule& rule, const char* value, CtlOptions& options)
{
    int64_t number = 0;
    switch (rule.id) {
    case OptionId::rc:
        if (value[0] == '\0') {
            return refuse_value(rule, value, "a file name");
        }
        options.rc_path = value;
        break;
    case OptionId::handle:
        // The range 0 to 9 is the library's to judge (-50).
        if (!parse_number(value, INT32_MIN, INT32_MAX, number)) {
            return refuse_value(rule, value, "a whole number");
        }
        options.handle = static_cast<int32_t>(number);
        break;
    case OptionId::lang: {
        bool known = false;
        for (std::size_t i = 0; i < language_names.size(); ++i) {
            if (language_names[i] == value) {
                options.language = languages[i];
                known = true;
            }
        }
        if (!known) {
            return refuse_value(rule, value, "en, de or both");
        }
        options.language_given = true;
        break;
    }
    case OptionId::help:
        options.help = true;
        break;
    case OptionId::version:
        options.version = true;
        break;
    case OptionId::timeout:
        if (!parse_number(value, 0, TIMEOUT_MAX_S, number)) {
            return refuse_value(rule, value, "whole seconds from 0 (no limit) to 3600");
        }
        options.timeout_s = static_cast<int32_t>(number);
        break;
    case OptionId::file:
        if (value[0] == '\0') {
            return refuse_value(rule, value, "a file name");
        }
        options.file = value;
        break;
    case OptionId::follow:
        options.follow = true;
        break;
    case OptionId::count:
        if (!parse_number(value, 1, INT32_MAX, number)) {
            return refuse_value(rule, value, "a number of telegrams from 1 on");
        }
        options.count = static_cast<int32_t>(number);
        break;
    case OptionId::wait:
        if (!parse_number(value, 0, int64_t{TIMEOUT_MAX_S} * 1000, number)) {
            return refuse_value(rule, value, "milliseconds from 0 (no limit) to 3600000");
        }
        options.wait_ms = static_cast<int32_t>(number);
        break;
    case OptionId::json:
    case OptionId::prometheus: {
        const StatusFormat format = rule.id == OptionId::json ? StatusFormat::json : StatusFormat::prometheus;
        if (options.status_format != StatusFormat::text && options.status_format != format) {
            complain("options --json and --prometheus exclude each other");
            return EXIT_USAGE;
        }
        options.status_format = format;
        break;
    }
    }
    return EXIT_DONE;
}

// Reads the next option (and its value) with getopt_long; `arg` is the
// argument it begins in, as the user wrote it.
int read_option(int argc, char** argv, const char* arg, CtlOptions& options, unsigned& used)
{
    // A long option always fills an argument of its own; a short one may
    // share it with others ("-hV"), so it is named by its letter.
    const bool long_form = arg[1] == '-';
    const int code = getopt_long(argc, argv, short_options.data(), long_options.data(), nullptr);
    const char short_form[] = {'-', static_cast<char>(optopt), '\0'};
    const OptionRule* rule = rule_for(code == '?' || code == ':' ? optopt : code);
    if (code == '?' && long_form && rule != nullptr) {
        complain("option --%s takes no value", rule->long_name);
        return EXIT_USAGE;
    }
    if (code == '?' || rule == nullptr) {
        complain("unknown option \"%s\"; see qo3964_ctl --help", long_form ? arg : short_form);
        return EXIT_USAGE;
    }
    if (code == ':') {
        complain("option %s needs a value", long_form ? arg : short_form);
        return EXIT_USAGE;
    }
    used |= 1u << static_cast<unsigned>(rule - option_rules.data());
    return apply_option(*rule, optarg, options);
}

int read_command(const char* arg, CtlOptions& options)
{
    for (const CommandName& entry : command_names) {
        if (entry.name == arg) {
            options.command = entry.command;
            options.command_name = entry.name.data();
            return EXIT_DONE;
        }
    }
    complain("unknown command \"%s\"; the commands are status, send, receive, stop and text", arg);
    return EXIT_USAGE;
}

// Options given for another command, and arguments the command does not take.
int check_command(const CtlOptions& options, unsigned used)
{
    for (std::size_t i = 0; i < option_rules.size(); ++i) {
        const OptionRule& rule = option_rules[i];
        if ((used & (1u << i)) != 0 && (rule.commands & command_bit(options.command)) == 0) {
            complain("option --%s does not belong to the command %s", rule.long_name, options.command_name);
            return EXIT_USAGE;
        }
    }
    const std::size_t arguments = options.arguments.size();
    switch (options.command) {
    case Command::send:
        if (options.file != nullptr && arguments > 0) {
            complain("send takes either hex bytes or --file, not both");
            return EXIT_USAGE;
        }
        if (options.file == nullptr && arguments == 0) {
            complain("send needs the telegram: hex bytes (e.g. 01 10 02) or --file FILE");
            return EXIT_USAGE;
        }
        return EXIT_DONE;
    case Command::text:
        if (arguments != 1) {
            complain("text needs one result code (e.g. qo3964_ctl text -67)");
            return EXIT_USAGE;
        }
        return EXIT_DONE;
    case Command::receive:
        if (options.wait_ms != NOT_GIVEN && options.timeout_s != NOT_GIVEN) {
            complain("receive takes either --wait MS or --timeout SECONDS, not both");
            return EXIT_USAGE;
        }
        [[fallthrough]];
    case Command::status:
    case Command::stop:
    case Command::none:
        break;
    }
    if (arguments > 0) {
        complain("the command %s takes no argument, not \"%s\"", options.command_name, options.arguments.front());
        return EXIT_USAGE;
    }
    return EXIT_DONE;
}

}  // namespace

bool parse_number(const char* text, int64_t min, int64_t max, int64_t& value)
{
    // strtoll alone would accept blanks before the number and "+-".
    const char* digits = text + ((text[0] == '-' || text[0] == '+') ? 1 : 0);
    if (std::isdigit(static_cast<unsigned char>(digits[0])) == 0) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long long number = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || number < min || number > max) {
        return false;
    }
    value = number;
    return true;
}

int parse_options(int argc, char** argv, CtlOptions& options)
{
    unsigned used = 0;
    bool options_end = false;
    opterr = 0;  // the messages are the tool's own
    optind = 1;
    while (optind < argc) {
        const char* arg = argv[optind];
        int status = EXIT_DONE;
        if (!options_end && std::strcmp(arg, "--") == 0) {
            options_end = true;
            ++optind;
        } else if (!options_end && looks_like_option(arg)) {
            status = read_option(argc, argv, arg, options, used);
        } else {
            ++optind;
            if (options.command == Command::none) {
                status = read_command(arg, options);
            } else {
                options.arguments.push_back(arg);
            }
        }
        if (status != EXIT_DONE) {
            return status;
        }
    }
    if (options.help || options.version) {
        return EXIT_DONE;
    }
    if (options.command == Command::none) {
        complain("no command given; see qo3964_ctl --help");
        return EXIT_USAGE;
    }
    return check_command(options, used);
}

int32_t timeout_or(const CtlOptions& options, int32_t default_s)
{
    return options.timeout_s == NOT_GIVEN ? default_s : options.timeout_s;
}

}  // namespace qoctl
