// The library's per-handle connection records.
//
// Internal to the library: nothing here is part of the public header.
#pragma once

#include <cstdint>

#include "deadline_timer.h"
#include "shared_segment.h"

namespace qo3964::client {

inline constexpr int HANDLE_COUNT = 10;
inline constexpr int32_t DEVICE_NAME_SIZE = 128;   // with the NUL
inline constexpr int32_t SHM_NAMEFILE_SIZE = 512;  // with the NUL
inline constexpr char DEFAULT_DEVICE[] = "/dev/ttyS1";
inline constexpr int32_t SERVER_USER_SIZE = 64;    // with the NUL

// What a handle has seen of client_busy of send_job while it could not
// claim it: the value and since when it has stood (0 while not watching).
struct ClaimWatch {
    uint8_t seen;
    int64_t since_ms;
};

// One record per handle. The segment is shared with the server without a
// lock, so it is only ever reached through a volatile pointer.
struct ClientConnection {
    volatile SharedSegment* segment;  // address of the last attach attempt
    char shm_namefile[SHM_NAMEFILE_SIZE];  // key file handed to ftok
    int16_t attached;                 // 1 while the segment is attached
    int32_t owner_pid;                // process that opened the handle
    char device_name[DEVICE_NAME_SIZE];
    int16_t send_phase;   // -1 after open, 3 while a send is out, 0 after collection
    int16_t send_result;  // result of the last collected send
    DeadlineTimer send_timer;  // time-out of the current send
    int16_t aux_mark;          // -1 after a successful open
    // SERVERUSER of the rc-file: the account whose segment alone is taken
    // (empty: any); its user ID once the name is known.
    char server_user[SERVER_USER_SIZE];
    long server_uid;
    int segment_id;            // of the attached segment
    int64_t next_liveness_ms;  // when the server's liveness is looked at next
    bool server_gone;          // the server ended without its shutdown marks
    ClaimWatch claim_watch;
};

// Milliseconds on the monotonic clock, for the library's own checks (the
// calls' time-outs run on the deadline timers).
int64_t now_ms();

// The record of a handle, or nullptr for a handle outside 0 to 9.
ClientConnection* connection_for(int handle);

// The check that begins every call on a handle: 0 when the handle is
// valid and attached, else -50 (bad handle) or -98 (not attached).
int32_t check_attached(int handle);

// 0 when the segment `id` was made by, and belongs to, the account
// `server_user` with the ID `server_uid` (or no account is named); else
// -53 after a line on standard error that says whose segment it is.
int32_t check_segment_owner(int id, const char* key_file, const char* server_user, long server_uid);

}  // namespace qo3964::client
