// SPDX-License-Identifier: MIT
// The lockfile that names the process of a running qo3964_server:
// "/tmp/qo_" + the SHMNAME path with '/', '.' and blanks replaced by '_'
// + "_A", holding the process ID as "%d\n".
//
// It lies in a directory every account may write, so nothing here trusts
// what it finds there: no symbolic link is followed, nothing blocks on a
// FIFO or a device, and only a regular file with one link that belongs to
// the expected account counts. One module for the server, qo3964_ctl and
// the service's stale-segment check (through qo3964_ctl), so that they
// always agree on whether a server runs.
#pragma once

#include <cstddef>
#include <sys/types.h>

namespace qo3964 {

// "/tmp/qo_" + shm_name with '/', '.' and blanks replaced by '_' + "_A".
void lockfile_path_for(const char* shm_name, char* target, std::size_t size);

// The lockfile's permissions: `mode` for a file the server creates, and the
// group to give it (-1: leave the account's own).
struct LockfileAccess {
    mode_t mode = 0664;
    bool exact_mode = false;  // true: `mode` as given, not cut by the umask
    long group = -1;
};

// Outcome of lockfile_claim besides a positive process ID.
enum LockfileClaim : int {
    LOCKFILE_TAKEN = 0,     // the own process ID is in the file
    LOCKFILE_REFUSED = -1,  // the path holds something the server must not use
};

// Claims the lockfile for the calling process. Returns the process ID of a
// running qo3964_server that the file names (the file is left as it is),
// LOCKFILE_TAKEN, or LOCKFILE_REFUSED with the reason in `why` (nothing
// was changed at the path). A file is used only when it is a regular file
// with one link that belongs to the calling account; its process ID is
// replaced when that process has ended or is no qo3964_server.
int lockfile_claim(const char* path, const LockfileAccess& access, char* why, std::size_t why_size);

// The process ID in a usable lockfile; 0 when there is none, when the path
// is no regular file with one link, or, with `owner` 0 or above, when the
// file belongs to another account.
pid_t lockfile_owner(const char* path, long owner = -1);

// True while `pid` is a running qo3964_server: the process exists (also
// when it belongs to another account), has not ended (a zombie has), and
// its program is qo3964_server.
bool server_process_alive(pid_t pid);

}  // namespace qo3964
