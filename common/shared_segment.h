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

// Value of ServerCounters::layout once a server keeps its counters there.
inline constexpr uint32_t COUNTERS_LAYOUT = 1;

#pragma pack(push, 4)

// What a segment tells about its line, in bytes of the identification
// block that the original layout leaves reserved: the key file and port
// that its server serves (two key files may give one key), and which
// process that server is, told apart from a later one with the same
// process ID by its start time. Written by the server with the rest of
// its identification; all zero in a segment that no server described.
struct LineRecord {
    uint32_t record_mark;    // LINE_RECORD_MARK once the record is written
    int32_t server_pid;      // as the server sees itself
    uint64_t server_start;   // its start, clock ticks after boot (/proc/<pid>/stat)
    uint64_t key_file_dev;   // the key file (SHMNAME, else PORT)
    uint64_t key_file_ino;
    char key_file[128];      // its path, cut to 127 characters
    char port[128];          // PORT, cut to 127 characters
};
inline constexpr uint32_t LINE_RECORD_MARK = 0x34363933;  // "3964"

// What the server counts from its start, kept in the identification block
// (offsets 512 to 1023) so that any program that may attach the segment
// can read it while the server runs. The server alone writes it: first
// the settings and the start time, then `layout` (release order), then
// the counts as they happen. Every 64-bit field lies on an 8-byte boundary
// and is written and read whole (segment_access.h), so that a reader on
// any target sees either the old or the new value, never half of each.
// Times are milliseconds since 1970-01-01 UTC; 0 means never.
struct ServerCounters {
    uint32_t layout;  // COUNTERS_LAYOUT; 0 before the server filled the rest
    // The procedure settings the server runs with, from its rc-file.
    int32_t baud;
    int32_t zvz_ms;
    int32_t qvz_ms;
    int16_t tds;
    int16_t tdr;
    int16_t mmode;
    uint8_t bcc_mode;
    uint8_t reserved_23;
    uint64_t started_ms;
    // Telegrams the partner acknowledged, and their data bytes.
    uint64_t telegrams_sent;
    uint64_t bytes_sent;
    uint64_t last_sent_ms;
    // Telegrams received and acknowledged, and their data bytes.
    uint64_t telegrams_received;
    uint64_t bytes_received;
    uint64_t last_received_ms;
    // Sends that ended with a negative result, by code.
    uint64_t sends_failed_no_connect;  // -84
    uint64_t sends_failed_no_ack;      // -67
    uint64_t sends_failed_break;       // -55
    uint64_t sends_failed_too_long;    // -11
    uint64_t sends_failed_other;
    uint64_t attempts_failed;   // send attempts that failed, the last one of a failed send included
    uint64_t attempts_refused;  // ... of them answered by the partner's NAK
    uint64_t receptions_refused;   // receptions that failed (NAK, or no answer)
    uint64_t receptions_repeated;  // telegrams that came whole after failed receptions
    uint64_t receptions_reported;  // failures in a row reported to the application
    uint64_t telegrams_lost;       // refused because the receive ring stayed full (-83)
    uint64_t line_breaks;          // BREAK on the idle line (-55)
    uint64_t line_parity_errors;   // parity or framing errors on the idle line (-56)
    uint64_t port_lost;
    uint64_t port_back;
    uint64_t partner_silent;  // the partner stopped answering
    uint64_t partner_back;    // ... and answered again
    uint64_t segment_repairs;
    uint64_t output_dropped;       // console and runtime log writes a stalled reader did not take
    uint64_t trace_lines_dropped;  // trace lines the file did not take
    uint8_t reserved_240[272];
};

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
    uint8_t reserved_120[8];
    LineRecord line;            // 128..415
    uint8_t reserved_416[96];
    ServerCounters counters;
};

