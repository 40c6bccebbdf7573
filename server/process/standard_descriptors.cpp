// SPDX-License-Identifier: MIT
#include "standard_descriptors.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace qo3964 {

bool make_standard_descriptors_valid()
{
    constexpr std::array<int, 3> modes{O_RDONLY, O_WRONLY, O_WRONLY};
    for (int fd = 0; fd < static_cast<int>(modes.size()); ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) {
            continue;
        }
        // The lowest free number: this one, since those below are valid.
        const int opened = open("/dev/null", modes[static_cast<size_t>(fd)] | O_NOCTTY);
        if (opened != fd) {
            if (opened >= 0) {
                close(opened);
            }
            return false;
        }
    }
    return true;
}

}  // namespace qo3964
