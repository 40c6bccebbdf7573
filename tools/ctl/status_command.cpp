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
struct JobSnapshot {
    int32_t state;
    int32_t length;
    int32_t result;
    uint8_t server_busy;
    uint8_t client_busy;
    uint8_t block_mark;
    uint8_t spare_mark;
    uint8_t shutdown_mark;
    uint8_t spare_flag;
};

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

// The process the lockfile names, and whether it still runs: a server
// holds the lock of its lockfile for its life.
struct ServerProcess {
    LockfileName lockfile;
    pid_t pid;
    bool running;
};

ServerProcess find_process(const KeyFile& key_file)
{
    ServerProcess process{lockfile_name(key_file), 0, false};
    process.pid = lockfile_pid(key_file);
    process.running = process.pid != 0 && lockfile_held_by_server(key_file);
    return process;
}

void print_lockfile(const ServerProcess& process)
{
    if (process.pid == 0) {
        std::printf("lockfile: %s, missing or without a process ID\n", process.lockfile.path);
        return;
    }
    std::printf("lockfile: %s, process %d %s\n", process.lockfile.path, static_cast<int>(process.pid),
                process.running ? "running" : "not running");
}

void print_stop_order(int8_t request)
{
    std::printf("shutdown_request: %d (%s)\n", request,
                request > 0    ? "stop ordered"
                : request == 0 ? "none"
                               : "not positive: ignored by the server");
}

// The server keeps its serial line's state in send_job's spare_flag.
void print_line_state(uint8_t flag)
{
    std::printf("line: %s\n", flag == LINE_STATE_UP     ? "up"
                              : flag == LINE_STATE_DOWN ? "down (the port went away; the server is reopening it)"
                                                        : "unknown");
}

// A segment whose server was killed stays behind until the operator
// removes it; the record of its server in the segment tells whether it
// still runs (its process ID and start time: a later process with the
// same ID is not the server). The marks count only while it runs: a
// server killed during its stop leaves a marked segment that nobody will
// remove.
void print_condition(bool marked, const SegmentView& view)
{
    if (!line_record_present(view.line())) {
        std::printf("condition: unknown (the segment holds no record of a server)\n");
    } else if (view.server_alive()) {
        std::printf(marked ? "condition: shutting down (shutdown marks set)\n" : "condition: running\n");
    } else {
        std::printf("condition: abandoned (its process has ended; remove the segment with ipcrm -m %d)\n",
                    view.id());
    }
}

}  // namespace

int run_status(const CtlOptions& options)
{
    ServerHandle server(options);
    if (server.open() != 0) {
        return EXIT_FAILED;
    }
    qo3964_server_info info{};
    const int32_t identified = qo3964m_svr_info(server.handle(), &info);
    if (identified != 0) {
        complain("status: no identification from the server: %d %s", identified, qo3964_errortext_en(identified));
        return EXIT_FAILED;
    }
    KeyFile key_file{};
    SegmentView view;
    if (attach_own_view(options, false, key_file, view) != 0) {
        return EXIT_FAILED;
    }
    const volatile SharedSegment& segment = *view.segment();
    const JobSnapshot send = look_at(segment.send_job);
    const JobSnapshot receive = look_at(segment.receive_job);
    const int8_t request = segment.shutdown_request;

    print_identification(info);
    std::printf("segment: key file \"%s\", key 0x%08x, shmid %d, attached %d\n", key_file.path,
                static_cast<unsigned>(view.key()), view.id(), view.attach_count());
    print_key_file_advice(key_file);
    print_lockfile(find_process(key_file));
    print_job("send_job", send, options.language);
    print_job("receive_job", receive, options.language);
    print_stop_order(request);
    print_line_state(send.spare_flag);
    print_condition(send.shutdown_mark == SHUTDOWN_MARK || receive.shutdown_mark == SHUTDOWN_MARK, view);
    return EXIT_DONE;
}

}  // namespace qoctl
