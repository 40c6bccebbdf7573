// SPDX-License-Identifier: MIT
// How the client side judges and reports its access to a server's segment.
// One module for the client library and qo3964_ctl, so that both refuse
// the same segments with the same lines. It is compiled into the client
// library.
#pragma once

#include <cstdint>

#include "shared_segment.h"

namespace qo3964 {

// perror's line for `what`, and for a refused permission a second one that
// names the key file and says why.
void report_segment_error(const char* what, const char* key_file);

// 0 when the segment `id` was made by, and belongs to, the account
// `server_user` with the ID `server_uid` (or no account is named); else
// -53 after a line on standard error that says whose segment it is.
int32_t check_segment_owner(int id, const char* key_file, const char* server_user, long server_uid);

// 0 when the segment's record of its line is that of the key file and,
// when `port` is not null, the port of the caller's rc-file (or the
// segment holds no record); else -53 after a line on standard error that
// says which line the segment serves. The port is compared where the
// rc-file names both SHMNAME and PORT.
int32_t check_segment_line(const volatile ServerInfoBlock& info, const char* key_file, const char* port);

}  // namespace qo3964
