// SPDX-License-Identifier: MIT
// status --prometheus: the report in the text format that node_exporter's
// textfile collector reads. Every metric is named qo3964_... and carries
// the label line, the rc-file's name; counts are counters (..._total),
// times of day gauges in seconds since 1970.
#include <cstdio>
#include <cstring>

#include "status_report.h"

namespace qoctl {

namespace {

// A label value: backslash, double quote and line end escaped.
void put_label(const char* value)
{
    std::fputs("{line=\"", stdout);
    for (const char* p = value; *p != '\0'; ++p) {
        if (*p == '\\' || *p == '"') {
            std::printf("\\%c", *p);
        } else if (*p == '\n') {
            std::fputs("\\n", stdout);
        } else {
            std::putchar(*p);
        }
    }
    std::fputs("\"} ", stdout);
}

void put_gauge(const StatusReport& r, const char* name, const char* help, long long value)
{
    std::printf("# HELP qo3964_%s %s\n# TYPE qo3964_%s gauge\nqo3964_%s", name, help, name, name);
    put_label(r.line_name);
    std::printf("%lld\n", value);
}

void put_counter(const StatusReport& r, const CounterInfo& info, uint64_t value)
{
    if (info.kind == CounterKind::time) {
        // started_ms -> qo3964_started_seconds
        const size_t base = std::strlen(info.name) - 3;
        std::printf("# HELP qo3964_%.*s_seconds %s (seconds since 1970, 0 never)\n"
                    "# TYPE qo3964_%.*s_seconds gauge\nqo3964_%.*s_seconds",
                    static_cast<int>(base), info.name, info.help, static_cast<int>(base), info.name,
                    static_cast<int>(base), info.name);
        put_label(r.line_name);
        std::printf("%llu.%03u\n", static_cast<unsigned long long>(value / 1000), static_cast<unsigned>(value % 1000));
        return;
    }
    std::printf("# HELP qo3964_%s_total %s\n# TYPE qo3964_%s_total counter\nqo3964_%s_total", info.name, info.help,
                info.name, info.name);
    put_label(r.line_name);
    std::printf("%llu\n", static_cast<unsigned long long>(value));
}

}  // namespace

void print_status_prometheus(const StatusReport& r)
{
    put_gauge(r, "up", "1 while a server runs for the line, else 0", r.served() ? 1 : 0);
    put_gauge(r, "line_up", "1 while the server has its serial port open, else 0",
              r.served() && r.send.spare_flag == LINE_STATE_UP ? 1 : 0);
    if (!r.counters.present) {
        return;
    }
    for (size_t i = 0; i < counter_table.size(); ++i) {
        put_counter(r, counter_table[i], r.counters.values[i]);
    }
}

}  // namespace qoctl
