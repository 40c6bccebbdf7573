// SPDX-License-Identifier: MIT
// A second, unprivileged account for the tests of access control: the
// account "qo3964-test" with a group of its own, made with useradd when
// the tests run as root and it is not there yet. Without root there is
// none, and the tests that need it are skipped, saying so.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace qotest {

struct SecondAccount {
    std::string name;
    uid_t uid;
    gid_t gid;

    // `argv` run as this account (its own group only), through setpriv.
    std::vector<std::string> command(const std::vector<std::string>& argv) const;
};

// The account, or nothing when the tests do not run as root.
std::optional<SecondAccount> second_account();

inline constexpr char NO_SECOND_ACCOUNT[] =
    "needs root to make and use a second account (useradd qo3964-test); not running as root";

}  // namespace qotest
