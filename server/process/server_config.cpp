// SPDX-License-Identifier: MIT
#include "server_config.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <span>
#include <sys/stat.h>
#include <unistd.h>

#include "console_output.h"
#include "runtime_log.h"
#include "serial_line.h"
#include "server_process.h"

namespace qo3964 {

LinkSettings link_settings;
int32_t line_number = 0;
char token_slots[RC_TOKEN_SLOTS][RC_TOKEN_SIZE];

namespace {

constexpr const char* SEPARATORS = " \t\n,;";

// The copies of a line that the evaluation works on.
constexpr size_t COPY_SIZE = 511;

// A refusal report: message, word and value of rc_error. A refusal
// without a message is the illegal-value report of the key.
struct Refusal {
    const char* message = nullptr;
    const char* word = nullptr;
    const char* value = nullptr;
};

constexpr Refusal LINE_TOO_LONG{"line longer than", "255", "characters"};
constexpr Refusal KEY_TOO_LONG{"key longer than", "127", "characters"};
constexpr Refusal VALUE_TOO_LONG{"value longer than", "127", "characters"};
constexpr Refusal HOLDS_NUL{"line holds a", "NUL", "character"};
constexpr Refusal UNRECOGNISED{"cannot", "evaluate", "line:"};

enum class Kind : uint8_t {
    Ignored,  // accepted whatever follows, nothing set
    Text,     // any token, copied into a text field
    Number,   // a number within limits
    Word,     // one of a few words
    Checked,  // a token that `take` checks and stores
};

struct WordChoice {
    const char* word;
    int32_t code;
};

constexpr std::array<WordChoice, 2> on_off_flag{{{"ON", 1}, {"OFF", 0}}};
constexpr std::array<WordChoice, 2> on_off_flow{{{"ON", 'Y'}, {"OFF", 'N'}}};
constexpr std::array<WordChoice, 6> parity_words{{
    {"EVEN", 'E'},
    {"E", 'E'},
    {"ODD", 'O'},
    {"O", 'O'},
    {"NONE", 'N'},
    {"N", 'N'},
}};

struct KeyRule {
    const char* key;
    Kind kind;
    // Confirmation: label, then " set to " and the value; with a unit the
    // value takes the word's place and the unit the value's.
    const char* label = nullptr;
    const char* unit = nullptr;
    int32_t lowest = 1;
    int32_t highest = INT32_MAX;
    Refusal out_of_range{};
    bool (*accepts)(int32_t) = nullptr;  // a further test of a number within limits
    Refusal not_accepted{};
    std::span<const WordChoice> words{};
    void (*store)(int32_t) = nullptr;
    char (LinkSettings::*text)[512] = nullptr;
    bool (*take)(const char*) = nullptr;  // Checked: false refuses the value
};

// ACCESS: an octal mode of read and write bits, as chmod writes it (0660);
// execute and special bits mean nothing for a segment and are refused.
bool take_access(const char* value)
{
    const size_t length = std::strlen(value);
    if (length == 0 || length > 4 || std::strspn(value, "01234567") != length) {
        return false;
    }
    const long mode = std::strtol(value, nullptr, 8);
    if ((mode & ~0666L) != 0) {
        return false;
    }
    link_settings.access_mode = static_cast<int32_t>(mode);
    return true;
}

bool take_group(const char* value)
{
    const group* entry = getgrnam(value);
    if (entry == nullptr) {
        return false;
    }
    link_settings.group_id = static_cast<long>(entry->gr_gid);
    copy_bounded(link_settings.group_name, value, sizeof link_settings.group_name);
    return true;
}

bool take_server_user(const char* value)
{
    const passwd* entry = getpwnam(value);
    if (entry == nullptr) {
        return false;
    }
    link_settings.server_uid = static_cast<long>(entry->pw_uid);
    copy_bounded(link_settings.server_user, value, sizeof link_settings.server_user);
    return true;
}

constexpr std::array key_table{
    KeyRule{.key = "DEBUG", .kind = Kind::Number, .label = "Debuglevel", .lowest = 0, .highest = 10,
            .store = [](int32_t n) { link_settings.debug_level = n; }},
    KeyRule{.key = "CLIENTDEBUG", .kind = Kind::Ignored},
    KeyRule{.key = "MAILTO", .kind = Kind::Ignored},
    KeyRule{.key = "IODEBUG", .kind = Kind::Word, .label = "In-/Output-Debug", .words = on_off_flag,
            .store = [](int32_t n) { link_settings.io_debug = n; }},
    KeyRule{.key = "PORT", .kind = Kind::Text, .label = "serial port", .text = &LinkSettings::port_path},
    // The rates the serial line can set, from its own table.
    KeyRule{.key = "BAUD", .kind = Kind::Number, .label = "Baudrate",
            .accepts = [](int32_t n) { return speed_code(n) != 0; },
            .store = [](int32_t n) { link_settings.baud = n; }},
    KeyRule{.key = "PARITY", .kind = Kind::Word, .label = "Parity", .words = parity_words,
            .store = [](int32_t n) { link_settings.parity = static_cast<char>(n); }},
    KeyRule{.key = "FLOW", .kind = Kind::Word, .label = "Flow control", .words = on_off_flow,
            .store = [](int32_t n) { link_settings.flow = static_cast<char>(n); }},
    KeyRule{.key = "ZVZ", .kind = Kind::Number, .label = "ZVZ set to ", .unit = "ms",
            .store = [](int32_t n) { link_settings.zvz = n; }},
    // Tested against the ZVZ in effect when the line is read; a later ZVZ
    // line is not tested against it.
    KeyRule{.key = "QVZ", .kind = Kind::Number, .label = "QVZ set to ", .unit = "ms",
            .accepts = [](int32_t n) { return n > link_settings.zvz; },
            .not_accepted = {"QVZ must be greater", "than", "ZVZ"},
            .store = [](int32_t n) { link_settings.qvz = n; }},
    KeyRule{.key = "BCC_MODE", .kind = Kind::Number, .label = "BCC set to ", .unit = "", .lowest = 0,
            .highest = 1, .out_of_range = {"BCC_MODE must be 0", "or", "1"},
            .store = [](int32_t n) { link_settings.bcc_mode = n; }},
    // MMODE, TDS and TDR are 16-bit fields: a wider number is refused
    // rather than cut.
    KeyRule{.key = "MMODE", .kind = Kind::Number, .label = "Mastermode", .lowest = 0, .highest = 1,
            .store = [](int32_t n) { link_settings.mmode = static_cast<int16_t>(n); }},
    KeyRule{.key = "TDS", .kind = Kind::Number, .label = "repetitions of Sending", .highest = INT16_MAX,
            .store = [](int32_t n) { link_settings.tds = static_cast<int16_t>(n); }},
    KeyRule{.key = "TDR", .kind = Kind::Number, .label = "repetitions of Receiving", .highest = INT16_MAX,
            .store = [](int32_t n) { link_settings.tdr = static_cast<int16_t>(n); }},
    KeyRule{.key = "MAXTRANS", .kind = Kind::Number, .label = "line quality count-base"},
    KeyRule{.key = "SHMNAME", .kind = Kind::Text, .label = "shared memory namefile",
            .text = &LinkSettings::shm_name},
    // Access control: who may use the segment, and whose it must be.
    KeyRule{.key = "ACCESS", .kind = Kind::Checked, .label = "access mode", .take = take_access},
    KeyRule{.key = "GROUP", .kind = Kind::Checked, .label = "access group", .take = take_group},
    KeyRule{.key = "SERVERUSER", .kind = Kind::Checked, .label = "server user", .take = take_server_user},
    // The trace of a server that runs unattended: its file, and the size
    // in kB at which it is renamed to PATH.1 and begun anew.
    KeyRule{.key = "TRACEFILE", .kind = Kind::Text, .label = "trace file", .text = &LinkSettings::trace_path},
    KeyRule{.key = "TRACESIZE", .kind = Kind::Number, .label = "trace size", .unit = "kB", .lowest = 16,
            .store = [](int32_t n) { link_settings.trace_kb = n; }},
};

const KeyRule* find_rule(const char* key)
{
    for (const KeyRule& rule : key_table) {
        if (std::strcmp(rule.key, key) == 0) {
            return &rule;
        }
    }
    return nullptr;
}

int refuse(const char* line, const Refusal& refusal, const char* key, const char* value)
{
    if (refusal.message == nullptr) {
        return rc_error(line, key, nullptr, value);
    }
    return rc_error(line, refusal.message, refusal.word, refusal.value);
}

int confirm(const KeyRule& rule, const char* value)
{
    if (rule.unit != nullptr) {
        return rc_set(rule.label, value, rule.unit);
    }
    return rc_set(rule.label, nullptr, value);
}

int apply_number(const char* line, const KeyRule& rule, const char* value)
{
    const int32_t number = rc_number(value);
    if (number < rule.lowest || number > rule.highest) {
        return refuse(line, rule.out_of_range, rule.key, value);
    }
    if (rule.accepts != nullptr && !rule.accepts(number)) {
        return refuse(line, rule.not_accepted, rule.key, value);
    }
    if (rule.store != nullptr) {
        rule.store(number);
    }
    return confirm(rule, value);
}

int apply_word(const char* line, const KeyRule& rule, const char* value)
{
    for (const WordChoice& choice : rule.words) {
        if (std::strcmp(choice.word, value) == 0) {
            rule.store(choice.code);
            return confirm(rule, value);
        }
    }
    return refuse(line, {}, rule.key, value);
}

int apply_text(const KeyRule& rule, const char* value)
{
    char* field = link_settings.*rule.text;
    copy_bounded(field, value, sizeof(link_settings.*rule.text));
    return rc_set(rule.label, nullptr, field);
}

// Every key but those that take anything needs a value: a missing one is
// refused rather than taken from an earlier line.
int apply(const char* line, const KeyRule& rule, const char* value)
{
    if (rule.kind == Kind::Ignored) {
        return 0;
    }
    if (value == nullptr) {
        return refuse(line, {}, rule.key, nullptr);
    }
    switch (rule.kind) {
    case Kind::Text:
        return apply_text(rule, value);
    case Kind::Number:
        return apply_number(line, rule, value);
    case Kind::Word:
        return apply_word(line, rule, value);
    case Kind::Checked:
        if (!rule.take(value)) {
            return refuse(line, {}, rule.key, value);
        }
        return confirm(rule, value);
    case Kind::Ignored:
        break;
    }
    return 0;
}

// A CR LF line end counts as LF, so files written on DOS systems read alike.
void drop_cr_before_lf(char* text)
{
    const size_t length = std::strlen(text);
    if (length >= 2 && text[length - 2] == '\r' && text[length - 1] == '\n') {
        text[length - 2] = '\n';
        text[length - 1] = '\0';
    }
}

// The first character of the first token; the terminator when there is none.
char first_token_start(const char* text)
{
    return text[std::strspn(text, SEPARATORS)];
}

// Length of the n-th token (0 the first), 0 when there are fewer.
size_t token_length(const char* text, int n)
{
    const char* p = text + std::strspn(text, SEPARATORS);
    for (int i = 0; i < n && *p != '\0'; ++i) {
        p += std::strcspn(p, SEPARATORS);
        p += std::strspn(p, SEPARATORS);
    }
    return std::strcspn(p, SEPARATORS);
}

// One physical line of the file, however long.
struct FileLine {
    std::array<char, RC_LINE_READ> text{};  // its first 509 characters, terminated
    bool overlong = false;                  // more than blanks follow what is kept
    bool holds_nul = false;
};

// Reads up to and including the next LF; false at the end of the file.
// What goes beyond one read's limit is not kept, only judged: blanks
// there would be trimmed anyway, anything else makes the line too long.
// With `echo` every character read is shown as it comes.
bool read_file_line(FILE* stream, FileLine& line, bool echo)
{
    constexpr size_t KEPT = RC_LINE_READ - 1;
    size_t length = 0;
    bool pending_cr = false;
    bool any = false;
    line.overlong = false;
    line.holds_nul = false;
    int c = 0;
    while ((c = std::getc(stream)) != EOF) {
        any = true;
        if (c == '\0') {
            line.holds_nul = true;
        } else if (echo) {
            std::putchar(c);
        }
        if (length < KEPT) {
            line.text[length++] = static_cast<char>(c);
            if (c == '\n') {
                break;
            }
            continue;
        }
        if (c == '\n') {
            break;
        }
        if (pending_cr || (c != ' ' && c != '\r')) {
            line.overlong = true;
        }
        pending_cr = (c == '\r');
    }
    line.text[length] = '\0';
    return any;
}

// A line whose bytes the string functions cannot see whole is taken only
// when it is a comment; a comment adds nothing, whatever its length.
int eval_file_line(const FileLine& line)
{
    const char* text = line.text.data();
    if (!line.holds_nul && !line.overlong) {
        return rc_eval_line(text);
    }
    if (first_token_start(text) == '#') {
        return 0;
    }
    return refuse(text, line.holds_nul ? HOLDS_NUL : LINE_TOO_LONG, nullptr, nullptr);
}

}  // namespace

// "r+": a file the server's user may not write counts as missing. So does
// anything but a regular file: a FIFO would block the start for ever, a
// device such as /dev/zero would never end. It is looked at before it is
// opened (opening a device may act on it), and checked again once open.
FILE* rc_open(const char* path)
{
    struct stat info {};
    if (stat(path, &info) == 0 && !S_ISREG(info.st_mode)) {
        add_stop_detail(LOG_PRI_ERR, "%s: not a regular file", path);
        return nullptr;
    }
    const int fd = open(path, O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        add_stop_detail(LOG_PRI_ERR, "%s: %s", path, std::strerror(error));
        if (error == EACCES || error == EROFS) {
            add_stop_detail(LOG_PRI_NOTICE, "hint: the server opens its rc-file for reading and writing: "
                                            "its account must be allowed to write it");
        }
        return nullptr;
    }
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        add_stop_detail(LOG_PRI_ERR, "%s: not a regular file", path);
        close(fd);
        return nullptr;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    FILE* file = fdopen(fd, "r+");
    if (file == nullptr) {
        close(fd);
    }
    return file;
}

void shm_name_default_to_port()
{
    if (link_settings.shm_name[0] == '\0') {
        copy_bounded(link_settings.shm_name, link_settings.port_path, sizeof link_settings.shm_name);
    }
}

int rc_read_file(FILE* stream)
{
    line_number = 0;
    int result = 0;
    FileLine line;
    while (read_file_line(stream, line, link_settings.debug_level > 7)) {
        ++line_number;
        result |= eval_file_line(line);
    }
    std::fclose(stream);
    return result;
}

int rc_eval_line(const char* line)
{
    char raw[COPY_SIZE];
    char work[COPY_SIZE];
    copy_bounded(raw, line, sizeof raw);
    copy_bounded(work, line, sizeof work);

    drop_cr_before_lf(work);
    trim_trailing(work, '\r');
    trim_trailing(work, '\n');
    trim_trailing(work, ' ');

    const char start = first_token_start(work);
    if (start == '\0' || start == '#') {
        return 0;
    }
    // The tokenizer would cut what does not fit; refuse instead.
    if (std::strlen(work) > RC_TOKEN_BUFFER - 1) {
        return refuse(line, LINE_TOO_LONG, nullptr, nullptr);
    }
    if (token_length(work, 0) > RC_TOKEN_SIZE - 1) {
        return refuse(line, KEY_TOO_LONG, nullptr, nullptr);
    }
    if (token_length(work, 1) > RC_TOKEN_SIZE - 1) {
        return refuse(line, VALUE_TOO_LONG, nullptr, nullptr);
    }

    const int count = split_tokens(work, SEPARATORS, &token_slots[0][0], RC_TOKEN_SLOTS, RC_TOKEN_SIZE);
    const char* key = token_slots[0];
    const char* value = count > 1 ? token_slots[1] : nullptr;

    const KeyRule* rule = find_rule(key);
    if (rule == nullptr) {
        refuse(line, UNRECOGNISED, nullptr, nullptr);
        std::printf(">%s<\n", raw);
        return -1;
    }
    return apply(line, *rule, value);
}

int rc_error(const char* line, const char* message, const char* word, const char* value)
{
    const char* shown = line != nullptr ? line : "";
    // Under the journal each line of the report is an error entry.
    const char* priority = console_is_journal(CONSOLE_OUT) ? "<3>" : "";
    std::printf("%s  ERROR line %4i: %s", priority, static_cast<int>(line_number), shown);
    // A line without its LF (the last one of a file, or one too long to
    // keep whole) still gets a console line of its own.
    const size_t length = std::strlen(shown);
    if (length == 0 || shown[length - 1] != '\n') {
        std::putchar('\n');
    }
    std::printf("%s  ERROR >>>>>>> %s", priority, message != nullptr ? message : "");
    if (word != nullptr) {
        std::printf(" %s ", word);
    } else {
        std::printf(" illegal value ");
    }
    if (value != nullptr) {
        std::printf("%s", value);
    }
    std::printf("\n\n");
    return -1;
}

int rc_set(const char* label, const char* word, const char* value)
{
    if (link_settings.debug_level <= 0) {
        return 0;
    }
    std::printf("   %s", label != nullptr ? label : "");
    if (word != nullptr) {
        std::printf(" %s ", word);
    } else {
        std::printf(" set to ");
    }
    if (value != nullptr) {
        std::printf("%s", value);
    }
    std::printf("\n");
    return 0;
}

char* trim_trailing(char* text, char c)
{
    if (text == nullptr) {
        return text;
    }
    size_t length = std::strlen(text);
    while (length > 0 && text[length - 1] == c) {
        text[--length] = '\0';
    }
    return text;
}

void copy_bounded(char* target, const char* source, size_t size)
{
    if (target == nullptr || size == 0) {
        return;
    }
    const size_t length = source != nullptr ? strnlen(source, size - 1) : 0;
    if (length > 0) {
        std::memcpy(target, source, length);
    }
    target[length] = '\0';
}

int split_tokens(const char* text, const char* separators, char* slots, int max_tokens, int slot_size)
{
    if (text == nullptr || text[0] == '\0' || slots == nullptr || max_tokens <= 0 || slot_size <= 0) {
        return 0;
    }
    char buffer[RC_TOKEN_BUFFER];
    copy_bounded(buffer, text, sizeof buffer);
    const char* p = buffer;
    int taken = 0;
    while (taken < max_tokens) {
        p += std::strspn(p, separators);
        if (*p == '\0') {
            break;
        }
        const size_t length = std::strcspn(p, separators);
        const size_t kept = length < static_cast<size_t>(slot_size - 1) ? length : static_cast<size_t>(slot_size - 1);
        char* slot = slots + static_cast<ptrdiff_t>(taken) * slot_size;
        std::memcpy(slot, p, kept);
        slot[kept] = '\0';
        p += length;
        ++taken;
    }
    return taken;
}

int32_t rc_number(const char* text)
{
    if (text == nullptr) {
        return 0;
    }
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = (*text == '-');
        ++text;
    }
    // Digits beyond the range stop raising the magnitude, so a long run of
    // them clamps instead of overflowing.
    constexpr int64_t LIMIT = static_cast<int64_t>(INT32_MAX) + 1;
    int64_t magnitude = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        magnitude = magnitude * 10 + (*text - '0');
        if (magnitude > LIMIT) {
            magnitude = LIMIT;
        }
    }
    if (negative) {
        return static_cast<int32_t>(-magnitude);
    }
    return static_cast<int32_t>(magnitude > INT32_MAX ? INT32_MAX : magnitude);
}

}  // namespace qo3964
