// SPDX-License-Identifier: MIT
// The server's segment, reached by the tool itself for what the library has
// no call for: the raw job blocks and the stop order. The key file is found
// by the rc-file reader that the library uses, and the segment judged by
// the library's own checks, so the tool finds exactly the segment that
// qo3964m_open_shm finds.
#pragma once

#include <cstdint>
#include <sys/types.h>

#include "client_rc_file.h"
#include "shared_segment.h"

using namespace qo3964;

namespace qoctl {

struct KeyFile {
    char path[SHM_NAMEFILE_SIZE];
    bool is_port = false;  // no SHMNAME: the key file is the PORT device
    // SERVERUSER of the rc-file (empty: none) and its user ID.
    char server_user[SERVER_USER_SIZE];
    long server_uid = -1;
    // The port its server must serve (line_port; empty: not compared).
    char port[DEVICE_NAME_SIZE];
};

// The key file named by the rc-file: SHMNAME, else PORT, else the default
// device. Returns 0, or -51 / -52 as qo3964m_open_shm would.
int32_t find_key_file(const char* rc_path, KeyFile& key_file);

// The server's lockfile for the key file.
struct LockfileName {
    // "/tmp/qo_", the key file path and "_A".
    char path[sizeof "/tmp/qo_" + sizeof KeyFile::path + sizeof "_A"];
};
LockfileName lockfile_name(const KeyFile& key_file);

// The process ID in the server's lockfile: 0 when there is none, or when
// the file is not one the server would have written (with SERVERUSER, it
// must belong to that account).
pid_t lockfile_pid(const KeyFile& key_file);
// True while a server holds that lockfile's lock.
bool lockfile_held_by_server(const KeyFile& key_file);

// True when a segment of the server's size lies under the key of `key_file`.
bool segment_present(const KeyFile& key_file);

// The segment as attached by the tool; detached when the view goes.
class SegmentView {
public:
    SegmentView() = default;
    ~SegmentView();
    SegmentView(const SegmentView&) = delete;
    SegmentView& operator=(const SegmentView&) = delete;

    // Attaches the segment of `key_file`, read-only or for writing.
    // Returns 0, or -53 (no segment under the key, no permission, with
    // SERVERUSER a segment of another account, or the segment of another
    // line under the same key).
    int32_t attach(const KeyFile& key_file, bool writable);

    volatile SharedSegment* segment() const { return segment_; }
    key_t key() const { return key_; }
    int id() const { return id_; }

    // True once the key no longer leads to this segment (the server has
    // removed it; a newer one under the same key does not count).
    bool removed() const;
    // Processes attached to the segment (this one included), or -1.
    int32_t attach_count() const;
    // Whether the server that made the segment still runs: its process,
    // told apart from a later one with the same ID by its start time.
    bool server_alive() const;
    // What the segment says about its line and server.
    LineRecord line() const;

private:
    volatile SharedSegment* segment_ = nullptr;
    key_t key_ = -1;
    int id_ = -1;
    pid_t creator_ = 0;
};

}  // namespace qoctl
