// SPDX-License-Identifier: MIT
#include "server_segment.h"

#include <cstring>
#include <sys/ipc.h>
#include <sys/shm.h>

#include "line_record.h"
#include "qo3964_client.h"
#include "segment_access_check.h"
#include "server_lockfile.h"

using namespace qo3964;

namespace qoctl {

int32_t find_key_file(const char* rc_path, KeyFile& key_file)
{
    // Read as qo3964m_open_shm reads it, into the library's debug level.
    ClientRcSettings settings{};
    const int32_t read = read_rcfile(rc_path, settings, debug);
    if (read == -1) {
        return QO3964_ERR_NO_RCFILE;
    }
    if (read == -2) {
        return QO3964_ERR_RCFILE;
    }
    static_assert(sizeof key_file.path == sizeof settings.shm_namefile);
    std::memcpy(key_file.path, settings.shm_namefile, sizeof key_file.path);
    key_file.is_port = std::strcmp(settings.shm_namefile, settings.device_name) == 0;
    static_assert(sizeof key_file.server_user == sizeof settings.server_user);
    std::memcpy(key_file.server_user, settings.server_user, sizeof key_file.server_user);
    key_file.server_uid = settings.server_user[0] != '\0' ? settings.server_uid : -1;
    static_assert(sizeof key_file.port == sizeof settings.device_name);
    if (const char* port = line_port(settings); port != nullptr) {
        std::memcpy(key_file.port, port, sizeof key_file.port);
    } else {
        key_file.port[0] = '\0';
    }
    return 0;
}

LockfileName lockfile_name(const KeyFile& key_file)
{
    LockfileName name{};
    lockfile_path_for(key_file.path, name.path, sizeof name.path);
    return name;
}

pid_t lockfile_pid(const KeyFile& key_file)
{
    return lockfile_owner(lockfile_name(key_file).path, key_file.server_uid);
}

bool lockfile_held_by_server(const KeyFile& key_file)
{
    return lockfile_locked(lockfile_name(key_file).path, key_file.server_uid);
}

namespace {

// The id of the segment under the key, or -1. Mode 0 only looks it up.
int find_segment(key_t key)
{
    return key == -1 ? -1 : shmget(key, static_cast<size_t>(SEGMENT_SIZE), 0);
}

}  // namespace

bool segment_present(const KeyFile& key_file)
{
    return find_segment(ftok(key_file.path, SEGMENT_PROJECT_ID)) >= 0;
}

SegmentView::~SegmentView()
{
    if (segment_ != nullptr) {
        shmdt(const_cast<SharedSegment*>(segment_));
    }
}

int32_t SegmentView::attach(const KeyFile& key_file, bool writable)
{
    key_ = ftok(key_file.path, SEGMENT_PROJECT_ID);
    id_ = find_segment(key_);
    if (id_ < 0) {
        return QO3964_ERR_NO_SHM;
    }
    if (check_segment_owner(id_, key_file.path, key_file.server_user, key_file.server_uid) != 0) {
        return QO3964_ERR_NO_SHM;
    }
    void* address = shmat(id_, nullptr, writable ? 0 : SHM_RDONLY);
    if (address == reinterpret_cast<void*>(-1)) {
        return QO3964_ERR_NO_SHM;
    }
    segment_ = static_cast<volatile SharedSegment*>(address);
    // The creator as this process sees it (0 in another PID namespace).
    shmid_ds info{};
    creator_ = shmctl(id_, IPC_STAT, &info) == 0 ? info.shm_cpid : 0;
    if (check_segment_line(segment_->info, key_file.path, key_file.port[0] != '\0' ? key_file.port : nullptr) != 0) {
        shmdt(address);
        segment_ = nullptr;
        return QO3964_ERR_NO_SHM;
    }
    return 0;
}

bool SegmentView::removed() const
{
    return find_segment(key_) != id_;
}

int32_t SegmentView::attach_count() const
{
    shmid_ds info{};
    if (shmctl(id_, IPC_STAT, &info) != 0) {
        return -1;
    }
    return static_cast<int32_t>(info.shm_nattch);
}

bool SegmentView::server_alive() const
{
    return line_server_alive(line(), creator_);
}

LineRecord SegmentView::line() const
{
    return read_line_record(segment_->info.line);
}

}  // namespace qoctl
