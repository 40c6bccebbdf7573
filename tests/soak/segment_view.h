// SPDX-License-Identifier: MIT
// A test's own attachment of a running server's segment, beside the client
// library's: to see what qo3964m_receive is about to hand over (the length
// and status of an entry, which the library's result alone cannot tell
// apart: an empty telegram gives 0 like nothing received, and an entry
// with a negative status gives the status but not its length), and to
// play a client that dies while holding a busy byte.
#pragma once

#include <optional>
#include <string>

#include "shared_segment.h"
#include "test_segment.h"

using namespace qo3964;

namespace qosoak {

// What receive_job holds once the server has finished filling it.
struct WaitingEntry {
    int32_t length = 0;
    int32_t result = 0;
};

class SegmentView : public qotest::SegmentAttachment {
public:
    // Read-only unless `writable`.
    explicit SegmentView(const std::string& key_file, bool writable = false) : SegmentAttachment(key_file, writable) {}

    // The entry the next qo3964m_receive takes, or nothing while the block
    // is idle or the server is still filling it. Once seen, the entry stays
    // until a client takes it: the server fills the block only while it is
    // idle and lowers its busy byte after writing `state`.
    std::optional<WaitingEntry> waiting_entry() const;
};

}  // namespace qosoak
