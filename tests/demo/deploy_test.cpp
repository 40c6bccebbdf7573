// SPDX-License-Identifier: MIT
// The deployment files: the example rc-file is what a server accepts, the
// systemd unit names the installed programs, and the check the unit runs
// before each start removes a segment only when its server has gone.
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/shm.h>
#include <sys/stat.h>
#include <unistd.h>

#include "find_on_path.h"
#include "installed_deploy_files.h"
#include "second_account.h"
#include "server_harness.h"
#include "test_segment.h"

namespace {

using qodemo::InstalledDeployFiles;
using qodemo::unit_setting;

constexpr int START_LIMIT_MS = 20000;
constexpr int CHECK_LIMIT_MS = 30000;

// The example without its PORT and SHMNAME lines (the harness names the
// test's pty and key file), with `account` for the service's account.
std::string example_for_the_test(const std::string& example, const std::string& account)
{
    std::istringstream lines(example);
    std::string line;
    std::string kept;
    while (std::getline(lines, line)) {
        if (line.rfind("PORT", 0) == 0 || line.rfind("SHMNAME", 0) == 0) {
            continue;
        }
        if (line.rfind("GROUP", 0) == 0 || line.rfind("SERVERUSER", 0) == 0) {
            line = line.substr(0, line.find(' ')) + " " + account;
        }
        kept += line + "\n";
    }
    return kept;
}

class Deployment : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(files_.installed()) << files_.install_log(); }

    // Runs the stale-segment check on `rc_file`; its exit status.
    int run_check(const std::string& rc_file)
    {
        qotest::Process check({files_.stale_check(), rc_file});
        const int status = check.wait_exit(CHECK_LIMIT_MS);
        check_output_ = check.out() + check.err();
        return status;
    }

    // Starts the server and kills it without its orderly stop.
    static void start_and_kill(qotest::ServerHarness& server)
    {
        ASSERT_TRUE(server.start(START_LIMIT_MS)) << server.process().out();
        server.process().signal(SIGKILL);
        ASSERT_EQ(server.process().wait_exit(START_LIMIT_MS), 128 + SIGKILL);
    }

    InstalledDeployFiles files_;
    std::string check_output_;
};

TEST_F(Deployment, ExampleRcFileIsAcceptedWholeByTheServer)
{
    const std::string example = qotest::read_file(files_.example_rc());
    // Every key is there with its default or the service's value; those
    // without effect only as a comment.
    for (const char* key : {"PORT", "SHMNAME", "BAUD", "PARITY", "FLOW", "BCC_MODE", "ZVZ", "QVZ", "TDS", "TDR",
                            "MMODE", "DEBUG", "IODEBUG", "CLIENTDEBUG", "ACCESS", "GROUP", "SERVERUSER"}) {
        EXPECT_NE(example.find(std::string("\n") + key + " "), std::string::npos) << key;
    }
    for (const char* key : {"MAXTRANS", "MAILTO"}) {
        EXPECT_NE(example.find(std::string("\n#") + key + " "), std::string::npos) << key;
    }
    // The service's account and group qo3964 exist where the package is
    // installed; here the second account of the tests stands in for them.
    const std::optional<qotest::SecondAccount> account = qotest::second_account();
    if (!account) {
        GTEST_SKIP() << qotest::NO_SECOND_ACCOUNT;
    }
    qotest::ServerHarness server(example_for_the_test(example, account->name));
    ASSERT_TRUE(server.start(START_LIMIT_MS)) << server.process().out();
    EXPECT_EQ(server.process().out().find("ERROR"), std::string::npos) << server.process().out();
    EXPECT_EQ(server.stop(), 1);
}

