// SPDX-License-Identifier: MIT
#include "port_claim.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

namespace qo3964 {

int port_claim(int fd)
{
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            errno = EBUSY;
        }
        return -1;
    }
    // Not every device a PORT may name is a terminal; the lock still holds.
    ioctl(fd, TIOCEXCL);
    return 0;
}

pid_t port_holder(const char* path)
{
    struct stat info {};
    std::FILE* locks = stat(path, &info) == 0 ? std::fopen("/proc/locks", "re") : nullptr;
    if (locks == nullptr) {
        return 0;
    }
    // "1: FLOCK  ADVISORY  WRITE 1234 00:05:87 0 EOF"; waiting locks have
    // "->" before the kind.
    char line[256];
    pid_t holder = 0;
    while (holder == 0 && std::fgets(line, sizeof line, locks) != nullptr) {
        char kind[16];
        long pid = 0;
        unsigned major_number = 0;
        unsigned minor_number = 0;
        uintmax_t inode = 0;
        if (std::sscanf(line, "%*d: %15s %*s %*s %ld %x:%x:%ju", kind, &pid, &major_number, &minor_number, &inode) ==
                5 &&
            std::strcmp(kind, "FLOCK") == 0 && major_number == major(info.st_dev) &&
            minor_number == minor(info.st_dev) && inode == static_cast<uintmax_t>(info.st_ino)) {
            holder = static_cast<pid_t>(pid);
        }
    }
    std::fclose(locks);
    return holder;
}

}  // namespace qo3964
