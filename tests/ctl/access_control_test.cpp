// SPDX-License-Identifier: MIT
// Access control with a second, unprivileged account: ACCESS and GROUP
// close the segment to accounts outside the group (no send, no receive, no
// stop order), and SERVERUSER makes the library and qo3964_ctl refuse a
// segment that another account made under the server's key.
#include <gtest/gtest.h>

#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ctl_fixture.h"
#include "second_account.h"

namespace {

using namespace ctltest;
using qotest::Process;

constexpr int CTL_LIMIT_MS = 30000;

// qo3964_ctl with `args` run as the account; the test's directory must be
// open to it.
CtlRun run_as(const qotest::SecondAccount& account, const std::vector<std::string>& args)
{
    std::vector<std::string> argv{qotest::program_path("qo3964_ctl")};
    argv.insert(argv.end(), args.begin(), args.end());
    Process ctl(account.command(argv));
    CtlRun run;
    run.status = ctl.wait_exit(CTL_LIMIT_MS);
    run.out = ctl.out();
    run.err = ctl.err();
    return run;
}

TEST(CtlAccess, SegmentOfAGroupIsClosedToOtherAccounts)
{
    const std::optional<qotest::SecondAccount> account = qotest::second_account();
    if (!account) {
        GTEST_SKIP() << qotest::NO_SECOND_ACCOUNT;
    }
    PartnerServer link({"--echo"}, std::string(SERVER_TIMES) + "ACCESS 0660\nGROUP root\n");
    ASSERT_TRUE(link.start()) << link.server().process().out();
    ASSERT_EQ(chmod(link.server().dir().path().c_str(), 0755), 0);

    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"send", "01", "02"}, {"receive", "--timeout", "1"}, {"stop", "--timeout", "1"}}) {
        SCOPED_TRACE(command.front());
        const CtlRun run = run_as(*account, link.ctl(command));
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("QO7-Client get: Permission denied\n"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("is not open to this account"), std::string::npos) << run.err;
    }
    EXPECT_TRUE(link.server().process().running());
    EXPECT_EQ(link.partner().out().find(" RX "), std::string::npos) << link.partner().out();
    // The server's own account is served as before.
    EXPECT_EQ(run_ctl(link.ctl({"send", "01", "02"})).status, 0);
}

TEST(CtlAccess, SegmentIsOpenToTheAccountsOfItsGroup)
{
    const std::optional<qotest::SecondAccount> account = qotest::second_account();
    if (!account) {
        GTEST_SKIP() << qotest::NO_SECOND_ACCOUNT;
    }
    PartnerServer link({"--echo"}, std::string(SERVER_TIMES) + "ACCESS 0660\nGROUP " + account->name + "\n");
    ASSERT_TRUE(link.start()) << link.server().process().out();
    ASSERT_EQ(chmod(link.server().dir().path().c_str(), 0755), 0);
    const CtlRun run = run_as(*account, link.ctl({"send", "01", "02"}));
    EXPECT_EQ(run.status, 0) << run.err;
    struct stat lockfile {};
    ASSERT_EQ(stat(link.server().lockfile().c_str(), &lockfile), 0);
    EXPECT_EQ(lockfile.st_mode & 0777, 0640u);
    EXPECT_EQ(lockfile.st_gid, account->gid);
}

// Before the server starts, another account makes a segment of the
// server's size under its key: the server does not start, and with
// SERVERUSER the server's applications do not hand their telegrams to it.
TEST(CtlAccess, SegmentMadeByAnotherAccountIsRefusedWithServerUser)
{
    const std::optional<qotest::SecondAccount> account = qotest::second_account();
    if (!account) {
        GTEST_SKIP() << qotest::NO_SECOND_ACCOUNT;
    }
    qotest::ServerHarness server("SERVERUSER root\n");
    const key_t key = qotest::segment_key(server.shm_file());
    const pid_t impostor = fork();
    if (impostor == 0) {
        const bool made = setgid(account->gid) == 0 && setuid(account->uid) == 0 &&
                          shmget(key, SEGMENT_SIZE, IPC_CREAT | IPC_EXCL | 0666) >= 0;
        _exit(made ? 0 : 1);
    }
    int status = -1;
    waitpid(impostor, &status, 0);
    ASSERT_EQ(status, 0);

    EXPECT_FALSE(server.start(5000));
    EXPECT_EQ(server.process().wait_exit(15000), 1);
    EXPECT_NE(server.process().out().find("[7a] shared memory already or still exists"), std::string::npos);
    EXPECT_NE(server.process().err().find("of user ID " + std::to_string(account->uid) + "\n"), std::string::npos)
        << server.process().err();
    EXPECT_NE(server.process().err().find("it belongs to another account"), std::string::npos);

    const CtlRun run = run_ctl({"--rc", server.rc_file(), "send", "01"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("QO7-Client owner: the segment of " + server.shm_file() + " was made by user ID " +
                           std::to_string(account->uid) + ", not by the server's account root (SERVERUSER): refused\n"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find(": -53 "), std::string::npos) << run.err;
}

}  // namespace
