// SPDX-License-Identifier: MIT
#include "slave_link.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace qopartner {

bool SlaveLink::create(const std::string& path, const std::string& target, std::string& error)
{
    struct stat info{};
    if (lstat(path.c_str(), &info) == 0) {
        if (!S_ISLNK(info.st_mode)) {
            error = path + " exists and is not a symbolic link";
            return false;
        }
        unlink(path.c_str());  // left behind by an earlier run
    }
    if (symlink(target.c_str(), path.c_str()) != 0) {
        error = "cannot create the link " + path + ": " + std::strerror(errno);
        return false;
    }
    path_ = path;
    target_ = target;
    return true;
}

SlaveLink::~SlaveLink()
{
    if (path_.empty()) {
        return;
    }
    char points_to[PATH_MAX] = {};
    const ssize_t length = readlink(path_.c_str(), points_to, sizeof points_to - 1);
    // Another run may have taken the name over in the meantime.
    if (length > 0 && target_ == std::string(points_to, static_cast<size_t>(length))) {
        unlink(path_.c_str());
    }
}

}  // namespace qopartner
