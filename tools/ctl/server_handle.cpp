// SPDX-License-Identifier: MIT
#include "server_handle.h"

#include <cerrno>
#include <cstring>

#include "ctl_report.h"
#include "qo3964_client.h"

using namespace qo3964;

namespace qoctl {

ServerHandle::~ServerHandle()
{
    if (open_) {
        qo3964m_close_shm(options_.handle);
    }
}

int32_t ServerHandle::open()
{
    const int32_t result = qo3964m_open_shm(options_.handle, options_.rc_path);
    if (result != 0) {
        report_open_failure(result, options_);
        return result;
    }
    open_ = true;
    return 0;
}

int attach_own_view(const CtlOptions& options, bool writable, KeyFile& key_file, SegmentView& view)
{
    const int32_t found = find_key_file(options.rc_path, key_file);
    if (found != 0) {
        report_open_failure(found, options);
        return EXIT_FAILED;
    }
    errno = 0;
    if (view.attach(key_file, writable) != 0) {
        complain("%s: cannot attach the segment of \"%s\" for %s: %s", options.command_name, key_file.path,
                 writable ? "writing" : "reading", errno != 0 ? std::strerror(errno) : "refused");
        return EXIT_FAILED;
    }
    return 0;
}

}  // namespace qoctl
