// SPDX-License-Identifier: MIT
// The shared memory segment between qo3964_server and its clients.
//
// One System V segment of exactly 9444 bytes per server. Both deliverables
// compile this one definition; every offset is checked below, in 32- and
// 64-bit builds alike (the structures are packed to 4-byte alignment, as
// 9444 is not a multiple of 8). All integers are little-endian.
//
// The segment is shared with other processes without a lock: it is always
// reached through volatile pointers, the side that fills or frees a job
// block writes `state` last, and the fields that hand a block over are
// read and written with the ordering of segment_access.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "deadline_timer.h"

namespace qo3964 {

// Longest telegram: the size of a job block's data area and of the
// server's telegram buffers.
inline constexpr int32_t TELEGRAM_MAX = 4096;

inline constexpr int32_t SEGMENT_SIZE = 9444;
inline constexpr int SEGMENT_PROJECT_ID = 65;  // 'A', the ftok project number

// Values of JobBlock::state.
enum JobState : int32_t {
    JOB_IDLE = 0,       // the block holds nothing
    JOB_SUBMITTED = 1,  // send_job: a client has written a telegram
    JOB_IN_WORK = 2,    // send_job: the server has taken it
    JOB_DONE = 3,       // a result or a received telegram is in the block
};

// Stored into the mark bytes when the server leaves its main loop.
inline constexpr uint8_t SHUTDOWN_MARK = 156;

// The state of the server's serial line, which the server keeps in the
// `spare_flag` byte of send_job for tools to read (0 after every reset).
enum LineState : uint8_t {
    LINE_STATE_UP = 0,
    LINE_STATE_DOWN = 1,  // the port went away; the server is reopening it
};

// Values the server writes into its identification block.
inline constexpr char SERVER_NAME[] = "qo3964_server";
inline constexpr char SERVER_VERSION[] = "V 1.0.1";
inline constexpr char SERVER_DATE[] = "09.06.2009";
inline constexpr uint8_t SERVER_INFO_CODE = 2;
// The word width of this build, shown in the banner and in `word_bits`.
inline constexpr int WORD_BITS = static_cast<int>(sizeof(void*) * 8);

#pragma pack(push, 4)

struct ServerInfoBlock {
    char server_name[16];
    char server_version[16];
    char server_date[16];
    uint8_t reserved_48[32];
    uint8_t reserved_80[32];
    uint8_t word_bits;
    uint8_t info_code;
    uint8_t reserved_114[2];
    // Rung by applications after each hand-over to the server: counted up
    // and woken as a futex (0 after the start's reset).
    uint32_t doorbell;
    uint8_t reserved_120[904];
};

struct JobBlock {
    uint8_t block_mark;     // 255 after reset, 156 in send_job at shutdown
    uint8_t server_busy;    // written only by the server
    uint8_t client_busy;    // written only by clients
    uint8_t spare_mark;     // 0 after reset, 156 in receive_job at shutdown
    uint8_t shutdown_mark;  // SHUTDOWN_MARK once the server has stopped
    uint8_t reserved_5[3];
    DeadlineTimer job_timer;  // armed for 0 ms by every reset
    uint8_t reserved_40[4];
    uint8_t spare_flag;
    uint8_t spare_id;
    uint8_t spare_bytes[4];
    uint8_t reserved_50[14];
    uint8_t spare_area[36];
    uint8_t data[TELEGRAM_MAX];
    int32_t length;
    int32_t result;
    int32_t state;  // JobState; written last by the side that hands over
};

struct SharedSegment {
    ServerInfoBlock info;
    JobBlock send_job;
    JobBlock receive_job;
    int8_t shutdown_request;  // > 0 orders the server to stop
    uint8_t reserved_9441[3];
};

#pragma pack(pop)

static_assert(sizeof(ServerInfoBlock) == 1024);
static_assert(offsetof(ServerInfoBlock, server_name) == 0);
static_assert(offsetof(ServerInfoBlock, server_version) == 16);
static_assert(offsetof(ServerInfoBlock, server_date) == 32);
static_assert(offsetof(ServerInfoBlock, reserved_48) == 48);
static_assert(offsetof(ServerInfoBlock, reserved_80) == 80);
static_assert(offsetof(ServerInfoBlock, word_bits) == 112);
static_assert(offsetof(ServerInfoBlock, info_code) == 113);
static_assert(offsetof(ServerInfoBlock, reserved_114) == 114);
static_assert(offsetof(ServerInfoBlock, doorbell) == 116);
static_assert(offsetof(ServerInfoBlock, reserved_120) == 120);

static_assert(sizeof(JobBlock) == 4208);
static_assert(offsetof(JobBlock, block_mark) == 0);
static_assert(offsetof(JobBlock, server_busy) == 1);
static_assert(offsetof(JobBlock, client_busy) == 2);
static_assert(offsetof(JobBlock, spare_mark) == 3);
static_assert(offsetof(JobBlock, shutdown_mark) == 4);
static_assert(offsetof(JobBlock, reserved_5) == 5);
static_assert(offsetof(JobBlock, job_timer) == 8);
static_assert(offsetof(JobBlock, job_timer) + offsetof(DeadlineTimer, start_ticks) == 8);
static_assert(offsetof(JobBlock, job_timer) + offsetof(DeadlineTimer, deadline_ticks) == 16);
static_assert(offsetof(JobBlock, job_timer) + offsetof(DeadlineTimer, duration_ms) == 24);
static_assert(offsetof(JobBlock, job_timer) + offsetof(DeadlineTimer, remaining_ms) == 32);
static_assert(offsetof(JobBlock, reserved_40) == 40);
static_assert(offsetof(JobBlock, spare_flag) == 44);
static_assert(offsetof(JobBlock, spare_id) == 45);
static_assert(offsetof(JobBlock, spare_bytes) == 46);
static_assert(offsetof(JobBlock, reserved_50) == 50);
static_assert(offsetof(JobBlock, spare_area) == 64);
static_assert(offsetof(JobBlock, data) == 100);
static_assert(offsetof(JobBlock, length) == 4196);
static_assert(offsetof(JobBlock, result) == 4200);
static_assert(offsetof(JobBlock, state) == 4204);

static_assert(sizeof(SharedSegment) == SEGMENT_SIZE);
static_assert(offsetof(SharedSegment, info) == 0);
static_assert(offsetof(SharedSegment, send_job) == 1024);
static_assert(offsetof(SharedSegment, receive_job) == 5232);
static_assert(offsetof(SharedSegment, shutdown_request) == 9440);
static_assert(offsetof(SharedSegment, reserved_9441) == 9441);
static_assert(offsetof(SharedSegment, send_job) + offsetof(JobBlock, length) == 5220);
static_assert(offsetof(SharedSegment, receive_job) + offsetof(JobBlock, state) == 9436);

// Copies between private memory and a job block's data area. The data are
// not a hand-over field, so they are copied in bulk: after the `state` that
// hands the block over was read (acquire order) and before the `state`
// that hands it on is written (release order).
void copy_to_block(volatile JobBlock& block, const void* source, int32_t length);
void copy_from_block(void* target, const volatile JobBlock& block, int32_t length);

}  // namespace qo3964
