// SPDX-License-Identifier: MIT
// The lockfile of a running qo3964_server: "/tmp/qo_" + the SHMNAME path
// with '/', '.' and blanks replaced by '_' + "_A", holding the process ID
// as "%d\n".
//
// The server holds an exclusive flock on the file for its whole life. The
// lock ends with the process, however it ends, and cannot be taken by a
// later process that happens to get the same process ID: a server runs
// exactly while its lockfile is locked.
//
// It lies in a directory every account may write, so nothing here trusts
// what it finds there: no symbolic link is followed, nothing blocks on a
// FIFO or a device, and only a regular file with one link that belongs to
// the expected account counts. One module for the server and qo3964_ctl,
// so that they always agree on whether a server runs.
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
    LOCKFILE_TAKEN = 0,     // locked, with the own process ID in the file
    LOCKFILE_REFUSED = -1,  // the path holds something the server must not use
    LOCKFILE_HELD = -2,     // locked by a server that has not written its ID yet
};

// The lock a server holds on its lockfile (fd -1: none).
struct LockfileHold {
    int fd = -1;
    dev_t dev = 0;
    ino_t ino = 0;
};

// Claims the lockfile for the calling process: locks it and writes the own
// process ID into it. Returns the process ID of the running server that
// holds the lock (the file is left as it is), LOCKFILE_HELD, LOCKFILE_TAKEN
// with `hold` filled, or LOCKFILE_REFUSED with the reason in `why`
// (nothing was changed at the path). A file is used only when it is a
// regular file with one link that belongs to the calling account.
int lockfile_claim(const char* path, const LockfileAccess& access, LockfileHold& hold, char* why,
                   std::size_t why_size);

// Gives up the lock. The file is removed first, but only while the path
// still names the locked file and the file the own process ID: true when
// it was removed.
bool lockfile_release(const char* path, LockfileHold& hold);

// True while a server holds the lock of a usable lockfile at `path` (as
// lockfile_owner judges it).
bool lockfile_locked(const char* path, long owner = -1);

// The process ID in a usable lockfile; 0 when there is none, when the path
// is no regular file with one link, or, with `owner` 0 or above, when the
// file belongs to another account.
pid_t lockfile_owner(const char* path, long owner = -1);

}  // namespace qo3964
