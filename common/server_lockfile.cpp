// SPDX-License-Identifier: MIT
#include "server_lockfile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qo3964 {

namespace {

// The file holds "%d\n": at least 2 and at most 12 bytes.
constexpr int LOCK_READ_MAX = 15;
constexpr int LOCK_MIN_BYTES = 2;
constexpr int LOCK_MAX_BYTES = 12;

// Opens without following a link and without waiting for a FIFO's writer
// or a device.
constexpr int SAFE_OPEN = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// A look by lockfile_locked holds a shared lock for a moment; a server
// holds its lock for its life. So a lock that stays taken for these
// tries, a millisecond apart, is a server's.
constexpr int LOCK_TRIES = 100;
constexpr useconds_t LOCK_TRY_PAUSE_US = 1000;
// A file removed by its server between our open and our lock is opened
// again, as often as this.
constexpr int OPEN_TRIES = 10;

// The process ID at the start of an open lockfile; 0 when its size is not
// that of "%d\n" or it names no positive ID.
pid_t read_owner(int fd)
{
    char text[LOCK_READ_MAX + 1] = {};
    const ssize_t count = pread(fd, text, LOCK_READ_MAX, 0);
    if (count < LOCK_MIN_BYTES || count > LOCK_MAX_BYTES) {
        return 0;
    }
    const long pid = std::strtol(text, nullptr, 10);
    return pid > 0 && pid <= 0x7fffffffL ? static_cast<pid_t>(pid) : 0;
}

// Checks an open file; an empty text when it may be used, else why not.
void judge(const struct stat& info, long owner, char* why, std::size_t why_size)
{
    why[0] = '\0';
    if (!S_ISREG(info.st_mode)) {
        std::snprintf(why, why_size, "it is not a regular file");
    } else if (info.st_nlink != 1) {
        std::snprintf(why, why_size, "it has %lu links (a hard link to another file?)",
                      static_cast<unsigned long>(info.st_nlink));
    } else if (owner >= 0 && static_cast<long>(info.st_uid) != owner) {
        std::snprintf(why, why_size, "it belongs to user ID %lu, not to this account (user ID %ld)",
                      static_cast<unsigned long>(info.st_uid), owner);
    }
}

int refuse(char* why, std::size_t why_size, const char* what, int error)
{
    std::snprintf(why, why_size, "%s: %s", what, std::strerror(error));
    return LOCKFILE_REFUSED;
}

// Writes "%d\n" with the own process ID over the whole file.
bool write_own_pid(int fd)
{
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%d\n", static_cast<int>(getpid()));
    return ftruncate(fd, 0) == 0 && pwrite(fd, text, static_cast<size_t>(length), 0) == length;
}

// Takes the exclusive lock; false (errno EWOULDBLOCK) while a server holds it.
bool lock_exclusive(int fd)
{
    for (int i = 0; i < LOCK_TRIES; ++i) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            return true;
        }
        if (errno != EWOULDBLOCK) {
            return false;
        }
        usleep(LOCK_TRY_PAUSE_US);
    }
    errno = EWOULDBLOCK;
    return false;
}

// True while the path names the file `info` describes.
bool path_names(const char* path, const struct stat& info)
{
    struct stat now {};
    return lstat(path, &now) == 0 && now.st_dev == info.st_dev && now.st_ino == info.st_ino;
}

// Opens the lockfile, creating it when there is none.
int open_or_create(const char* path, mode_t mode, bool& created)
{
    created = false;
    int fd = open(path, O_RDWR | SAFE_OPEN);
    if (fd < 0 && errno == ENOENT) {
        fd = open(path, O_RDWR | O_CREAT | O_EXCL | SAFE_OPEN, mode);
        created = fd >= 0;
    }
    return fd;
}

