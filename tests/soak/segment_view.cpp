#include "segment_view.h"

#include <sys/ipc.h>
#include <sys/shm.h>

using namespace qo3964;

namespace qosoak {

SegmentView::SegmentView(const std::string& key_file, bool writable)
{
    const key_t key = ftok(key_file.c_str(), SEGMENT_PROJECT_ID);
    if (key == -1) {
        return;
    }
    const int id = shmget(key, SEGMENT_SIZE, 0);
    if (id < 0) {
        return;
    }
    void* address = shmat(id, nullptr, writable ? 0 : SHM_RDONLY);
    if (address == reinterpret_cast<void*>(-1)) {
        return;
    }
    segment_ = static_cast<volatile SharedSegment*>(address);
}

SegmentView::~SegmentView()
{
    if (segment_ != nullptr) {
        shmdt(const_cast<SharedSegment*>(segment_));
    }
}

std::optional<WaitingEntry> SegmentView::waiting_entry() const
{
    const volatile JobBlock& job = segment_->receive_job;
    // `state` first: the server writes it after `length` and `result` and
    // lowers `server_busy` after it.
    if (job.state != JOB_DONE || job.server_busy != 0) {
        return std::nullopt;
    }
    return WaitingEntry{job.length, job.result};
}

}  // namespace qosoak