TEST_F(Deployment, UnitRunsTheInstalledProgramsOnTheInstanceRcFile)
{
    const std::string unit = qotest::read_file(files_.unit());
    const std::string bin = files_.prefix() + "/bin/";
    const std::string rc = files_.sysconf() + "/%i.rc";
    EXPECT_EQ(unit_setting(unit, "ExecStart"), bin + "qo3964_server " + rc + "\n");
    EXPECT_EQ(unit_setting(unit, "ExecStop"), "-" + bin + "qo3964_ctl --rc " + rc + " stop\n");
    EXPECT_EQ(unit_setting(unit, "ExecStartPre"), files_.stale_check() + " " + rc + "\n");
    EXPECT_EQ(unit_setting(unit, "Type"), "notify\n");
    EXPECT_EQ(unit_setting(unit, "User"), "qo3964\n");
    EXPECT_EQ(unit_setting(unit, "SupplementaryGroups"), "dialout\n");
    EXPECT_EQ(unit_setting(unit, "SuccessExitStatus"), "1\n");
    EXPECT_EQ(unit_setting(unit, "Restart"), "on-failure\n");
    // A failed start exits with 1 before READY=1: failed, and not repeated.
    EXPECT_EQ(unit_setting(unit, "RestartPreventExitStatus"), "1\n");
    EXPECT_EQ(unit_setting(unit, "WatchdogSec"), "30s\n");
    EXPECT_EQ(unit_setting(unit, "KillSignal"), "SIGINT\n");
    // The lockfile in /tmp is shared with qo3964_ctl; the rc-file is written.
    EXPECT_EQ(unit_setting(unit, "PrivateTmp"), "no\n");
    EXPECT_EQ(unit_setting(unit, "ReadWritePaths"), files_.sysconf() + " /tmp\n");
    struct stat check {};
    ASSERT_EQ(stat(files_.stale_check().c_str(), &check), 0);
    EXPECT_NE(check.st_mode & S_IXUSR, 0u);

    const std::string analyze = qotest::find_on_path("systemd-analyze");
    if (analyze.empty()) {
        GTEST_SKIP() << "systemd-analyze is not installed";
    }
    // An instance of the template, as systemctl would load it.
    const std::string instance = files_.prefix() + "/lib/systemd/system/qo3964_server@line1.service";
    qotest::write_file(instance, unit);
    // The manual pages it names are not installed here.
    qotest::Process verify({analyze, "verify", "--man=no", instance});
    EXPECT_EQ(verify.wait_exit(CHECK_LIMIT_MS), 0) << verify.out() << verify.err();
    EXPECT_EQ(verify.out() + verify.err(), "");
    // The sandbox: "MEDIUM" or better (at most 5.0).
    qotest::Process security({analyze, "security", "--offline=true", instance});
    security.wait_exit(CHECK_LIMIT_MS);
    const std::string report = security.out() + security.err();
    const size_t at = report.find("Overall exposure level for qo3964_server@line1.service: ");
    ASSERT_NE(at, std::string::npos) << report;
    const double exposure = std::stod(report.substr(at + std::strlen("Overall exposure level for qo3964_server@line1.service: ")));
    EXPECT_LE(exposure, 5.0) << report;
}

// The generator makes the device of an enabled instance's port want the
// instance and orders the instance after it; other rc-files are left out.
TEST_F(Deployment, GeneratorStartsAnEnabledInstanceWithItsPort)
{
    if (qotest::find_on_path("systemd-escape").empty()) {
        GTEST_SKIP() << "systemd-escape is not installed";
    }
    qotest::TempDir dir;
    const std::string enabled = dir.file("enabled");
    const std::string out = dir.file("out");
    ASSERT_EQ(mkdir(enabled.c_str(), 0755), 0);
    qotest::write_file(dir.file("line1.rc"), "# a line\nPORT /dev/ttyS7\nPORT,/dev/serial/by-id/usb-x-if00 # last wins\n");
    qotest::write_file(dir.file("spare.rc"), "PORT /dev/ttyS9\n");
    qotest::write_file(enabled + "/qo3964_server@line1.service", "");
    qotest::Process generator({"/usr/bin/env", "QO3964_CONFIG_DIR=" + dir.path(), "QO3964_ENABLED_DIR=" + enabled,
                               files_.generator(), out, out, out});
    ASSERT_EQ(generator.wait_exit(CHECK_LIMIT_MS), 0) << generator.err();
    const std::string device = "dev-serial-by\\x2did-usb\\x2dx\\x2dif00.device";
    char target[512] = {};
    ASSERT_GT(readlink((out + "/" + device + ".wants/qo3964_server@line1.service").c_str(), target, sizeof target - 1),
              0);
    EXPECT_EQ(std::string(target), files_.prefix() + "/lib/systemd/system/qo3964_server@.service");
    EXPECT_EQ(qotest::read_file(out + "/qo3964_server@line1.service.d/port.conf"), "[Unit]\nAfter=" + device + "\n");
    EXPECT_FALSE(qotest::file_exists(out + "/dev-ttyS9.device.wants"));
}

