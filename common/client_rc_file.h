// SPDX-License-Identifier: MIT
// The client side's reading of a server's rc-file: the keys CLIENTDEBUG,
// PORT, SHMNAME and SERVERUSER; every other line belongs to the server.
//
// One reader for the client library (qo3964m_open_shm) and qo3964_ctl, so
// that the tool finds exactly the segment an application finds. It is
// compiled into the client library.
#pragma once

#include <cstdint>

namespace qo3964 {

inline constexpr int32_t DEVICE_NAME_SIZE = 128;   // with the NUL
inline constexpr int32_t SHM_NAMEFILE_SIZE = 512;  // with the NUL
inline constexpr int32_t SERVER_USER_SIZE = 64;    // with the NUL

// What an rc-file tells the client side, as it stands before reading.
struct ClientRcSettings {
    // PORT: the server's serial device.
    char device_name[DEVICE_NAME_SIZE] = "/dev/ttyS1";
    bool port_named = false;  // the rc-file has a PORT line
    // The key file handed to ftok: SHMNAME, else a copy of `device_name`.
    char shm_namefile[SHM_NAMEFILE_SIZE] = "";
    // SERVERUSER: the account whose segment alone is taken (empty: any);
    // its user ID once the name is known.
    char server_user[SERVER_USER_SIZE] = "";
    long server_uid = -1;
};

// Reads the rc-file at `path` into `settings` and CLIENTDEBUG into
// `debug_level` (the library passes its global `debug`), which also decides
// whether accepted values are echoed. Returns 0 read; -1 the file cannot be
// opened or read; -2 at least one line was refused (the others still take
// effect).
int32_t read_rcfile(const char* path, ClientRcSettings& settings, int& debug_level);

// The port a segment's server must serve, to tell another line's segment
// under the same key: PORT where the rc-file names it beside a key file of
// its own; nullptr otherwise (without SHMNAME the key file is the port).
const char* line_port(const ClientRcSettings& settings);

// Echoes an accepted value when `debug_level` is above 0:
// "   <label> set to <value>", or "   <label> <word> <value>". Returns 0.
int32_t rc_set(const char* label, const char* word, const char* value, int debug_level);

}  // namespace qo3964
