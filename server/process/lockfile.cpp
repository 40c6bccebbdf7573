#include "lockfile.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace qo3964 {

void lockfile_path_for(const char* shm_name, char* target, size_t size)
{
    std::snprintf(target, size, "/tmp/qo_%s_A", shm_name);
    char* name = target + std::strlen("/tmp/qo_");
    const size_t name_length = std::strlen(shm_name);
    for (size_t i = 0; i < name_length && name[i] != '\0'; ++i) {
        if (name[i] == '/' || name[i] == '.' || name[i] == ' ') {
            name[i] = '_';
        }
    }
}

namespace {

constexpr int LOCK_READ_MAX = 15;
constexpr int LOCK_MIN_BYTES = 2;
constexpr int LOCK_MAX_BYTES = 12;

// The ID in an existing lockfile: > 0 for a live process, 0 when the file
// may be overwritten, -2 when its size is implausible.
int existing_owner(int fd)
{
    char text[LOCK_READ_MAX + 1] = {};
    const ssize_t count = read(fd, text, LOCK_READ_MAX);
    close(fd);
    if (count < LOCK_MIN_BYTES || count > LOCK_MAX_BYTES) {
        return -2;
    }
    const long pid = std::strtol(text, nullptr, 10);
    if (pid > 0 && pid <= 0x7fffffffL && kill(static_cast<pid_t>(pid), SIGCONT) == 0) {
        return static_cast<int>(pid);
    }
    return 0;
}

}  // namespace

int lockfile_claim(const char* path)
{
    const int existing = open(path, O_RDWR | O_NOFOLLOW);
    if (existing >= 0) {
        const int owner = existing_owner(existing);
        if (owner != 0) {
            return owner;
        }
    }
    const int fd = open(path, O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW, 0664);
    if (fd < 0) {
        return -1;
    }
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%d\n", static_cast<int>(getpid()));
    const ssize_t written = write(fd, text, static_cast<size_t>(length));
    close(fd);
    return written == length ? 0 : -1;
}

}  // namespace qo3964
