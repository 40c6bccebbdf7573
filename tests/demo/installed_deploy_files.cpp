// SPDX-License-Identifier: MIT
#include "installed_deploy_files.h"

#include <sstream>
#include <unistd.h>

namespace qodemo {

namespace {

constexpr int INSTALL_LIMIT_MS = 60000;

}  // namespace

InstalledDeployFiles::InstalledDeployFiles() : prefix_(dir_.file("prefix"))
{
    qotest::Process install({QO3964_CMAKE, "-DCMAKE_INSTALL_PREFIX=" + prefix_, "-P", QO3964_DEPLOY_INSTALL_SCRIPT});
    installed_ = install.wait_exit(INSTALL_LIMIT_MS) == 0;
    log_ = install.out() + install.err();
    // The unit and the check name prefix/bin: let that be the built programs.
    std::string programs = qotest::program_path("");
    programs.pop_back();
    installed_ = installed_ && symlink(programs.c_str(), (prefix_ + "/bin").c_str()) == 0;
}

std::string unit_setting(const std::string& text, const std::string& key)
{
    std::istringstream lines(text);
    std::string line;
    std::string found;
    while (std::getline(lines, line)) {
        if (line.rfind(key + "=", 0) == 0) {
            found += line.substr(key.size() + 1) + "\n";
        }
    }
    return found;
}

}  // namespace qodemo
