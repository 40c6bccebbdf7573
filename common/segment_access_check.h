// SPDX-License-Identifier: MIT
// How the client side judges and reports its access to a server's segment.
// One module for the client library and qo3964_ctl, so that both refuse
// the same segments with the same lines. It is compiled into the client
// library.
#pragma once

#include <cstdint>

namespace qo3964 {

// perror's line for `what`, and for a refused permission a second one that
// names the key file and says why.
void report_segment_error(const char* what, const char* key_file);

// 0 when the segment `id` was made by, and belongs to, the account
// `server_user` with the ID `server_uid` (or no account is named); else
// -53 after a line on standard error that says whose segment it is.
int32_t check_segment_owner(int id, const char* key_file, const char* server_user, long server_uid);

}  // namespace qo3964
