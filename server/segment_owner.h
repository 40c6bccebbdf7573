// The server's side of the shared segment: creation under the key of the
// SHMNAME file, reset, identification, shutdown marks and removal.
#pragma once

#include <cstdint>

#include "shared_segment.h"

// Outcome of segment_create, in the order of its steps.
enum SegmentCreate : int {
    SEGMENT_CREATED = 0,
    SEGMENT_NO_KEY = -6,    // ftok failed: no SHMNAME file
    SEGMENT_EXISTS = -71,   // a segment with the key is already there
    SEGMENT_NO_MEMORY = -7, // shmget with IPC_CREAT failed
    SEGMENT_NO_ATTACH = -8, // shmat failed (the segment exists and is ours)
};

// The attached segment (null while there is none) and its identifier.
extern volatile SharedSegment* server_segment;
extern int server_segment_id;

// Creates and attaches the segment; `created` is called right after the
// creation succeeded (before the attach), with the key for the messages.
// The key is reported through `key_out` as soon as it is known.
int segment_create(const char* shm_name, int* key_out, void (*created)());
void reset_job_block(volatile JobBlock& block);
void reset_segment();
void fill_server_info();
// The four 156 stores that tell clients the server has left its loop.
void write_shutdown_marks();
// Marks the segment for removal, then detaches it.
void segment_remove();
