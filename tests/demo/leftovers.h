// SPDX-License-Identifier: MIT
// What a finished demo must not have left behind: processes, a shared
// memory segment, a lockfile, files in its temporary directory.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace qodemo {

// True while `pid` runs the program `name` (a recycled ID does not count).
bool process_runs(pid_t pid, const std::string& name);
// Processes whose working directory lies in `dir` (or is `dir`).
std::vector<pid_t> processes_working_in(const std::string& dir);
// The names in `dir`, without "." and "..".
std::vector<std::string> directory_entries(const std::string& dir);

}  // namespace qodemo
