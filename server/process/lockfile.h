// The advisory lockfile that keeps a second server off the same segment.
#pragma once

#include <cstddef>

namespace qo3964 {

// "/tmp/qo_" + shm_name with '/', '.' and blanks replaced by '_' + "_A".
void lockfile_path_for(const char* shm_name, char* target, size_t size);

// A positive process ID when the lockfile names a live process; 0 when the
// own ID was written; -1 when the file cannot be created or fully written;
// -2 when an existing file holds fewer than 2 or more than 12 bytes.
// Symbolic links are never followed (the name is predictable in a
// world-writable directory): a link there counts as unusable.
int lockfile_claim(const char* path);

}  // namespace qo3964
