// SPDX-License-Identifier: MIT
#include "telegram_file.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

using namespace qo3964;

namespace qoctl {

FileError read_telegram_file(const char* path, Telegram& telegram)
{
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return FileError::unreadable;
    }
    telegram.length = 0;
    FileError result = FileError::none;
    for (;;) {
        // One byte more than fits, so that a longer file is seen as such.
        uint8_t spare = 0;
        uint8_t* into = telegram.length < TELEGRAM_MAX ? telegram.data.data() + telegram.length : &spare;
        const size_t room = telegram.length < TELEGRAM_MAX ? static_cast<size_t>(TELEGRAM_MAX - telegram.length) : 1;
        const ssize_t n = read(fd, into, room);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            result = FileError::unreadable;
            break;
        }
        if (n == 0) {
            break;
        }
        if (into == &spare) {
            result = FileError::too_long;
            break;
        }
        telegram.length += static_cast<int32_t>(n);
    }
    const int saved = errno;
    close(fd);
    errno = saved;
    return result;
}

}  // namespace qoctl
