// SPDX-License-Identifier: MIT
#include "line_record.h"

#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "process_identity.h"

namespace qo3964 {

namespace {

// The same device node or file: the same text, or one file behind both.
bool same_file(const char* a, const char* b)
{
    if (std::strcmp(a, b) == 0) {
        return true;
    }
    struct stat first {};
    struct stat second {};
    return stat(a, &first) == 0 && stat(b, &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

}  // namespace

void fill_line_record(volatile LineRecord& record, const char* key_file, const char* port)
{
    struct stat info {};
    if (stat(key_file, &info) == 0) {
        record.key_file_dev = static_cast<uint64_t>(info.st_dev);
        record.key_file_ino = static_cast<uint64_t>(info.st_ino);
    }
    store_text(record.key_file, key_file);
    store_text(record.port, port);
    record.server_pid = static_cast<int32_t>(getpid());
    record.server_start = own_start_ticks();
    record.record_mark = LINE_RECORD_MARK;
}

LineRecord read_line_record(const volatile LineRecord& record)
{
    LineRecord copy{};
    const volatile uint8_t* from = reinterpret_cast<const volatile uint8_t*>(&record);
    uint8_t* to = reinterpret_cast<uint8_t*>(&copy);
    for (std::size_t i = 0; i < sizeof copy; ++i) {
        to[i] = from[i];
    }
    // Texts written by some other program need not end inside their fields.
    copy.key_file[sizeof copy.key_file - 1] = '\0';
    copy.port[sizeof copy.port - 1] = '\0';
    return copy;
}

bool line_record_present(const LineRecord& record)
{
    return record.record_mark == LINE_RECORD_MARK;
}

void compare_line_record(const LineRecord& record, const char* key_file, const char* port, char* why,
                         std::size_t why_size)
{
    why[0] = '\0';
    struct stat info {};
    const bool same_key_file = stat(key_file, &info) == 0 &&
                               record.key_file_dev == static_cast<uint64_t>(info.st_dev) &&
                               record.key_file_ino == static_cast<uint64_t>(info.st_ino);
    if (!same_key_file) {
        std::snprintf(why, why_size,
                      "its server serves the key file \"%s\" (device %llu, inode %llu) and port %s, not \"%s\": "
                      "two key files give one key",
                      record.key_file, static_cast<unsigned long long>(record.key_file_dev),
                      static_cast<unsigned long long>(record.key_file_ino), record.port, key_file);
    } else if (port != nullptr && !same_file(record.port, port)) {
        std::snprintf(why, why_size, "its server serves the port %s, not %s: two lines name one key file", record.port,
                      port);
    }
}

bool line_server_alive(const LineRecord& record, pid_t creator)
{
    if (creator == 0) {
        return true;
    }
    return process_alive(creator, line_record_present(record) ? record.server_start : 0);
}

}  // namespace qo3964
