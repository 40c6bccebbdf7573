// SPDX-License-Identifier: MIT
#include "test_segment.h"

#include <cerrno>
#include <sys/ipc.h>
#include <sys/shm.h>

namespace qotest {

key_t segment_key(const std::string& key_file)
{
    return ftok(key_file.c_str(), qo3964::SEGMENT_PROJECT_ID);
}

namespace {

// The ID of the segment under the key of `key_file` that has at least `size` bytes; -1 when none.
int segment_id(const std::string& key_file, size_t size = 0)
{
    const key_t key = segment_key(key_file);
    return key == -1 ? -1 : shmget(key, size, 0);
}

}  // namespace

bool segment_exists_with_key(key_t key)
{
    return shmget(key, 0, 0) >= 0 || errno != ENOENT;
}

bool segment_exists(const std::string& key_file)
{
    const key_t key = segment_key(key_file);
    return key != -1 && segment_exists_with_key(key);
}

bool remove_segment(const std::string& key_file)
{
    const int id = segment_id(key_file);
    return id >= 0 && shmctl(id, IPC_RMID, nullptr) == 0;
}

int create_segment(const std::string& key_file, size_t size, int mode)
{
    const key_t key = segment_key(key_file);
    return key == -1 ? -1 : shmget(key, size, IPC_CREAT | IPC_EXCL | mode);
}

SegmentAttachment::SegmentAttachment(const std::string& key_file, bool writable)
    : SegmentAttachment(segment_id(key_file, qo3964::SEGMENT_SIZE), writable)
{
}

SegmentAttachment::SegmentAttachment(int id, bool writable) : id_(id)
{
    void* address = id < 0 ? nullptr : shmat(id, nullptr, writable ? 0 : SHM_RDONLY);
    if (address != nullptr && address != reinterpret_cast<void*>(-1)) {
        segment_ = static_cast<volatile qo3964::SharedSegment*>(address);
    }
}

SegmentAttachment::~SegmentAttachment()
{
    if (segment_ != nullptr) {
        shmdt(const_cast<qo3964::SharedSegment*>(segment_));
    }
}

long SegmentAttachment::attach_count() const
{
    shmid_ds status{};
    return shmctl(id_, IPC_STAT, &status) == 0 ? static_cast<long>(status.shm_nattch) : -1;
}

}  // namespace qotest
