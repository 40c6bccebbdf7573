// SPDX-License-Identifier: MIT
// The port's path may lead nowhere another account can change: a link in
// a directory others may write (or that another account owns) is refused
// at the start, naming the path; the server's own link in a sticky
// directory is used.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "second_account.h"
#include "server_harness.h"
#include "test_support.h"

namespace {

using namespace qotest;

constexpr int EXIT_LIMIT_MS = 15000;

struct PortPlace {
    const char* name;
    mode_t dir_mode;
    bool dir_of_other;   // the link's directory belongs to the second account
    bool link_of_other;  // the link itself does
    bool refused;
};

void PrintTo(const PortPlace& place, std::ostream* out)
{
    *out << place.name;
}

class PortPath : public ::testing::TestWithParam<PortPlace> {};

TEST_P(PortPath, LinkAnotherAccountCouldChangeIsRefused)
{
    const PortPlace& place = GetParam();
    const std::optional<SecondAccount> account = second_account();
    if ((place.dir_of_other || place.link_of_other) && !account) {
        GTEST_SKIP() << NO_SECOND_ACCOUNT;
    }
    const TempDir base;
    const std::string dir = base.file("ports");
    const std::string link = dir + "/port";
    ServerHarness server("PORT " + link + "\n");
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    ASSERT_EQ(symlink(server.pty().slave_path().c_str(), link.c_str()), 0);
    ASSERT_EQ(chmod(dir.c_str(), place.dir_mode), 0);
    if (place.link_of_other) {
        ASSERT_EQ(lchown(link.c_str(), account->uid, account->gid), 0);
    }
    if (place.dir_of_other) {
        ASSERT_EQ(chown(dir.c_str(), account->uid, account->gid), 0);
    }

    const bool up = server.start();
    EXPECT_EQ(up, !place.refused) << server.process().out() << server.process().err();
    if (place.refused) {
        EXPECT_EQ(server.process().wait_exit(EXIT_LIMIT_MS), 1);
        EXPECT_NE(server.process().out().find("[11] error on initializing the communication port"), std::string::npos);
        EXPECT_NE(server.process().err().find("Cannot open this device."), std::string::npos);
        EXPECT_NE(server.process().err().find(link), std::string::npos) << server.process().err();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Places, PortPath,
    ::testing::Values(PortPlace{"WorldWritableDirectory", 0777, false, false, true},
                      PortPlace{"OtherAccountsLinkInAStickyDirectory", 01777, false, true, true},
                      PortPlace{"DirectoryOfAnotherAccount", 0755, true, false, true},
                      PortPlace{"OwnLinkInAStickyDirectory", 01777, false, false, false}),
    [](const ::testing::TestParamInfo<PortPlace>& info) { return std::string(info.param.name); });

}  // namespace