TEST_F(Deployment, StaleCheckLeavesTheSegmentOfARunningServer)
{
    qotest::ServerHarness server;
    ASSERT_TRUE(server.start(START_LIMIT_MS)) << server.process().out();

    EXPECT_EQ(run_check(server.rc_file()), 0) << check_output_;
    EXPECT_EQ(check_output_, "");
    EXPECT_TRUE(qotest::segment_exists(server.shm_file()));
    EXPECT_TRUE(server.process().running());
    EXPECT_EQ(server.stop(), 1);
}

TEST_F(Deployment, StaleCheckRemovesTheSegmentOfAKilledServerSoThatItStartsAgain)
{
    // Without parity: a pty drops PARENB, and the C library reports that as
    // a failed tcsetattr once the line is no longer in its first mode, as
    // the killed server leaves it.
    qotest::ServerHarness server("PARITY N\n");
    ASSERT_NO_FATAL_FAILURE(start_and_kill(server));
    ASSERT_TRUE(qotest::segment_exists(server.shm_file()));

    EXPECT_EQ(run_check(server.rc_file()), 0) << check_output_;
    EXPECT_NE(check_output_.find("removed the segment"), std::string::npos) << check_output_;
    EXPECT_FALSE(qotest::segment_exists(server.shm_file()));

    ASSERT_TRUE(server.start(START_LIMIT_MS)) << server.process().out() << server.process().err();
    EXPECT_EQ(server.stop(), 1);
}

// A start by hand after the kill stops at the segment ("[7a]") and deletes
// the lockfile on its way out: the segment's server is still recognised as
// gone by the segment's record of it.
TEST_F(Deployment, StaleCheckRemovesTheSegmentAlsoAfterAFailedStartTookTheLockfile)
{
    qotest::ServerHarness server("PARITY N\n");
    ASSERT_NO_FATAL_FAILURE(start_and_kill(server));
    qotest::Process by_hand({qotest::program_path("qo3964_server"), server.rc_file()}, server.dir().path());
    ASSERT_EQ(by_hand.wait_exit(START_LIMIT_MS), 1) << by_hand.out();
    ASSERT_NE(by_hand.out().find("[7a] shared memory already or still exists"), std::string::npos) << by_hand.out();
    ASSERT_FALSE(qotest::file_exists(server.lockfile()));
    ASSERT_TRUE(qotest::segment_exists(server.shm_file()));

    EXPECT_EQ(run_check(server.rc_file()), 0) << check_output_;
    EXPECT_NE(check_output_.find("removed the segment"), std::string::npos) << check_output_;
    EXPECT_FALSE(qotest::segment_exists(server.shm_file()));
}

// The lockfile names an ended process, but the segment under the key holds
// no record of a server (here the test made it): not the server's.
TEST_F(Deployment, StaleCheckLeavesASegmentWithoutARecordOfItsServer)
{
    qotest::ServerHarness place;
    const int id = qotest::create_segment(place.shm_file());
    ASSERT_GE(id, 0);
    qotest::Process ended({"/bin/true"});
    const pid_t ended_pid = ended.pid();
    ASSERT_EQ(ended.wait_exit(CHECK_LIMIT_MS), 0);
    qotest::write_file(place.lockfile(), std::to_string(ended_pid) + "\n");

    EXPECT_EQ(run_check(place.rc_file()), 0) << check_output_;
    EXPECT_NE(check_output_.find("left alone"), std::string::npos) << check_output_;
    EXPECT_TRUE(qotest::segment_exists(place.shm_file()));
    shmctl(id, IPC_RMID, nullptr);
}

}  // namespace
