// SPDX-License-Identifier: MIT
// Processor time a process has used, from /proc/<pid>/stat.
#pragma once

#include <sys/types.h>

namespace qosoak {

// User and system time of `pid` in seconds; negative when unknown.
double cpu_seconds(pid_t pid);

}  // namespace qosoak
