// SPDX-License-Identifier: MIT
#include "leftovers.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace qodemo {

namespace fs = std::filesystem;

bool process_runs(pid_t pid, const std::string& name)
{
    if (pid <= 0) {
        return false;
    }
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string running;
    std::getline(comm, running);
    // A zombie has ended: only its parent has not collected it yet.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t close = line.rfind(')');
    const bool zombie = close != std::string::npos && line.compare(close + 1, 3, " Z ") == 0;
    return comm && running == name && !zombie;
}

std::vector<pid_t> processes_working_in(const std::string& dir)
{
    std::vector<pid_t> found;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::error_code unreadable;
        const std::string cwd = fs::read_symlink(entry.path() / "cwd", unreadable).string();
        if (!unreadable && (cwd == dir || cwd.rfind(dir + "/", 0) == 0)) {
            found.push_back(static_cast<pid_t>(std::atoi(name.c_str())));
        }
    }
    return found;
}

std::vector<std::string> directory_entries(const std::string& dir)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir, error)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

}  // namespace qodemo
