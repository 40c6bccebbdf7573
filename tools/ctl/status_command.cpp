// status: the server's identification through the library, and the live
// state of the job blocks and of the stop order, read from the segment.
#include <array>
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "ctl_report.h"
#include "qo3964_client.h"
#include "server_handle.h"
#include "server_lockfile.h"
#include "server_segment.h"

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

// Texts of the identification are NUL-terminated in their fields, unless
// something other than the server wrote them.
int field_length(const char* field, size_t size)
{
    return static_cast<int>(strnlen(field, size));
}

void print_identification(const qo3964_server_info& info)
{
    std::printf("identification: %.*s %.*s %.*s, word_bits %u, info_code %u\n",
                field_length(info.server_name, sizeof info.server_name), info.server_name,
                field_length(info.server_version, sizeof info.server_version), info.server_version,
                field_length(info.server_date, sizeof info.server_date), info.server_date, info.word_bits,
                info.info_code);
}

void print_lockfile(const KeyFile& key_file)
{
    const LockfileName lockfile = lockfile_name(key_file);
    const pid_t pid = lockfile_pid(lockfile);
    if (pid == 0) {
        std::printf("lockfile: %s, missing or without a process ID\n", lockfile.path);
        return;
    }
    std::printf("lockfile: %s, process %d %s\n", lockfile.path, static_cast<int>(pid),
                process_running(pid) ? "running" : "not running");
}

void print_stop_order(int8_t request, bool marked)
{
    std::printf("shutdown_request: %d (%s)\n", request,
                request > 0    ? "stop ordered"
                : request == 0 ? "none"
                               : "not positive: ignored by the server");
    std::printf("condition: %s\n", marked ? "shutting down (shutdown marks set)" : "running");
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
    print_lockfile(key_file);
    print_job("send_job", send, options.language);
    print_job("receive_job", receive, options.language);
    print_stop_order(request, send.shutdown_mark == SHUTDOWN_MARK || receive.shutdown_mark == SHUTDOWN_MARK);
    return EXIT_DONE;
}

}  // namespace qoctl
