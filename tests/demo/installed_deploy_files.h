// SPDX-License-Identifier: MIT
// The deployment files as `cmake --install` writes them (only the deploy
// directory's rules), into a prefix of the test's own whose bin/ is this
// tree's program folder.
#pragma once

#include <string>

#include "test_support.h"

namespace qodemo {

class InstalledDeployFiles {
public:
    InstalledDeployFiles();

    bool installed() const { return installed_; }
    const std::string& install_log() const { return log_; }
    const std::string& prefix() const { return prefix_; }
    std::string unit() const { return prefix_ + "/lib/systemd/system/qo3964_server@.service"; }
    std::string stale_check() const { return prefix_ + "/libexec/qo3964/clear_stale_segment"; }
    std::string example_rc() const { return sysconf() + "/qo3964.rc.example"; }
    // Where the unit looks for rc-files: prefix/etc/qo3964 (/etc/qo3964 under /usr).
    std::string sysconf() const { return prefix_ + "/etc/qo3964"; }
    std::string generator() const { return prefix_ + "/lib/systemd/system-generators/qo3964_server-generator"; }

private:
    qotest::TempDir dir_;
    std::string prefix_;
    std::string log_;
    bool installed_ = false;
};

// The lines of `text` that start with `key` followed by '='.
std::string unit_setting(const std::string& text, const std::string& key);

}  // namespace qodemo
