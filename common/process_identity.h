// SPDX-License-Identifier: MIT
// A process told apart from every later one that gets its process ID: the
// ID together with the process's start time (clock ticks after boot, from
// /proc/<pid>/stat). A process that has ended, whose ID is taken by
// another, or that is a zombie is no longer alive, whatever kill() says.
//
// One module for the server, the client library and qo3964_ctl: the owner
// of a claim in a job block and the server of a segment are judged alike.
#pragma once

#include <cstdint>
#include <sys/types.h>

namespace qo3964 {

// The calling process's start time (looked up once per process).
uint64_t own_start_ticks();

// True while `pid` names a process that has not ended and, with
// `start_ticks` not 0, started then. A process that exists but cannot be
// looked at (no /proc, another account's hidden process) counts as alive:
// nothing tells that it is not the one meant.
bool process_alive(pid_t pid, uint64_t start_ticks);

// The holder of a claim as one word: the process ID in the low 32 bits,
// the low 32 bits of its start time in the high ones.
uint64_t own_holder_id();
pid_t holder_pid(uint64_t holder);
// True while the process that the word names is alive; false for 0.
bool holder_alive(uint64_t holder);

}  // namespace qo3964
