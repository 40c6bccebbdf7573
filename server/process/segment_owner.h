// SPDX-License-Identifier: MIT
// The server's side of the shared segment: creation under the key of the
// SHMNAME file, reset, identification, shutdown marks and removal.
#pragma once

#include <cstdint>

#include "shared_segment.h"

namespace qo3964 {

// Outcome of segment_create.
enum SegmentCreate : int {
    SEGMENT_CREATED = 0,
    SEGMENT_EXISTS = -71,   // a segment with the key is already there
    SEGMENT_NO_MEMORY = -7, // shmget with IPC_CREAT failed
};

// The attached segment (null while there is none) and its identifier.
extern volatile SharedSegment* server_segment;
extern int server_segment_id;

// The key of the segment from the SHMNAME file; -1 when there is no file.
int segment_key(const char* shm_name);
// Creates the segment under the key with the permission bits `mode`,
// unless one exists already (SEGMENT_EXISTS, whoever made it and however
// large it is); with `group` 0 or above the segment is given that group.
// errno tells why a creation failed.
int segment_create(int key, int mode = 0666, long group = -1);
// Who made the segment under the key, for the report of one that is in the
// way: its identifier, creator's user ID and process, and the record of
// its line where it may be read (else all zero); false when none.
struct SegmentMaker {
    int id;
    long uid;
    long pid;
    LineRecord line;
};
bool segment_maker(int key, SegmentMaker& maker);
// Attaches the created segment; false when the attach fails.
bool segment_attach();
void reset_job_block(volatile JobBlock& block);
void reset_segment();
// The identification, with the record of the line of `key_file` and `port`.
void fill_server_info(const char* key_file, const char* port);
// Puts back what another program changed in the identification that
// fill_server_info wrote; true when something was put back.
bool put_back_server_info();
// Describes the procedure settings in the segment's counters, notes the
// start time and counts into the segment from now on (for qo3964_ctl
// status and its time limits).
void start_counting(int32_t baud, int32_t zvz, int32_t qvz, int16_t tds, int16_t tdr, int16_t mmode,
                    int32_t bcc_mode);
// The four 156 stores that tell clients the server has left its loop.
void write_shutdown_marks();
// Marks the segment for removal, then detaches it.
void segment_remove();

}  // namespace qo3964
