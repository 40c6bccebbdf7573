// SPDX-License-Identifier: MIT
#include "scratch_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace qobench {

ScratchDir::ScratchDir()
{
    char name[] = "/tmp/qo3964_bench.XXXXXX";
    if (mkdtemp(name) != nullptr) {
        path_ = name;
    }
}

ScratchDir::~ScratchDir()
{
    if (!path_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
}

bool write_text_file(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out.flush());
}

std::string read_text_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace qobench
