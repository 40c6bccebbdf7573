// SPDX-License-Identifier: MIT
// status: the settings and counters section of the text form, and what the
// three forms share.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "status_report.h"

namespace qoctl {

namespace {

static_assert(counter_table[0].field == &ServerCounters::started_ms, "the section begins with the start");

// "2026-05-04 22:10:01.123" in local time; "never" for 0.
void put_time(uint64_t ms)
{
    if (ms == 0) {
        std::fputs("never", stdout);
        return;
    }
    const auto seconds = static_cast<time_t>(ms / 1000);
    tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::printf("%s.%03u", text, static_cast<unsigned>(ms % 1000));
}

}  // namespace

void name_line(const char* rc_path, StatusReport& report)
{
    const char* slash = std::strrchr(rc_path, '/');
    std::snprintf(report.line_name, sizeof report.line_name, "%s", slash != nullptr ? slash + 1 : rc_path);
    const size_t length = std::strlen(report.line_name);
    if (length > 3 && std::strcmp(report.line_name + length - 3, ".rc") == 0) {
        report.line_name[length - 3] = '\0';
    }
}

const char* condition_word(Condition condition)
{
    switch (condition) {
    case Condition::running:
        return "running";
    case Condition::shutting_down:
        return "shutting down";
    case Condition::abandoned:
        return "abandoned";
    case Condition::unknown:
        return "unknown";
    case Condition::absent:
        break;
    }
    return "absent";
}

void print_counters_text(const StatusReport& report)
{
    const CounterSnapshot& c = report.counters;
    if (!c.present) {
        std::printf("counters: none (the server keeps none in its segment)\n");
        return;
    }
    std::printf("settings: %d baud, %s, ZVZ %d ms, QVZ %d ms, TDS %d, TDR %d, MMODE %d\n", c.baud,
                c.bcc_mode != 0 ? "3964R" : "3964", c.zvz_ms, c.qvz_ms, c.tds, c.tdr, c.mmode);
    std::fputs("counters: since ", stdout);
    put_time(c.values[0]);
    std::putchar('\n');
    for (size_t i = 1; i < counter_table.size(); ++i) {
        std::printf("  %s ", counter_table[i].name);
        if (counter_table[i].kind == CounterKind::time) {
            put_time(c.values[i]);
        } else {
            std::printf("%llu", static_cast<unsigned long long>(c.values[i]));
        }
        std::putchar('\n');
    }
}

}  // namespace qoctl
