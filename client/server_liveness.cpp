// SPDX-License-Identifier: MIT
#include "server_liveness.h"

#include <cerrno>
#include <csignal>
#include <sys/ipc.h>
#include <sys/shm.h>

#include "segment_access.h"

namespace qo3964::client {

namespace {

bool segment_orphaned(int segment_id)
{
    shmid_ds status{};
    if (shmctl(segment_id, IPC_STAT, &status) != 0) {
        // No permission to look tells nothing; a removed segment does.
        return errno == EIDRM || errno == EINVAL;
    }
    if ((status.shm_perm.mode & SHM_DEST) != 0) {
        return true;
    }
    // The creator is the server. 0: it lives in another PID namespace, so
    // nothing can be told. kill() refused for want of permission (EPERM)
    // still means that the process exists.
    const pid_t creator = status.shm_cpid;
    return creator > 0 && kill(creator, 0) != 0 && errno == ESRCH;
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
    connection.server_gone = segment_orphaned(connection.segment_id);
    return connection.server_gone;
}

}  // namespace qo3964::client
