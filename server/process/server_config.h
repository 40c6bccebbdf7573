// SPDX-License-Identifier: MIT
// The server's configuration: LinkSettings with their defaults, and the
// rc-file reader that fills them, reporting every refused line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace qo3964 {

struct LinkSettings {
    char shm_name[512] = "";            // SHMNAME: key file of the segment
    char port_path[512] = "/dev/ttyS1"; // PORT
    int32_t baud = 9600;                // BAUD
    char parity = 'E';                  // PARITY: 'E', 'O', 'N'
    char flow = 'N';                    // FLOW: 'Y' RTS/CTS, 'N' off
    int32_t zvz = 220;                  // ZVZ, ms
    int32_t qvz = 2000;                 // QVZ, ms
    int32_t bcc_mode = 1;               // BCC_MODE: 1 3964R, 0 3964
    int16_t tds = 6;                    // TDS
    int16_t tdr = 6;                    // TDR
    int16_t mmode = 0;                  // MMODE
    int32_t debug_level = 0;            // DEBUG, 0 to 10
    int32_t io_debug = 0;               // IODEBUG: 1 traffic display on
    // Access control; without these keys the segment is open to every
    // account (mode 0666) and the lockfile gets 0664 under the umask.
    int32_t access_mode = -1;           // ACCESS: octal mode of the segment
    long group_id = -1;                 // GROUP: group of segment and lockfile
    long server_uid = -1;               // SERVERUSER: the account the server runs as
    char group_name[128] = "";
    char server_user[128] = "";
    // The trace of the line's bytes; off without TRACEFILE.
    char trace_path[512] = "";          // TRACEFILE
    int32_t trace_kb = 10240;           // TRACESIZE: kB before it is renamed to PATH.1

    bool operator==(const LinkSettings&) const = default;
};

extern LinkSettings link_settings;
// Lines read since the file was opened; shown in error reports.
extern int32_t line_number;

// What is kept of one line read: 509 characters and the terminator.
constexpr int RC_LINE_READ = 510;
// The tokenizer's working buffer: a trimmed line holds at most 255 characters.
constexpr int RC_TOKEN_BUFFER = 256;
// Tokens of the line being evaluated: slot 0 the key, slot 1 the value.
constexpr int RC_TOKEN_SLOTS = 20;
constexpr int RC_TOKEN_SIZE = 128;  // 127 characters and the terminator
extern char token_slots[RC_TOKEN_SLOTS][RC_TOKEN_SIZE];

// Opens the rc-file as the start does: a regular file, for reading and
// writing; nullptr when it cannot be used (the details are noted for the
// stop, add_stop_detail).
FILE* rc_open(const char* path);
// Without SHMNAME the key file is the PORT path.
void shm_name_default_to_port();
// Reads the stream to its end, evaluates every line, closes it;
// 0 when every line was accepted, -1 otherwise. A line longer than one
// read counts as one line and is judged as a whole.
int rc_read_file(FILE* stream);
// Evaluates one line as read (line end included); 0 accepted, -1 refused.
int rc_eval_line(const char* line);
// Prints the two-line error report; returns -1. word and value may be null.
int rc_error(const char* line, const char* message, const char* word, const char* value);
// Prints a confirmation when debug_level > 0; returns 0. word/value may be null.
int rc_set(const char* label, const char* word, const char* value);
// Removes every c at the end of text; returns text.
char* trim_trailing(char* text, char c);
// Copies source into a target of `size` bytes, cut and terminated.
void copy_bounded(char* target, const char* source, size_t size);
// Splits text into at most max_tokens tokens of slot_size bytes each,
// stored one slot_size apart from `slots`; returns the number taken.
// Only the first RC_TOKEN_BUFFER - 1 characters of text are looked at,
// and a token is cut to slot_size - 1 characters.
int split_tokens(const char* text, const char* separators, char* slots, int max_tokens, int slot_size);
// The number in a value: optional sign, decimal digits up to the first
// other character (none: 0), clamped to the signed 32-bit range.
int32_t rc_number(const char* text);

}  // namespace qo3964
