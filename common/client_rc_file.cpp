// SPDX-License-Identifier: MIT
#include "client_rc_file.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qo3964 {

namespace {

// Separators between the tokens of a line; runs of them count as one.
constexpr char tokensep[] = " \t\n,;";
// Tokens kept per line; only the key and its value are looked at.
constexpr int MAX_TOKENS = 20;
// One line with its LF and NUL. Roomy enough for the longest legal
// SHMNAME line; what a longer line holds beyond it is dropped, never
// read as a line of its own.
constexpr int LINE_SIZE = 1024;

enum class RcKey { client_debug, port, shm_name, server_user };

struct RcKeyEntry {
    const char* key;
    RcKey kind;
    const char* label;  // of the confirmation line
};

constexpr std::array<RcKeyEntry, 4> rc_keys{{
    {"CLIENTDEBUG", RcKey::client_debug, "Debuglevel"},
    {"PORT", RcKey::port, "Serial Device Name"},
    {"SHMNAME", RcKey::shm_name, "shared memory namefile"},
    // The server's ACCESS and GROUP are passed over like its other keys.
    {"SERVERUSER", RcKey::server_user, "server user"},
}};

constexpr int32_t DEBUG_MIN = 0;
constexpr int32_t DEBUG_MAX = 10;

const RcKeyEntry* find_key(const char* token)
{
    for (const RcKeyEntry& entry : rc_keys) {
        if (std::strcmp(entry.key, token) == 0) {
            return &entry;
        }
    }
    return nullptr;
}

// The error line of a refused value; printed whatever the debug level is.
int32_t report_illegal(const char* key, const char* value)
{
    std::printf("        ERROR >>>>>>> %s", key);
    std::printf(" illegal value ");
    std::printf("%s\n", value);
    return -2;
}

// Copies a value into a text field; false when it does not fit.
bool copy_value(char* field, std::size_t field_size, const char* value)
{
    const std::size_t length = std::strlen(value);
    if (length >= field_size) {
        return false;
    }
    std::memcpy(field, value, length + 1);
    return true;
}

// Reads one physical line into `line`. `cut` tells that the line was
// longer than the buffer; its rest has been read and dropped.
bool read_line(std::FILE* file, char (&line)[LINE_SIZE], bool& cut)
{
    if (std::fgets(line, LINE_SIZE, file) == nullptr) {
        return false;
    }
    cut = false;
    const std::size_t length = std::strlen(line);
    if (length > 0 && line[length - 1] != '\n') {
        int c = std::fgetc(file);
        if (c != '\n' && c != EOF) {
            cut = true;
            while (c != '\n' && c != EOF) {
                c = std::fgetc(file);
            }
        }
    }
    return true;
}

// A CR right before the line end belongs to a CR LF file, not to the value.
void strip_carriage_return(char* line)
{
    std::size_t length = std::strlen(line);
    if (length > 0 && line[length - 1] == '\n') {
        --length;
    }
    if (length > 0 && line[length - 1] == '\r') {
        std::memmove(line + length - 1, line + length, std::strlen(line + length) + 1);
    }
}

// Splits `line` in place; returns the number of tokens (at most MAX_TOKENS).
int split_tokens(char* line, std::array<const char*, MAX_TOKENS>& tokens)
{
    int count = 0;
    char* rest = nullptr;
    for (char* token = strtok_r(line, tokensep, &rest); token != nullptr && count < MAX_TOKENS;
         token = strtok_r(nullptr, tokensep, &rest)) {
        tokens[static_cast<std::size_t>(count++)] = token;
    }
    return count;
}

int32_t eval_line(char* line, bool cut, ClientRcSettings& settings, int& debug_level)
{
    const char* line_end = line + std::strlen(line);
    std::array<const char*, MAX_TOKENS> tokens{};
    const int count = split_tokens(line, tokens);
    if (count == 0 || tokens[0][0] == '#') {
        return 0;
    }
    const RcKeyEntry* entry = find_key(tokens[0]);
    if (entry == nullptr) {
        return 0;  // the server's keys and unknown words alike
    }
    if (count < 2) {
        return report_illegal(entry->key, "");
    }
    const char* value = tokens[1];
    // A value that runs into the end of a cut line has lost its rest.
    const bool value_cut = cut && value + std::strlen(value) == line_end;

    switch (entry->kind) {
    case RcKey::client_debug: {
        const long level = std::strtol(value, nullptr, 10);
        if (value_cut || level < DEBUG_MIN || level > DEBUG_MAX) {
            return report_illegal(entry->key, value);
        }
        debug_level = static_cast<int>(level);
        return rc_set(entry->label, nullptr, value, debug_level);
    }
    case RcKey::port:
        if (value_cut || !copy_value(settings.device_name, sizeof settings.device_name, value)) {
            return report_illegal(entry->key, value);
        }
        settings.port_named = true;
        return rc_set(entry->label, nullptr, settings.device_name, debug_level);
    case RcKey::shm_name:
        if (value_cut || !copy_value(settings.shm_namefile, sizeof settings.shm_namefile, value)) {
            return report_illegal(entry->key, value);
        }
        return rc_set(entry->label, nullptr, settings.shm_namefile, debug_level);
    case RcKey::server_user: {
        // An account that does not exist cannot have made the segment.
        const passwd* account = value_cut ? nullptr : getpwnam(value);
        if (account == nullptr || !copy_value(settings.server_user, sizeof settings.server_user, value)) {
            return report_illegal(entry->key, value);
        }
        settings.server_uid = static_cast<long>(account->pw_uid);
        return rc_set(entry->label, nullptr, settings.server_user, debug_level);
    }
    }
    return 0;
}

// Opens the rc-file for reading, unless it is something other than a
// regular file: a FIFO would block, a device such as /dev/zero never end.
// It is looked at first (opening a device may act on it) and checked again
// once open.
std::FILE* open_regular(const char* path)
{
    struct stat info {};
    if (stat(path, &info) == 0 && !S_ISREG(info.st_mode)) {
        return nullptr;
    }
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return nullptr;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = fdopen(fd, "r");
    if (file == nullptr) {
        close(fd);
    }
    return file;
}

}  // namespace

int32_t rc_set(const char* label, const char* word, const char* value, int debug_level)
{
    if (debug_level > 0) {
        std::printf("   %s", label);
        if (word != nullptr) {
            std::printf(" %s ", word);
        } else {
            std::printf(" set to ");
        }
        std::printf("%s\n", value != nullptr ? value : "");
    }
    return 0;
}

const char* line_port(const ClientRcSettings& settings)
{
    const bool own_key_file = std::strcmp(settings.shm_namefile, settings.device_name) != 0;
    return settings.port_named && own_key_file ? settings.device_name : nullptr;
}

int32_t read_rcfile(const char* path, ClientRcSettings& settings, int& debug_level)
{
    if (path == nullptr) {
        return -1;
    }
    std::FILE* file = open_regular(path);
    if (file == nullptr) {
        return -1;
    }
    int32_t result = 0;
    char line[LINE_SIZE];
    bool cut = false;
    while (read_line(file, line, cut)) {
        if (!cut) {
            strip_carriage_return(line);
        }
        result |= eval_line(line, cut, settings, debug_level);
    }
    // A file that opens but cannot be read is no rc-file.
    const bool unreadable = std::ferror(file) != 0;
    std::fclose(file);
    if (unreadable) {
        return -1;
    }
    if (settings.shm_namefile[0] == '\0') {
        std::memcpy(settings.shm_namefile, settings.device_name, sizeof settings.device_name);
    }
    return result == 0 ? 0 : -2;
}

}  // namespace qo3964
