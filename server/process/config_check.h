// SPDX-License-Identifier: MIT
// qo3964_server --check RC-FILE: the rc-file read exactly as a start reads
// it (every refused line reported with its number, as at a start), then
// what the server would use (port, line, procedure times, segment key,
// access, lockfile, trace), and whether the files it names are there: the
// port a terminal this account may open, the SHMNAME file, the trace's
// directory. Nothing of a start is done: no lockfile, no segment, and the
// port is opened only to ask whether it is a terminal, and closed again
// without a change to its settings.
#pragma once

namespace qo3964 {

// Prints the check; returns the exit status: 0 usable, 1 not.
int check_configuration(const char* rc_file);

}  // namespace qo3964
