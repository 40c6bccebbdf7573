// SPDX-License-Identifier: MIT
#include "server_lockfile.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qo3964 {

namespace {

constexpr char PROGRAM[] = "qo3964_server";
// The file holds "%d\n": at least 2 and at most 12 bytes.
constexpr int LOCK_READ_MAX = 15;
constexpr int LOCK_MIN_BYTES = 2;
constexpr int LOCK_MAX_BYTES = 12;

// Opens without following a link and without waiting for a FIFO's writer
// or a device.
constexpr int SAFE_OPEN = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// The start of a small file under /proc as a terminated text.
template <std::size_t N>
bool read_small(const char* path, char (&text)[N])
{
    text[0] = '\0';
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const ssize_t n = read(fd, text, N - 1);
    close(fd);
    text[n > 0 ? n : 0] = '\0';
    return n > 0;
}

// The state letter of /proc/<pid>/stat; 0 when it cannot be read.
char process_state(pid_t pid)
{
    char path[40];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    // "pid (name) S ...": the name may hold blanks and parentheses itself,
    // so the state follows the last ')'.
    char text[512];
    if (!read_small(path, text)) {
        return 0;
    }
    const char* close_paren = std::strrchr(text, ')');
    if (close_paren == nullptr || close_paren[1] != ' ') {
        return 0;
    }
    return close_paren[2];
}

// Whether the process runs the server program: by the path of its program
// (" (deleted)" after a package upgrade replaced it), or, where that may
// not be read (another account's process), by its command name.
bool runs_server_program(pid_t pid)
{
    char path[40];
    std::snprintf(path, sizeof path, "/proc/%d/exe", static_cast<int>(pid));
    char exe[512];
    const ssize_t n = readlink(path, exe, sizeof exe - 1);
    if (n > 0) {
        exe[n] = '\0';
        char* deleted = std::strstr(exe, " (deleted)");
        if (deleted != nullptr) {
            *deleted = '\0';
        }
        const char* slash = std::strrchr(exe, '/');
        return std::strcmp(slash != nullptr ? slash + 1 : exe, PROGRAM) == 0;
    }
    std::snprintf(path, sizeof path, "/proc/%d/comm", static_cast<int>(pid));
    char comm[32];
    if (!read_small(path, comm)) {
        return false;
    }
    comm[std::strcspn(comm, "\n")] = '\0';
    return std::strcmp(comm, PROGRAM) == 0;
}

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

int lockfile_claim(const char* path, const LockfileAccess& access, char* why, std::size_t why_size)
{
    why[0] = '\0';
    bool created = false;
    int fd = open(path, O_RDWR | SAFE_OPEN);
    if (fd < 0 && errno == ENOENT) {
        fd = open(path, O_RDWR | O_CREAT | O_EXCL | SAFE_OPEN, access.mode);
        created = fd >= 0;
    }
    if (fd < 0) {
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
    if (!created) {
        const pid_t pid = read_owner(fd);
        if (pid == getpid()) {
            close(fd);
            return LOCKFILE_TAKEN;
        }
        if (server_process_alive(pid)) {
            close(fd);
            return static_cast<int>(pid);
        }
    }
    if (created && access.exact_mode) {
        fchmod(fd, access.mode);
    }
    if (created && access.group >= 0 && fchown(fd, static_cast<uid_t>(-1), static_cast<gid_t>(access.group)) != 0) {
        // Not fatal: the file is still the server's; the caller may warn.
        std::snprintf(why, why_size, "cannot give it the group ID %ld: %s", access.group, std::strerror(errno));
    }
    if (!write_own_pid(fd)) {
        const int error = errno;
        close(fd);
        if (created) {
            unlink(path);
        }
        return refuse(why, why_size, "cannot write the process ID into it", error);
    }
    close(fd);
    return LOCKFILE_TAKEN;
}

pid_t lockfile_owner(const char* path, long owner)
{
    const int fd = open(path, O_RDONLY | SAFE_OPEN);
    if (fd < 0) {
        return 0;
    }
    struct stat info {};
    char why[128];
    pid_t pid = 0;
    if (fstat(fd, &info) == 0) {
        judge(info, owner, why, sizeof why);
        if (why[0] == '\0') {
            pid = read_owner(fd);
        }
    }
    close(fd);
    return pid;
}

bool server_process_alive(pid_t pid)
{
    if (pid <= 0) {
        return false;
    }
    if (kill(pid, 0) != 0 && errno != EPERM) {
        return false;
    }
    const char state = process_state(pid);
    return state != 0 && state != 'Z' && state != 'X' && runs_server_program(pid);
}

}  // namespace qo3964
