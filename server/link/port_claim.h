// SPDX-License-Identifier: MIT
// One server per serial port. O_EXCL means nothing to a terminal, so the
// open port is made the server's own: TIOCEXCL refuses every later open
// (except by root), and an exclusive flock, which holds between root
// processes too, refuses every other server. Both end with the
// descriptor.
#pragma once

#include <sys/types.h>

namespace qo3964 {

// 0 when the port open on `fd` is now this process's alone; -1 with errno
// EBUSY when another process holds it (or the lock's error).
int port_claim(int fd);

// The process that holds the lock of the device at `path` (from
// /proc/locks); 0 when none can be found.
pid_t port_holder(const char* path);

}  // namespace qo3964
