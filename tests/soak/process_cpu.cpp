// SPDX-License-Identifier: MIT
#include "process_cpu.h"

#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace qosoak {

double cpu_seconds(pid_t pid)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(file, text);
    // The command name in parentheses may hold blanks; fields are counted
    // after it: state is field 3, utime 14, stime 15.
    const size_t name_end = text.rfind(')');
    if (name_end == std::string::npos) {
        return -1.0;
    }
    std::istringstream fields(text.substr(name_end + 2));
    std::string field;
    long long utime = 0;
    long long stime = 0;
    for (int number = 3; number <= 15 && fields >> field; ++number) {
        if (number == 14) {
            utime = std::stoll(field);
        } else if (number == 15) {
            stime = std::stoll(field);
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace qosoak
