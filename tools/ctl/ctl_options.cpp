#include "ctl_options.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "ctl_report.h"

namespace qoctl {

namespace {

enum class OptionId { rc, handle, lang, help, version, timeout, file, follow, count };

constexpr unsigned command_bit(Command command)
{
    return 1u << static_cast<unsigned>(command);
}
constexpr unsigned ANY_COMMAND = ~0u;

struct OptionRule {
    std::string_view long_name;  // spelled with "--" before it
    char short_name;             // spelled with "-" before it; 0 for none
    bool takes_value;
    unsigned commands;  // the commands it belongs to
    OptionId id;
};

constexpr std::array<OptionRule, 9> option_rules{{
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
}};

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

const OptionRule* find_rule(std::string_view name, bool long_form)
{
    for (const OptionRule& rule : option_rules) {
        if (long_form ? rule.long_name == name : (name.size() == 1 && rule.short_name == name[0])) {
            return &rule;
        }
    }
    return nullptr;
}

int refuse_value(const OptionRule& rule, const char* value, const char* wanted)
{
    complain("option --%.*s needs %s, not \"%s\"", static_cast<int>(rule.long_name.size()),
             rule.long_name.data(), wanted, value);
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
    }
    return EXIT_DONE;
}

// Reads the option at argv[i] (and its value, which may be the next
// argument); `i` is left on the last argument used.
int read_option(int argc, char** argv, int& i, CtlOptions& options, unsigned& used)
{
    const char* arg = argv[i];
    const bool long_form = arg[1] == '-';
    std::string_view name(arg + (long_form ? 2 : 1));
    const char* value = nullptr;
    const std::size_t equals = name.find('=');
    if (long_form && equals != std::string_view::npos) {
        value = arg + 2 + equals + 1;
        name = name.substr(0, equals);
    }
    const OptionRule* rule = find_rule(name, long_form);
    if (rule == nullptr) {
        complain("unknown option \"%s\"; see qo3964_ctl --help", arg);
        return EXIT_USAGE;
    }
    if (!rule->takes_value && value != nullptr) {
        complain("option --%.*s takes no value", static_cast<int>(rule->long_name.size()), rule->long_name.data());
        return EXIT_USAGE;
    }
    if (rule->takes_value && value == nullptr) {
        if (i + 1 >= argc) {
            complain("option %s needs a value", arg);
            return EXIT_USAGE;
        }
        value = argv[++i];
    }
    used |= 1u << static_cast<unsigned>(rule - option_rules.data());
    return apply_option(*rule, value, options);
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
            complain("option --%.*s does not belong to the command %s", static_cast<int>(rule.long_name.size()),
                     rule.long_name.data(), options.command_name);
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
    case Command::status:
    case Command::receive:
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
    for (int i = 1; i < argc; ++i) {
        int status = EXIT_DONE;
        if (looks_like_option(argv[i])) {
            status = read_option(argc, argv, i, options, used);
        } else if (options.command == Command::none) {
            status = read_command(argv[i], options);
        } else {
            options.arguments.push_back(argv[i]);
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
