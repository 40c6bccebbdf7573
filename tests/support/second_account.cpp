// SPDX-License-Identifier: MIT
#include "second_account.h"

#include <pwd.h>
#include <unistd.h>

#include "test_support.h"

namespace qotest {

namespace {

constexpr char NAME[] = "qo3964-test";
constexpr int USERADD_LIMIT_MS = 30000;

std::optional<SecondAccount> look_up()
{
    const passwd* entry = getpwnam(NAME);
    if (entry == nullptr) {
        return std::nullopt;
    }
    return SecondAccount{NAME, entry->pw_uid, entry->pw_gid};
}

}  // namespace

std::vector<std::string> SecondAccount::command(const std::vector<std::string>& argv) const
{
    std::vector<std::string> full{"/usr/bin/setpriv", "--reuid=" + std::to_string(uid),
                                  "--regid=" + std::to_string(gid), "--clear-groups", "--"};
    full.insert(full.end(), argv.begin(), argv.end());
    return full;
}

std::optional<SecondAccount> second_account()
{
    if (geteuid() != 0) {
        return std::nullopt;
    }
    if (std::optional<SecondAccount> found = look_up()) {
        return found;
    }
    // Tests running in parallel may both add it; one of them wins.
    Process add({"/usr/sbin/useradd", "--system", "--user-group", "--no-create-home", "--home-dir", "/nonexistent",
                 "--shell", "/usr/sbin/nologin", NAME});
    add.wait_exit(USERADD_LIMIT_MS);
    return look_up();
}

}  // namespace qotest
