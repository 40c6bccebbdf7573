// SPDX-License-Identifier: MIT
// The record of its line that a server keeps in its segment's
// identification block: which key file and port it serves, and which
// process it is.
//
// Two key files may give one System V key (ftok keeps only the low bits
// of the inode), so a segment found by key need not be the line's own:
// the library and qo3964_ctl compare the record with their rc-file. And a
// process ID may be taken by another process once the server has ended,
// so whether the server still runs is told by its start time as well.
#pragma once

#include <cstddef>
#include <sys/types.h>

#include "shared_segment.h"

namespace qo3964 {

// The calling process's record as the server of `key_file` and `port`.
void fill_line_record(volatile LineRecord& record, const char* key_file, const char* port);

// A copy of the record as it stands (the segment is shared memory).
LineRecord read_line_record(const volatile LineRecord& record);

// True when a server has written the record.
bool line_record_present(const LineRecord& record);

// Empty `why` when the record is that of the line of `key_file` and, when
// `port` is not null, of `port`; else the reason, a sentence.
void compare_line_record(const LineRecord& record, const char* key_file, const char* port, char* why,
                         std::size_t why_size);

// Whether the segment's server still runs. `creator` is the segment's
// creating process as the caller sees it (shm_cpid; 0 when it lies in
// another PID namespace, and nothing can be told). Without a record
// only the process ID counts.
bool line_server_alive(const LineRecord& record, pid_t creator);

}  // namespace qo3964
