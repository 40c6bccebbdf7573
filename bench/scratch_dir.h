// SPDX-License-Identifier: MIT
// A fresh directory under /tmp for the rc-file, the SHMNAME file and the
// server's output; removed with its contents at the end.
#pragma once

#include <string>

namespace qobench {

class ScratchDir {
public:
    ScratchDir();  // path() is empty when the directory could not be made
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

bool write_text_file(const std::string& path, const std::string& text);
std::string read_text_file(const std::string& path);

}  // namespace qobench
