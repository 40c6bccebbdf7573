// The server's lockfile, which names its process: "/tmp/qo_" + the SHMNAME
// path with '/', '.' and blanks replaced by '_' + "_A".
#pragma once

#include <cstdint>
#include <sys/types.h>

#include "server_segment.h"

using namespace qo3964;

namespace qoctl {

struct LockfileName {
    // "/tmp/qo_", the key file path and "_A".
    char path[sizeof "/tmp/qo_" + sizeof KeyFile::path + sizeof "_A"];
};

LockfileName lockfile_name(const KeyFile& key_file);

// The process ID the lockfile names; 0 when the file is missing or holds
// no positive number.
pid_t lockfile_pid(const LockfileName& lockfile);

// True while the process exists and has not ended (a zombie, ended but not
// yet collected by its parent, counts as ended).
bool process_running(pid_t pid);

}  // namespace qoctl
