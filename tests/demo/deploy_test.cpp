// The deployment files: the example rc-file is what a server accepts, the
// systemd unit names the installed programs, and the check the unit runs
// before each start removes a segment only when its server has gone.
#include <csignal>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/shm.h>
#include <sys/stat.h>

#include "find_on_path.h"
#include "installed_deploy_files.h"
#include "server_harness.h"

namespace {

using qodemo::InstalledDeployFiles;
using qodemo::unit_setting;

constexpr int START_LIMIT_MS = 20000;
constexpr int CHECK_LIMIT_MS = 30000;
constexpr size_t SEGMENT_BYTES = 9444;

// The example without its PORT line: the harness names the test's pty.
std::string example_without_port(const std::string& example)
{
    std::istringstream lines(example);
    std::string line;
    std::string kept;
    while (std::getline(lines, line)) {
        if (line.rfind("PORT", 0) != 0) {
            kept += line + "\n";
        }
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
    // Every key is there with its default; those without one only as a comment.
    for (const char* key : {"PORT", "BAUD", "PARITY", "FLOW", "BCC_MODE", "ZVZ", "QVZ", "TDS", "TDR", "MMODE", "DEBUG",
                            "IODEBUG", "CLIENTDEBUG"}) {
        EXPECT_NE(example.find(std::string("\n") + key + " "), std::string::npos) << key;
    }
    for (const char* key : {"SHMNAME", "MAXTRANS", "MAILTO"}) {
        EXPECT_NE(example.find(std::string("\n#") + key + " "), std::string::npos) << key;
    }

    qotest::ServerHarness server(example_without_port(example));
    ASSERT_TRUE(server.start(START_LIMIT_MS)) << server.process().out();
    EXPECT_EQ(server.process().out().find("ERROR"), std::string::npos) << server.process().out();
    EXPECT_EQ(server.stop(), 1);
}

TEST_F(Deployment, UnitRunsTheInstalledProgramsOnTheInstanceRcFile)
{
    const std::string unit = qotest::read_file(files_.unit());
    const std::string bin = files_.prefix() + "/bin/";
    EXPECT_EQ(unit_setting(unit, "ExecStart"), bin + "qo3964_server /etc/qo3964/%i.rc\n");
    EXPECT_EQ(unit_setting(unit, "ExecStop"), "-" + bin + "qo3964_ctl --rc /etc/qo3964/%i.rc stop\n");
    EXPECT_EQ(unit_setting(unit, "ExecStartPre"), files_.stale_check() + " /etc/qo3964/%i.rc\n");
    EXPECT_EQ(unit_setting(unit, "SuccessExitStatus"), "1\n");
    EXPECT_EQ(unit_setting(unit, "Restart"), "on-failure\n");
    EXPECT_EQ(unit_setting(unit, "KillSignal"), "SIGINT\n");
    EXPECT_EQ(unit_setting(unit, "PrivateTmp"), "");
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
    qotest::Process verify({analyze, "verify", instance});
    EXPECT_EQ(verify.wait_exit(CHECK_LIMIT_MS), 0) << verify.out() << verify.err();
    EXPECT_EQ(verify.out() + verify.err(), "");
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
// gone by the segment's ended creator.
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

// The lockfile names an ended process, but the segment under the key was
// made by a process that still runs (here the test): not the server's.
TEST_F(Deployment, StaleCheckLeavesASegmentWhoseCreatorStillRuns)
{
    qotest::ServerHarness place;
    const key_t key = ftok(place.shm_file().c_str(), 65);
    ASSERT_NE(key, -1);
    const int id = shmget(key, SEGMENT_BYTES, IPC_CREAT | IPC_EXCL | 0666);
    ASSERT_GE(id, 0);
    qotest::Process ended({"/bin/true"});
    const pid_t ended_pid = ended.pid();
    ASSERT_EQ(ended.wait_exit(CHECK_LIMIT_MS), 0);
    qotest::write_file(place.lockfile(), std::to_string(ended_pid) + "\n");

    EXPECT_EQ(run_check(place.rc_file()), 0) << check_output_;
    EXPECT_NE(check_output_.find("left alone"), std::string::npos) << check_output_;
    EXPECT_GE(shmget(key, 0, 0), 0);
    shmctl(id, IPC_RMID, nullptr);
}

}  // namespace
