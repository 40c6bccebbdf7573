// SPDX-License-Identifier: MIT
// status: the server's identification through the library, and the live
// state of the job blocks and of the stop order, read from the segment.
#include <array>
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "ctl_report.h"
#include "qo3964_client.h"
#include "server_handle.h"
#include "line_record.h"
#include "server_segment.h"
#include "status_report.h"

using namespace qo3964;

namespace qoctl {

namespace {

constexpr std::array<const char*, 4> state_names{"JOB_IDLE", "JOB_SUBMITTED", "JOB_IN_WORK", "JOB_DONE"};

const char* state_name(int32_t state)
{
    return state >= 0 && state < static_cast<int32_t>(state_names.size()) ? state_names[static_cast<size_t>(state)]
                                                                           : "unknown";
}

// One look at a job block, every field read once, so that a line never
// mixes two readings of the same field.
JobSnapshot look_at(const volatile JobBlock& block)
{
    // The block is handed over by `state`, written last: read it first.
    JobSnapshot job{};
    job.state = block.state;
    job.length = block.length;
    job.result = block.result;
    job.server_busy = block.server_busy;
    job.client_busy = block.client_busy;
    job.block_mark = block.block_mark;
    job.spare_mark = block.spare_mark;
    job.shutdown_mark = block.shutdown_mark;
    job.spare_flag = block.spare_flag;
    return job;
}

// A block's `result` is the server's status: 1 good, negative a code.
void put_block_result(int32_t result, Language language)
{
    if (result == 0) {
        std::fputs("none", stdout);
    } else if (result == 1) {
        std::fputs("good", stdout);
    } else {
        put_code_text(stdout, result, language);
    }
}

void print_job(const char* name, const JobSnapshot& job, Language language)
{
    std::printf("%s: state %d %s, length %d, result %d (", name, job.state, state_name(job.state), job.length,
                job.result);
    put_block_result(job.result, language);
    std::printf("), server_busy %u, client_busy %u, block_mark %u, spare_mark %u, shutdown_mark %u\n",
                job.server_busy, job.client_busy, job.block_mark, job.spare_mark, job.shutdown_mark);
}

// A text field of the identification, NUL-terminated in its field unless
// something other than the server wrote it. Any program that may attach
// the segment can write there: bytes that could steer the operator's
// terminal are shown escaped (\xHH, and \\ for a backslash).
template <size_t N>
void put_field(const char (&field)[N])
{
    for (size_t i = 0; i < N && field[i] != '\0'; ++i) {
        const auto byte = static_cast<unsigned char>(field[i]);
        if (byte == '\\') {
            std::fputs("\\\\", stdout);
        } else if (byte >= 0x20 && byte < 0x7f) {
            std::putchar(byte);
        } else {
            std::printf("\\x%02x", byte);
        }
    }
}

void print_identification(const qo3964_server_info& info)
{
    // A segment that no server has described (it was created by another
    // program) is all zeros here.
    if (info.server_name[0] == '\0') {
        std::printf("identification: none (the segment holds no server identification)\n");
        return;
    }
    std::fputs("identification: ", stdout);
    put_field(info.server_name);
    std::putchar(' ');
    put_field(info.server_version);
    std::putchar(' ');
    put_field(info.server_date);
    std::printf(", word_bits %u, info_code %u\n", info.word_bits, info.info_code);
}

// The key file is the serial device itself: it vanishes with a USB adapter,
// and with it the way to a server that still runs.
void print_key_file_advice(const KeyFile& key_file)
{
    if (key_file.is_port) {
        std::printf("advice: the key file is the serial device %s (no SHMNAME): when the device goes away, "
                    "applications and qo3964_ctl can no longer find this server; set SHMNAME to a file that "
                    "stays, such as the rc-file itself\n",
                    key_file.path);
    }
}

void print_lockfile(const StatusReport& report)
{
    if (report.pid == 0) {
        std::printf("lockfile: %s, missing or without a process ID\n", report.lockfile.path);
        return;
    }
    std::printf("lockfile: %s, process %d %s\n", report.lockfile.path, static_cast<int>(report.pid),
                report.lockfile_locked ? "running" : "not running");
}

void print_stop_order(int8_t request)
{
    std::printf("shutdown_request: %d (%s)\n", request,
                request > 0    ? "stop ordered"
                : request == 0 ? "none"
                               : "not positive: ignored by the server");
}

// The server keeps its serial line's state in send_job's spare_flag; a
// server that no longer runs serves no line, whatever the flag says.
void print_line_state(const StatusReport& report)
{
    const uint8_t flag = report.send.spare_flag;
    std::printf("line: %s\n", !report.served()           ? "not served (no server runs)"
                              : flag == LINE_STATE_UP   ? "up"
                              : flag == LINE_STATE_DOWN ? "down (the port went away; the server is reopening it)"
                                                        : "unknown");
}

// A segment whose server was killed stays behind until the operator
// removes it; the record of its server in the segment tells whether it
// still runs (its process ID and start time: a later process with the
// same ID is not the server). The marks count only while it runs: a
// server killed during its stop leaves a marked segment that nobody will
// remove.
void print_condition(const StatusReport& report)
{
    switch (report.condition) {
    case Condition::running:
        std::printf("condition: running\n");
        break;
    case Condition::shutting_down:
        std::printf("condition: shutting down (shutdown marks set)\n");
        break;
    case Condition::unknown:
        std::printf("condition: unknown (the segment holds no record of a server)\n");
        break;
    case Condition::abandoned:
    case Condition::absent:
        std::printf("condition: abandoned (its process has ended; remove the segment with ipcrm -m %d)\n",
                    report.shmid);
        break;
    }
}

void print_status_text(const StatusReport& report, Language language)
{
    print_identification(report.info);
    std::printf("segment: key file \"%s\", key 0x%08x, shmid %d, attached %d\n", report.key_file.path,
                static_cast<unsigned>(report.key), report.shmid, report.attached);
    print_key_file_advice(report.key_file);
    print_lockfile(report);
    print_job("send_job", report.send, language);
    print_job("receive_job", report.receive, language);
    print_stop_order(report.shutdown_request);
    print_line_state(report);
    print_condition(report);
    print_counters_text(report);
}

Condition judge(const SegmentView& view, bool marked)
{
    if (!line_record_present(view.line())) {
        return Condition::unknown;
    }
    if (view.server_alive()) {
        return marked ? Condition::shutting_down : Condition::running;
    }
    return Condition::abandoned;
}

// For a monitor, also a server that is not there is a report: down.
int report_absent(const CtlOptions& options)
{
    StatusReport report;
    report.rc_path = options.rc_path;
    name_line(options.rc_path, report);
    if (options.status_format == StatusFormat::json) {
        print_status_json(report);
    } else if (options.status_format == StatusFormat::prometheus) {
        print_status_prometheus(report);
    }
    return EXIT_FAILED;
}

}  // namespace

int run_status(const CtlOptions& options)
{
    ServerHandle server(options);
    if (server.open() != 0) {
        return report_absent(options);
    }
    StatusReport report;
    report.rc_path = options.rc_path;
    name_line(options.rc_path, report);
    const int32_t identified = qo3964m_svr_info(server.handle(), &report.info);
    if (identified != 0) {
        complain("status: no identification from the server: %d %s", identified, qo3964_errortext_en(identified));
        return EXIT_FAILED;
    }
    SegmentView view;
    if (attach_own_view(options, false, report.key_file, view) != 0) {
        return EXIT_FAILED;
    }
    const volatile SharedSegment& segment = *view.segment();
    report.send = look_at(segment.send_job);
    report.receive = look_at(segment.receive_job);
    report.shutdown_request = segment.shutdown_request;
    report.counters = read_counters(segment);
    report.key = view.key();
    report.shmid = view.id();
    report.attached = view.attach_count();
    report.lockfile = lockfile_name(report.key_file);
    report.pid = lockfile_pid(report.key_file);
    report.lockfile_locked = report.pid != 0 && lockfile_held_by_server(report.key_file);
    report.condition =
        judge(view, report.send.shutdown_mark == SHUTDOWN_MARK || report.receive.shutdown_mark == SHUTDOWN_MARK);

    switch (options.status_format) {
    case StatusFormat::text:
        print_status_text(report, options.language);
        break;
    case StatusFormat::json:
        print_status_json(report);
        break;
    case StatusFormat::prometheus:
        print_status_prometheus(report);
        break;
    }
    // Only a server that runs is a good status.
    return report.served() ? EXIT_DONE : EXIT_FAILED;
}

}  // namespace qoctl
