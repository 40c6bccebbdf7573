// SPDX-License-Identifier: MIT
// A shared segment that a test creates itself, where a server would: under
// the ftok key of a fresh key file, with an rc-file that names that file.
// No server runs; the test plays the server's part on the segment.
#pragma once

#include <memory>
#include <string>

#include "shared_segment.h"
#include "test_segment.h"
#include "test_support.h"

using namespace qo3964;

namespace qotest {

class FakeServerSegment {
public:
    // Creates the key file, the segment (initialised as a fresh server
    // leaves it) and an rc-file "SHMNAME <key file>" in `dir`.
    explicit FakeServerSegment(const TempDir& dir, const std::string& name = "server");
    ~FakeServerSegment();  // removes the segment and detaches it
    FakeServerSegment(const FakeServerSegment&) = delete;
    FakeServerSegment& operator=(const FakeServerSegment&) = delete;

    bool ok() const { return attachment_->attached(); }
    volatile SharedSegment& segment() const { return attachment_->segment(); }
    volatile JobBlock& send_job() const { return segment().send_job; }
    volatile JobBlock& receive_job() const { return segment().receive_job; }
    const std::string& key_file() const { return key_file_; }
    const std::string& rc_file() const { return rc_file_; }
    int id() const { return attachment_->id(); }
    // Number of attachments, the test's own included.
    long attach_count() const { return attachment_->attach_count(); }
    // Stores 156 into the four mark bytes, in the server's order.
    void mark_shutdown() const;
    // A copy of the whole segment, to show that a call left it untouched.
    Bytes snapshot() const;

private:
    std::unique_ptr<SegmentAttachment> attachment_;
    std::string key_file_;
    std::string rc_file_;
};

}  // namespace qotest
