// The library's reading of the server's rc-file: the keys CLIENTDEBUG,
// PORT and SHMNAME; every other line belongs to the server.
#pragma once

#include <cstdint>

#include "client_connection.h"

namespace qo3964::client {

// Reads the rc-file at `path` into the connection's `device_name` and
// `shm_namefile` and into `debug`. Returns 0 read; -1 the file cannot be
// opened or read; -2 at least one line was refused (the others still take
// effect).
int32_t read_rcfile(const char* path, ClientConnection* connection);

// Echoes an accepted value when `debug` is above 0:
// "   <label> set to <value>", or "   <label> <word> <value>". Returns 0.
int32_t rc_set(const char* label, const char* word, const char* value);

}  // namespace qo3964::client
