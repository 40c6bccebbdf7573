// SPDX-License-Identifier: MIT
#include "segment_access_check.h"

#include <cerrno>
#include <cstdio>
#include <sys/ipc.h>
#include <sys/shm.h>

#include "line_record.h"
#include "result_codes.h"

namespace qo3964 {

void report_segment_error(const char* what, const char* key_file)
{
    const int error = errno;
    std::perror(what);
    if (error == EACCES) {
        std::fprintf(stderr,
                     "QO7-Client: the segment of %s is not open to this account (the server's ACCESS and "
                     "GROUP settings)\n",
                     key_file);
    }
}

int32_t check_segment_owner(int id, const char* key_file, const char* server_user, long server_uid)
{
    if (server_user[0] == '\0') {
        return 0;
    }
    shmid_ds info{};
    if (shmctl(id, IPC_STAT, &info) != 0) {
        report_segment_error("QO7-Client owner", key_file);
        return RC_NO_SEGMENT;
    }
    // Another account may create a segment under the server's key before
    // the server starts and so catch what is sent.
    if (static_cast<long>(info.shm_perm.cuid) != server_uid || static_cast<long>(info.shm_perm.uid) != server_uid) {
        std::fprintf(stderr,
                     "QO7-Client owner: the segment of %s was made by user ID %lu, not by the server's account "
                     "%s (SERVERUSER): refused\n",
                     key_file, static_cast<unsigned long>(info.shm_perm.cuid), server_user);
        return RC_NO_SEGMENT;
    }
    return 0;
}

int32_t check_segment_line(const volatile ServerInfoBlock& info, const char* key_file, const char* port)
{
    const LineRecord record = read_line_record(info.line);
    if (!line_record_present(record)) {
        return 0;
    }
    char why[512];
    compare_line_record(record, key_file, port, why, sizeof why);
    if (why[0] == '\0') {
        return 0;
    }
    std::fprintf(stderr,
                 "QO7-Client line: the segment under the key of %s belongs to another line: %s; give one of the "
                 "lines another SHMNAME\n",
                 key_file, why);
    return RC_NO_SEGMENT;
}

}  // namespace qo3964
