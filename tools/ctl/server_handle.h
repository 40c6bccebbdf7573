// SPDX-License-Identifier: MIT
// A library handle attached to the server for the length of one command.
#pragma once

#include <cstdint>

#include "ctl_options.h"
#include "server_segment.h"

using namespace qo3964;

namespace qoctl {

class ServerHandle {
public:
    explicit ServerHandle(const CtlOptions& options) : options_(options) {}
    ~ServerHandle();
    ServerHandle(const ServerHandle&) = delete;
    ServerHandle& operator=(const ServerHandle&) = delete;

    // qo3964m_open_shm with the options' handle and rc-file. Returns 0, or
    // the library's code after a one-line message on standard error.
    int32_t open();
    int32_t handle() const { return options_.handle; }

private:
    const CtlOptions& options_;
    bool open_ = false;
};

// The tool's own attachment of the segment of the server that the rc-file
// names, read-only or for writing, with the key file it was found by.
// Returns 0, or EXIT_FAILED after a one-line message on standard error.
int attach_own_view(const CtlOptions& options, bool writable, KeyFile& key_file, SegmentView& view);

}  // namespace qoctl
