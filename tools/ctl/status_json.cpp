// SPDX-License-Identifier: MIT
// status --json: the report as one JSON object on one line. Its field
// names are fixed (qo3964_ctl(1) lists them); a value that is not known
// is null.
#include <cstdio>

#include "status_report.h"

namespace qoctl {

namespace {

// A JSON string. Bytes that are no printable ASCII (the identification
// is written by whatever attached the segment) become \u00XX, so the
// output is always valid UTF-8.
void put_string(const char* text, size_t size = static_cast<size_t>(-1))
{
    std::putchar('"');
    for (size_t i = 0; i < size && text[i] != '\0'; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '"' || byte == '\\') {
            std::printf("\\%c", byte);
        } else if (byte >= 0x20 && byte < 0x7f) {
            std::putchar(byte);
        } else {
            std::printf("\\u%04x", byte);
        }
    }
    std::putchar('"');
}

void put_key(const char* key)
{
    put_string(key);
    std::putchar(':');
}

void put_job(const char* name, const JobSnapshot& job)
{
    put_key(name);
    std::printf("{\"state\":%d,\"length\":%d,\"result\":%d,\"server_busy\":%u,\"client_busy\":%u,"
                "\"block_mark\":%u,\"spare_mark\":%u,\"shutdown_mark\":%u},",
                job.state, job.length, job.result, job.server_busy, job.client_busy, job.block_mark, job.spare_mark,
                job.shutdown_mark);
}

void put_segment(const StatusReport& r)
{
    put_key("identification");
    std::putchar('{');
    put_key("name");
    put_string(r.info.server_name, sizeof r.info.server_name);
    std::putchar(',');
    put_key("version");
    put_string(r.info.server_version, sizeof r.info.server_version);
    std::putchar(',');
    put_key("date");
    put_string(r.info.server_date, sizeof r.info.server_date);
    std::printf(",\"word_bits\":%u,\"info_code\":%u},", r.info.word_bits, r.info.info_code);
    put_key("segment");
    std::putchar('{');
    put_key("key_file");
    put_string(r.key_file.path, sizeof r.key_file.path);
    std::printf(",\"key\":%d,\"shmid\":%d,\"attached\":%d},", static_cast<int>(r.key), r.shmid, r.attached);
    put_key("lockfile");
    put_string(r.lockfile.path, sizeof r.lockfile.path);
    std::printf(",\"pid\":%d,", static_cast<int>(r.pid));
    put_job("send_job", r.send);
    put_job("receive_job", r.receive);
    std::printf("\"shutdown_request\":%d,", r.shutdown_request);
}

void put_counters(const CounterSnapshot& c)
{
    if (!c.present) {
        std::printf("\"settings\":null,\"counters\":null");
        return;
    }
    std::printf("\"settings\":{\"baud\":%d,\"zvz_ms\":%d,\"qvz_ms\":%d,\"tds\":%d,\"tdr\":%d,\"mmode\":%d,"
                "\"bcc_mode\":%u},",
                c.baud, c.zvz_ms, c.qvz_ms, c.tds, c.tdr, c.mmode, c.bcc_mode);
    put_key("counters");
    for (size_t i = 0; i < counter_table.size(); ++i) {
        std::putchar(i == 0 ? '{' : ',');
        put_key(counter_table[i].name);
        std::printf("%llu", static_cast<unsigned long long>(c.values[i]));
    }
    std::putchar('}');
}

}  // namespace

void print_status_json(const StatusReport& r)
{
    std::putchar('{');
    put_key("rc_file");
    put_string(r.rc_path);
    std::putchar(',');
    put_key("line");
    put_string(r.line_name);
    std::putchar(',');
    put_key("condition");
    put_string(condition_word(r.condition));
    std::printf(",\"running\":%s,", r.served() ? "true" : "false");
    put_key("line_up");
    std::fputs(!r.served() ? "null," : r.send.spare_flag == LINE_STATE_UP ? "true," : "false,", stdout);
    if (r.condition != Condition::absent) {
        put_segment(r);
    }
    put_counters(r.counters);
    std::puts("}");
}

}  // namespace qoctl
