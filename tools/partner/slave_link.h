// SPDX-License-Identifier: MIT
// A symbolic link to the pty slave, so that an rc-file can name a fixed
// PORT. Removed again when this object goes, if it still points there.
#pragma once

#include <string>

namespace qopartner {

class SlaveLink {
public:
    SlaveLink() = default;
    SlaveLink(const SlaveLink&) = delete;
    SlaveLink& operator=(const SlaveLink&) = delete;
    ~SlaveLink();

    // Replaces an existing symbolic link at `path`, never another kind of
    // file. False with `error` set when the link could not be made.
    bool create(const std::string& path, const std::string& target, std::string& error);

private:
    std::string path_;
    std::string target_;
};

}  // namespace qopartner
