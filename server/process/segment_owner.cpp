// SPDX-License-Identifier: MIT
#include "segment_owner.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <cstddef>
#include <sys/ipc.h>
#include <sys/shm.h>

#include "line_record.h"
#include "link_counters.h"
#include "segment_access.h"
#include "segment_wake.h"

namespace qo3964 {

volatile SharedSegment* server_segment = nullptr;
int server_segment_id = -1;

namespace {

// What fill_server_info wrote, to put back what another program changes.
ServerInfoBlock written_info{};
bool info_written = false;

// The bytes of the identification block that the server writes: the three
// texts, word_bits and info_code, and the record of its line.
struct ByteRange {
    std::size_t first;
    std::size_t end;
};
constexpr std::array<ByteRange, 3> identification_ranges{{
    {offsetof(ServerInfoBlock, server_name), offsetof(ServerInfoBlock, reserved_48)},
    {offsetof(ServerInfoBlock, word_bits), offsetof(ServerInfoBlock, reserved_114)},
    {offsetof(ServerInfoBlock, line), offsetof(ServerInfoBlock, line) + sizeof(LineRecord)},
}};

}  // namespace

int segment_key(const char* shm_name)
{
    return static_cast<int>(ftok(shm_name, SEGMENT_PROJECT_ID));
}

int segment_create(int key, int mode, long group)
{
    // Exclusive: a segment left by a killed server, used by another
    // running one, or made by another account under the key (also in the
    // moment before this call) is never taken over.
    server_segment_id = shmget(key, SEGMENT_SIZE, IPC_CREAT | IPC_EXCL | (mode & 0666));
    if (server_segment_id < 0) {
        return errno == EEXIST ? SEGMENT_EXISTS : SEGMENT_NO_MEMORY;
    }
    if (group >= 0) {
        shmid_ds info{};
        shmctl(server_segment_id, IPC_STAT, &info);
        info.shm_perm.gid = static_cast<gid_t>(group);
        if (shmctl(server_segment_id, IPC_SET, &info) != 0) {
            const int error = errno;
            shmctl(server_segment_id, IPC_RMID, nullptr);
            server_segment_id = -1;
            errno = error;
            return SEGMENT_NO_MEMORY;
        }
    }
    return SEGMENT_CREATED;
}

bool segment_maker(int key, SegmentMaker& maker)
{
    const int id = shmget(key, 0, 0);
    shmid_ds info{};
    if (id < 0 || shmctl(id, IPC_STAT, &info) != 0) {
        return false;
    }
    maker = {id, static_cast<long>(info.shm_perm.cuid), static_cast<long>(info.shm_cpid), LineRecord{}};
    // Its record, where this account may read it.
    void* address = shmat(id, nullptr, SHM_RDONLY);
    if (address != reinterpret_cast<void*>(-1)) {
        if (info.shm_segsz >= sizeof(ServerInfoBlock)) {
            maker.line = read_line_record(static_cast<const volatile ServerInfoBlock*>(address)->line);
        }
        shmdt(address);
    }
    return true;
}

bool segment_attach()
{
    void* address = shmat(server_segment_id, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        return false;
    }
    server_segment = static_cast<volatile SharedSegment*>(address);
    return true;
}

void reset_job_block(volatile JobBlock& block)
{
    block.block_mark = 255;
    block.server_busy = 0;
    block.client_busy = 0;
    block.spare_mark = 0;
    block.shutdown_mark = 0;
    DeadlineTimer armed;
    timer_start(&armed, 0);
    block.job_timer.start_ticks = armed.start_ticks;
    block.job_timer.deadline_ticks = armed.deadline_ticks;
    block.job_timer.duration_ms = armed.duration_ms;
    block.job_timer.remaining_ms = armed.remaining_ms;
    block.claim_serial = 0;
    block.owner_pid = 0;
    block.owner_seq = 0;
    block.claim_holder = 0;
    block.spare_flag = 0;
    block.spare_id = 255;
    for (volatile uint8_t& byte : block.spare_bytes) {
        byte = 0;
    }
    for (volatile uint8_t& byte : block.spare_area) {
        byte = 0;
    }
    block.state = JOB_IDLE;
    block.result = 0;
    block.length = 0;
}

void reset_segment()
{
    server_segment->shutdown_request = 0;
    reset_job_block(server_segment->send_job);
    reset_job_block(server_segment->receive_job);
}

void fill_server_info(const char* key_file, const char* port)
{
    volatile ServerInfoBlock& info = server_segment->info;
    store_text(info.server_version, SERVER_VERSION);
    store_text(info.server_name, SERVER_NAME);
    store_text(info.server_date, SERVER_DATE);
    info.word_bits = static_cast<uint8_t>(WORD_BITS);
    info.info_code = SERVER_INFO_CODE;
    fill_line_record(info.line, key_file, port);
    const volatile uint8_t* written = reinterpret_cast<const volatile uint8_t*>(&info);
    for (std::size_t i = 0; i < sizeof written_info; ++i) {
        reinterpret_cast<uint8_t*>(&written_info)[i] = written[i];
    }
    info_written = true;
}

bool put_back_server_info()
{
    if (!info_written) {
        return false;
    }
    volatile uint8_t* bytes = reinterpret_cast<volatile uint8_t*>(&server_segment->info);
    const uint8_t* own = reinterpret_cast<const uint8_t*>(&written_info);
    bool put_back = false;
    for (const ByteRange range : identification_ranges) {
        // Compared in one go (a pass comes with every byte of a telegram on
        // a slow line); a torn read of a byte that a faulty program writes
        // meanwhile is put right at the next pass.
        if (std::memcmp(const_cast<const uint8_t*>(bytes) + range.first, own + range.first, range.end - range.first) ==
            0) {
            continue;
        }
        for (std::size_t i = range.first; i < range.end; ++i) {
            if (bytes[i] != own[i]) {
                bytes[i] = own[i];
                put_back = true;
            }
        }
    }
    return put_back;
}

void start_counting(int32_t baud, int32_t zvz, int32_t qvz, int16_t tds, int16_t tdr, int16_t mmode,
                    int32_t bcc_mode)
{
    volatile ServerCounters& published = server_segment->info.counters;
    published.baud = baud;
    published.zvz_ms = zvz;
    published.qvz_ms = qvz;
    published.tds = tds;
    published.tdr = tdr;
    published.mmode = mmode;
    published.bcc_mode = static_cast<uint8_t>(bcc_mode);
    count_time(&ServerCounters::started_ms);
    counters_publish_in(published);
    // Last: a reader relies on the rest once it sees the layout.
    store_release(published.layout, COUNTERS_LAYOUT);
}

void write_shutdown_marks()
{
    server_segment->send_job.block_mark = SHUTDOWN_MARK;
    server_segment->send_job.shutdown_mark = SHUTDOWN_MARK;
    server_segment->receive_job.spare_mark = SHUTDOWN_MARK;
    server_segment->receive_job.shutdown_mark = SHUTDOWN_MARK;
    // Applications waiting for a result or a telegram learn of it at once.
    wake_waiters(server_segment->send_job.state);
    wake_waiters(server_segment->receive_job.state);
}

void segment_remove()
{
    shmctl(server_segment_id, IPC_RMID, nullptr);
    if (server_segment != nullptr) {
        shmdt(const_cast<SharedSegment*>(server_segment));
        server_segment = nullptr;
    }
    server_segment_id = -1;
}

}  // namespace qo3964
