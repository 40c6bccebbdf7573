// SPDX-License-Identifier: MIT
#include "server_liveness.h"

#include <cerrno>
#include <sys/ipc.h>
#include <sys/shm.h>

#include "line_record.h"
#include "segment_access.h"

namespace qo3964::client {

namespace {

bool segment_orphaned(const ClientConnection& connection)
{
    shmid_ds status{};
    if (shmctl(connection.segment_id, IPC_STAT, &status) != 0) {
        // No permission to look tells nothing; a removed segment does.
        return errno == EIDRM || errno == EINVAL;
    }
    if ((status.shm_perm.mode & SHM_DEST) != 0) {
        return true;
    }
    // The creator is the server, as this process sees it; its start time
    // in the segment tells it from a later process with the same ID.
    const LineRecord record = read_line_record(connection.segment->info.line);
    return !line_server_alive(record, status.shm_cpid);
}

}  // namespace

bool server_stopped(const ClientConnection& connection, const volatile JobBlock& job)
{
    return load_acquire(job.shutdown_mark) != 0 || connection.server_gone;
}

bool server_gone(ClientConnection& connection)
{
    if (connection.server_gone) {
        return true;
    }
    const int64_t now = now_ms();
    if (now < connection.next_liveness_ms) {
        return false;
    }
    connection.next_liveness_ms = now + LIVENESS_PERIOD_MS;
    connection.server_gone = segment_orphaned(connection);
    return connection.server_gone;
}

}  // namespace qo3964::client
