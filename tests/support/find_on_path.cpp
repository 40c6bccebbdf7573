// SPDX-License-Identifier: MIT
#include "find_on_path.h"

#include <cstdlib>
#include <sstream>
#include <unistd.h>

namespace qotest {

std::string find_on_path(const std::string& program)
{
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const std::string candidate = dir + "/" + program;
        if (!dir.empty() && access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return "";
}

}  // namespace qotest
