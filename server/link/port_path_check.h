// SPDX-License-Identifier: MIT
// Whether another account could change where the port's path leads. The
// path is walked as the kernel walks it, links followed: every directory
// on the way must belong to root or the server's account and be writable
// by nobody else, unless it has the sticky bit (as /tmp) and the entry in
// it belongs to root or the server's account. So a /dev/serial/by-id link
// qualifies, and a link that another account made in /tmp does not: that
// account could point the server at its own pty while the port is away.
#pragma once

#include <cstddef>

namespace qo3964 {

// True when nobody but root and the server's account can change the path.
// Otherwise false, with the reason, naming the path, in `why`. A part of
// the path that cannot be looked at is left to the open to report.
bool port_path_trusted(const char* path, char* why, size_t why_size);

}  // namespace qo3964
