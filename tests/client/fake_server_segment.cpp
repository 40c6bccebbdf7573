#include "fake_server_segment.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/ipc.h>
#include <sys/shm.h>

using namespace qo3964;

namespace qotest {

namespace {

void put_text(volatile char* field, const char* text)
{
    for (size_t i = 0; i <= std::strlen(text); ++i) {
        field[i] = text[i];
    }
}

}  // namespace

FakeServerSegment::FakeServerSegment(const TempDir& dir, const std::string& name)
{
    // Keys are made from inode numbers and may meet a segment of another
    // test; a fresh key file then gives a fresh key.
    for (int attempt = 0; attempt < 50 && id_ < 0; ++attempt) {
        key_file_ = dir.file(name + "_key_" + std::to_string(attempt));
        write_file(key_file_, "key file\n");
        const key_t key = ftok(key_file_.c_str(), SEGMENT_PROJECT_ID);
        if (key == -1) {
            continue;
        }
        id_ = shmget(key, SEGMENT_SIZE, IPC_CREAT | IPC_EXCL | 0666);
        if (id_ < 0 && errno != EEXIST) {
            std::perror("shmget");
            return;
        }
    }
    if (id_ < 0) {
        return;
    }
    void* address = shmat(id_, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        std::perror("shmat");
        shmctl(id_, IPC_RMID, nullptr);
        id_ = -1;
        return;
    }
    segment_ = static_cast<volatile SharedSegment*>(address);
    // What a freshly started server leaves in its segment.
    for (volatile JobBlock* block : {&segment_->send_job, &segment_->receive_job}) {
        block->block_mark = 255;
        block->spare_id = 255;
    }
    put_text(segment_->info.server_version, SERVER_VERSION);
    put_text(segment_->info.server_name, SERVER_NAME);
    put_text(segment_->info.server_date, SERVER_DATE);
    segment_->info.word_bits = 32;
    segment_->info.info_code = SERVER_INFO_CODE;

    rc_file_ = dir.file(name + ".rc");
    write_file(rc_file_, "# made by the test\nSHMNAME " + key_file_ + "\n");
}

FakeServerSegment::~FakeServerSegment()
{
    if (id_ >= 0) {
        shmctl(id_, IPC_RMID, nullptr);
    }
    if (segment_ != nullptr) {
        shmdt(const_cast<SharedSegment*>(segment_));
    }
}

long FakeServerSegment::attach_count() const
{
    shmid_ds status{};
    if (shmctl(id_, IPC_STAT, &status) != 0) {
        return -1;
    }
    return static_cast<long>(status.shm_nattch);
}

void FakeServerSegment::mark_shutdown() const
{
    segment_->send_job.block_mark = SHUTDOWN_MARK;
    segment_->send_job.shutdown_mark = SHUTDOWN_MARK;
    segment_->receive_job.spare_mark = SHUTDOWN_MARK;
    segment_->receive_job.shutdown_mark = SHUTDOWN_MARK;
}

Bytes FakeServerSegment::snapshot() const
{
    const volatile uint8_t* bytes = reinterpret_cast<const volatile uint8_t*>(segment_);
    Bytes copy(SEGMENT_SIZE);
    for (size_t i = 0; i < copy.size(); ++i) {
        copy[i] = bytes[i];
    }
    return copy;
}

}  // namespace qotest
