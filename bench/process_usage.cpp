// SPDX-License-Identifier: MIT
#include "process_usage.h"

#include <cstdlib>
#include <sstream>
#include <string>
#include <unistd.h>

#include "scratch_dir.h"

namespace qobench {

namespace {

constexpr double DEFAULT_SLACK_MS = 0.05;

// utime and stime are fields 14 and 15 of /proc/<pid>/stat; counting starts
// after the command name in parentheses, which may itself hold blanks.
std::optional<double> cpu_ms_of(pid_t pid)
{
    const std::string stat = read_text_file("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    // After ")" come field 3 (state) onwards.
    for (int number = 3; number <= 15 && fields >> field; ++number) {
        if (number == 14) {
            utime = std::strtoull(field.c_str(), nullptr, 10);
        } else if (number == 15) {
            stime = std::strtoull(field.c_str(), nullptr, 10);
        }
    }
    if (!fields) {
        return std::nullopt;
    }
    const long ticks_per_s = sysconf(_SC_CLK_TCK);
    return static_cast<double>(utime + stime) * 1000.0 / static_cast<double>(ticks_per_s > 0 ? ticks_per_s : 100);
}

std::optional<uint64_t> voluntary_switches_of(pid_t pid)
{
    std::istringstream status(read_text_file("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    const std::string key = "voluntary_ctxt_switches:";
    while (std::getline(status, line)) {
        if (line.compare(0, key.size(), key) == 0) {
            return std::strtoull(line.c_str() + key.size(), nullptr, 10);
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<UsageReading> read_usage(pid_t pid)
{
    UsageReading reading;
    reading.when = std::chrono::steady_clock::now();
    const std::optional<double> cpu = cpu_ms_of(pid);
    const std::optional<uint64_t> switches = voluntary_switches_of(pid);
    if (!cpu || !switches) {
        return std::nullopt;
    }
    reading.cpu_ms = *cpu;
    reading.voluntary_switches = *switches;
    return reading;
}

UsageRates usage_between(const UsageReading& first, const UsageReading& last)
{
    UsageRates rates;
    rates.wall_s = std::chrono::duration<double>(last.when - first.when).count();
    if (rates.wall_s <= 0) {
        return rates;
    }
    rates.cpu_ms_per_s = (last.cpu_ms - first.cpu_ms) / rates.wall_s;
    rates.wakeups_per_s = static_cast<double>(last.voluntary_switches - first.voluntary_switches) / rates.wall_s;
    return rates;
}

double timer_slack_ms(pid_t pid)
{
    const std::string text = read_text_file("/proc/" + std::to_string(pid) + "/timerslack_ns");
    if (text.empty()) {
        return DEFAULT_SLACK_MS;
    }
    return static_cast<double>(std::strtoull(text.c_str(), nullptr, 10)) / 1e6;
}

}  // namespace qobench