// The lockfile opened for reading when it is one the server would have
// written (with `owner` 0 or above: of that account); else -1.
int open_usable(const char* path, long owner)
{
    const int fd = open(path, O_RDONLY | SAFE_OPEN);
    if (fd < 0) {
        return -1;
    }
    struct stat info {};
    char why[128] = "cannot examine it";
    if (fstat(fd, &info) == 0) {
        judge(info, owner, why, sizeof why);
    }
    if (why[0] != '\0') {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

void lockfile_path_for(const char* shm_name, char* target, std::size_t size)
{
    std::snprintf(target, size, "/tmp/qo_%s_A", shm_name);
    char* name = target + std::strlen("/tmp/qo_");
    const std::size_t name_length = std::strlen(shm_name);
    for (std::size_t i = 0; i < name_length && name[i] != '\0'; ++i) {
        if (name[i] == '/' || name[i] == '.' || name[i] == ' ') {
            name[i] = '_';
        }
    }
}

int lockfile_claim(const char* path, const LockfileAccess& access, LockfileHold& hold, char* why,
                   std::size_t why_size)
{
    why[0] = '\0';
    for (int attempt = 0; attempt < OPEN_TRIES; ++attempt) {
        bool created = false;
        const int fd = open_or_create(path, access.mode, created);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;  // made by another server starting at the same moment
            }
            return refuse(why, why_size, errno == ELOOP ? "it is a symbolic link" : "cannot open it", errno);
        }
        struct stat info {};
        if (fstat(fd, &info) != 0) {
            const int error = errno;
            close(fd);
            return refuse(why, why_size, "cannot examine it", error);
        }
        judge(info, static_cast<long>(geteuid()), why, why_size);
        if (why[0] != '\0') {
            close(fd);
            return LOCKFILE_REFUSED;
        }
        if (!lock_exclusive(fd)) {
            const int error = errno;
            const pid_t holder = read_owner(fd);
            close(fd);
            if (error != EWOULDBLOCK) {
                return refuse(why, why_size, "cannot lock it", error);
            }
            return holder > 0 ? static_cast<int>(holder) : LOCKFILE_HELD;
        }
        // Its server may have ended and removed it while we opened it.
        if (!path_names(path, info)) {
            close(fd);
            continue;
        }
        if (created && access.exact_mode) {
            fchmod(fd, access.mode);
        }
        if (created && access.group >= 0 &&
            fchown(fd, static_cast<uid_t>(-1), static_cast<gid_t>(access.group)) != 0) {
            // Not fatal: the file is still the server's; the caller may warn.
            std::snprintf(why, why_size, "cannot give it the group ID %ld: %s", access.group, std::strerror(errno));
        }
        if (!write_own_pid(fd)) {
            const int error = errno;
            if (created) {
                unlink(path);
            }
            close(fd);
            return refuse(why, why_size, "cannot write the process ID into it", error);
        }
        hold = LockfileHold{fd, info.st_dev, info.st_ino};
        return LOCKFILE_TAKEN;
    }
    std::snprintf(why, why_size, "it was removed and made again %d times while the server tried to lock it",
                  OPEN_TRIES);
    return LOCKFILE_REFUSED;
}

bool lockfile_release(const char* path, LockfileHold& hold)
{
    if (hold.fd < 0) {
        return false;
    }
    struct stat held {};
    held.st_dev = hold.dev;
    held.st_ino = hold.ino;
    // Removed while still locked: a server that opened the file meanwhile
    // finds it gone once it has the lock, and makes a new one.
    const bool removed = path_names(path, held) && read_owner(hold.fd) == getpid() && unlink(path) == 0;
    close(hold.fd);
    hold = LockfileHold{};
    return removed;
}

bool lockfile_locked(const char* path, long owner)
{
    const int fd = open_usable(path, owner);
    if (fd < 0) {
        return false;
    }
    const bool locked = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);  // also gives up a shared lock taken here
    return locked;
}

pid_t lockfile_owner(const char* path, long owner)
{
    const int fd = open_usable(path, owner);
    if (fd < 0) {
        return 0;
    }
    const pid_t pid = read_owner(fd);
    close(fd);
    return pid;
}

}  // namespace qo3964