// A job block has one owner at a time, named in bytes that the original
// layout leaves reserved (0 after every reset):
//
// - `claim_holder`: the application process that holds `client_busy`,
//   written by compare-and-exchange before it raises the byte and cleared
//   after it lowers it: the process ID in the low 32 bits, the low 32 bits
//   of its start time in the high ones. A claim is taken over only from a
//   holder that has ended. 64 bits at an address that is a multiple of 8.
// - `claim_serial`: the last token handed out; `client_busy` holds the
//   token of the claim (1 to 255, rolling), so that a late release cannot
//   lower another application's claim.
// - `owner_pid`, `owner_seq`: in send_job, the process and its number for
//   the job whose telegram or result is in the block, written before
//   state 1; only that owner collects the result.
struct JobBlock {
    uint8_t block_mark;     // 255 after reset, 156 in send_job at shutdown
    uint8_t server_busy;    // written only by the server
    uint8_t client_busy;    // written only by clients: the claim's token
    uint8_t spare_mark;     // 0 after reset, 156 in receive_job at shutdown
    uint8_t shutdown_mark;  // SHUTDOWN_MARK once the server has stopped
    uint8_t claim_serial;
    uint8_t reserved_6[2];
    DeadlineTimer job_timer;  // armed for 0 ms by every reset
    int32_t owner_pid;
    uint8_t spare_flag;
    uint8_t spare_id;
    uint8_t spare_bytes[4];
    uint8_t reserved_50[2];
    uint32_t owner_seq;
    uint64_t claim_holder;
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
static_assert(offsetof(ServerInfoBlock, line) == 128);
static_assert(offsetof(ServerInfoBlock, line) + offsetof(LineRecord, record_mark) == 128);
static_assert(offsetof(ServerInfoBlock, line) + offsetof(LineRecord, server_pid) == 132);
static_assert(offsetof(ServerInfoBlock, line) + offsetof(LineRecord, server_start) == 136);
static_assert(offsetof(ServerInfoBlock, line) + offsetof(LineRecord, key_file_dev) == 144);
static_assert(offsetof(ServerInfoBlock, line) + offsetof(LineRecord, key_file_ino) == 152);
static_assert(offsetof(ServerInfoBlock, line) + offsetof(LineRecord, key_file) == 160);
static_assert(offsetof(ServerInfoBlock, line) + offsetof(LineRecord, port) == 288);
static_assert(sizeof(LineRecord) == 288);
static_assert(offsetof(ServerInfoBlock, reserved_416) == 416);
static_assert(offsetof(ServerInfoBlock, counters) == 512);

static_assert(sizeof(JobBlock) == 4208);
static_assert(offsetof(JobBlock, block_mark) == 0);
static_assert(offsetof(JobBlock, server_busy) == 1);
static_assert(offsetof(JobBlock, client_busy) == 2);
static_assert(offsetof(JobBlock, spare_mark) == 3);
static_assert(offsetof(JobBlock, shutdown_mark) == 4);
static_assert(offsetof(JobBlock, claim_serial) == 5);
static_assert(offsetof(JobBlock, reserved_6) == 6);
static_assert(offsetof(JobBlock, job_timer) == 8);
static_assert(offsetof(JobBlock, job_timer) + offsetof(DeadlineTimer, start_ticks) == 8);
static_assert(offsetof(JobBlock, job_timer) + offsetof(DeadlineTimer, deadline_ticks) == 16);
static_assert(offsetof(JobBlock, job_timer) + offsetof(DeadlineTimer, duration_ms) == 24);
static_assert(offsetof(JobBlock, job_timer) + offsetof(DeadlineTimer, remaining_ms) == 32);
static_assert(offsetof(JobBlock, owner_pid) == 40);
static_assert(offsetof(JobBlock, spare_flag) == 44);
static_assert(offsetof(JobBlock, spare_id) == 45);
static_assert(offsetof(JobBlock, spare_bytes) == 46);
static_assert(offsetof(JobBlock, reserved_50) == 50);
static_assert(offsetof(JobBlock, owner_seq) == 52);
static_assert(offsetof(JobBlock, claim_holder) == 56);
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
// The segment starts on a page: claim_holder lies on a multiple of 8 in
// both blocks, as its 64-bit compare-and-exchange needs on every target.
static_assert((offsetof(SharedSegment, send_job) + offsetof(JobBlock, claim_holder)) % 8 == 0);
static_assert((offsetof(SharedSegment, receive_job) + offsetof(JobBlock, claim_holder)) % 8 == 0);

// In the segment (offsets 512 to 1023 of the identification block).
static_assert(sizeof(ServerCounters) == 512);
static_assert(offsetof(SharedSegment, info.counters.layout) == 512);
static_assert(offsetof(SharedSegment, info.counters.baud) == 516);
static_assert(offsetof(SharedSegment, info.counters.zvz_ms) == 520);
static_assert(offsetof(SharedSegment, info.counters.qvz_ms) == 524);
static_assert(offsetof(SharedSegment, info.counters.tds) == 528);
static_assert(offsetof(SharedSegment, info.counters.tdr) == 530);
static_assert(offsetof(SharedSegment, info.counters.mmode) == 532);
static_assert(offsetof(SharedSegment, info.counters.bcc_mode) == 534);
static_assert(offsetof(SharedSegment, info.counters.reserved_23) == 535);
static_assert(offsetof(SharedSegment, info.counters.started_ms) == 536);
static_assert(offsetof(SharedSegment, info.counters.telegrams_sent) == 544);
static_assert(offsetof(SharedSegment, info.counters.bytes_sent) == 552);
static_assert(offsetof(SharedSegment, info.counters.last_sent_ms) == 560);
static_assert(offsetof(SharedSegment, info.counters.telegrams_received) == 568);
static_assert(offsetof(SharedSegment, info.counters.bytes_received) == 576);
static_assert(offsetof(SharedSegment, info.counters.last_received_ms) == 584);
static_assert(offsetof(SharedSegment, info.counters.sends_failed_no_connect) == 592);
static_assert(offsetof(SharedSegment, info.counters.sends_failed_no_ack) == 600);
static_assert(offsetof(SharedSegment, info.counters.sends_failed_break) == 608);
static_assert(offsetof(SharedSegment, info.counters.sends_failed_too_long) == 616);
static_assert(offsetof(SharedSegment, info.counters.sends_failed_other) == 624);
static_assert(offsetof(SharedSegment, info.counters.attempts_failed) == 632);
static_assert(offsetof(SharedSegment, info.counters.attempts_refused) == 640);
static_assert(offsetof(SharedSegment, info.counters.receptions_refused) == 648);
static_assert(offsetof(SharedSegment, info.counters.receptions_repeated) == 656);
static_assert(offsetof(SharedSegment, info.counters.receptions_reported) == 664);
static_assert(offsetof(SharedSegment, info.counters.telegrams_lost) == 672);
static_assert(offsetof(SharedSegment, info.counters.line_breaks) == 680);
static_assert(offsetof(SharedSegment, info.counters.line_parity_errors) == 688);
static_assert(offsetof(SharedSegment, info.counters.port_lost) == 696);
static_assert(offsetof(SharedSegment, info.counters.port_back) == 704);
static_assert(offsetof(SharedSegment, info.counters.partner_silent) == 712);
static_assert(offsetof(SharedSegment, info.counters.partner_back) == 720);
static_assert(offsetof(SharedSegment, info.counters.segment_repairs) == 728);
static_assert(offsetof(SharedSegment, info.counters.output_dropped) == 736);
static_assert(offsetof(SharedSegment, info.counters.trace_lines_dropped) == 744);
static_assert(offsetof(SharedSegment, info.counters.reserved_240) == 752);
// The 64-bit counters lie on 8-byte boundaries of the segment (which starts
// on a page boundary), where both sides read and write them whole.
static_assert(offsetof(SharedSegment, info.counters.started_ms) % 8 == 0);
static_assert(offsetof(SharedSegment, info.counters.reserved_240) % 8 == 0);

// Copies between private memory and a job block's data area. The data are
// not a hand-over field, so they are copied in bulk: after the `state` that
// hands the block over was read (acquire order) and before the `state`
// that hands it on is written (release order).
void copy_to_block(volatile JobBlock& block, const void* source, int32_t length);
void copy_from_block(void* target, const volatile JobBlock& block, int32_t length);

// Stores `text` into a text field of the segment, cut to fit, the rest of
// the field zero.
template <std::size_t N>
void store_text(volatile char (&field)[N], const char* text)
{
    std::size_t i = 0;
    for (; i + 1 < N && text[i] != '\0'; ++i) {
        field[i] = text[i];
    }
    for (; i < N; ++i) {
        field[i] = '\0';
    }
}

}  // namespace qo3964
