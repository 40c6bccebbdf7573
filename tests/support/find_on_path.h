// SPDX-License-Identifier: MIT
// Where a program would be found on PATH, for tests that need a tool the
// machine may lack (tmux, systemd-analyze) and skip without it.
#pragma once

#include <string>

namespace qotest {

// The path of the executable `program` in a PATH directory, or "".
std::string find_on_path(const std::string& program);

}  // namespace qotest
