// SPDX-License-Identifier: MIT
// A server's segment as the tests reach it: under the ftok key of its key
// file (SHMNAME), as the server and its clients find it. Tests look into a
// running server's segment, make one of their own where no server runs,
// and check that none is left behind.
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>

#include "shared_segment.h"

namespace qotest {

key_t segment_key(const std::string& key_file);
// True while a segment exists under `key`, also one this account may not use.
bool segment_exists_with_key(key_t key);
bool segment_exists(const std::string& key_file);
// Removes the segment under the key of `key_file`, as "ipcrm -m" would;
// false when there was none.
bool remove_segment(const std::string& key_file);
// A new segment under the key of `key_file`, where none may be yet: its ID, or -1.
int create_segment(const std::string& key_file, size_t size = qo3964::SEGMENT_SIZE, int mode = 0666);

// The test's own attachment of a segment, detached at the end.
class SegmentAttachment {
public:
    // The segment under the key of `key_file`.
    explicit SegmentAttachment(const std::string& key_file, bool writable = true);
    explicit SegmentAttachment(int id, bool writable = true);
    ~SegmentAttachment();
    SegmentAttachment(const SegmentAttachment&) = delete;
    SegmentAttachment& operator=(const SegmentAttachment&) = delete;

    bool attached() const { return segment_ != nullptr; }
    volatile qo3964::SharedSegment& segment() const { return *segment_; }
    int id() const { return id_; }
    // Processes that have the segment attached, this one included; -1 once it is gone.
    long attach_count() const;

private:
    int id_ = -1;
    volatile qo3964::SharedSegment* segment_ = nullptr;
};

}  // namespace qotest
