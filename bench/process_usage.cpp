// SPDX-License-Identifier: MIT
#include "process_usage.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <unistd.h>

#include "scratch_dir.h"

namespace qobench {

namespace {

std::string proc_path(pid_t pid)
{
    return "/proc/" + std::to_string(pid);
}

// utime and stime are fields 14 and 15 of /proc/<pid>/stat; counting starts
// after the command name in parentheses, which may itself hold blanks.
std::optional<double> stat_cpu_ms(pid_t pid)
{
    const std::string stat = read_text_file(proc_path(pid) + "/stat");
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    unsigned long long ticks = 0;
    // After ")" come field 3 (state) onwards.
    for (int number = 3; number <= 15 && fields >> field; ++number) {
        if (number == 14 || number == 15) {
            ticks += std::strtoull(field.c_str(), nullptr, 10);
        }
    }
    if (!fields) {
        return std::nullopt;
    }
    const long ticks_per_s = sysconf(_SC_CLK_TCK);
    return static_cast<double>(ticks) * 1000.0 / static_cast<double>(ticks_per_s > 0 ? ticks_per_s : 100);
}

uint64_t status_value(const std::string& status, const std::string& key)
{
    const size_t at = status.find("\n" + key + ":");
    return at == std::string::npos ? 0 : std::strtoull(status.c_str() + at + key.size() + 2, nullptr, 10);
}

}  // namespace

std::optional<UsageReading> read_usage(pid_t pid)
{
    UsageReading reading;
    reading.when = std::chrono::steady_clock::now();
    std::error_code failed;
    std::filesystem::directory_iterator tasks(proc_path(pid) + "/task", failed);
    if (failed) {
        return std::nullopt;
    }
    double run_ns = 0;
    bool schedstat = true;
    for (const auto& task : tasks) {
        const std::string path = task.path().string();
        const std::string status = read_text_file(path + "/status");
        reading.switches += status_value(status, "voluntary_ctxt_switches") +
                            status_value(status, "nonvoluntary_ctxt_switches");
        const std::string run = read_text_file(path + "/schedstat");
        schedstat = schedstat && !run.empty();
        run_ns += std::strtod(run.c_str(), nullptr);
    }
    if (schedstat) {
        reading.cpu_ms = run_ns / 1e6;
        return reading;
    }
    const std::optional<double> cpu = stat_cpu_ms(pid);
    if (!cpu) {
        return std::nullopt;
    }
    reading.cpu_ms = *cpu;
    return reading;
}

Usage usage_between(const UsageReading& first, const UsageReading& last)
{
    Usage usage;
    usage.wall_s = std::chrono::duration<double>(last.when - first.when).count();
    usage.cpu_ms = last.cpu_ms - first.cpu_ms;
    usage.wakeups = static_cast<double>(last.switches - first.switches);
    return usage;
}

Usage UsageWatch::finish() const
{
    const std::optional<UsageReading> last = read_usage(pid_);
    return first_ && last ? usage_between(*first_, *last) : Usage{};
}

}  // namespace qobench
