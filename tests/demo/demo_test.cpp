// SPDX-License-Identifier: MIT
// scripts/demo.sh run against this tree's programs: what it shows, that it
// ends by itself with the right status, and that it leaves nothing behind,
// also when it is interrupted or its server dies under it.
#include <csignal>
#include <gtest/gtest.h>

#include "demo_run.h"

namespace {

using qodemo::count_of;
using qodemo::listed;
using qodemo::DemoRun;
using qodemo::leftovers_of;
using qodemo::parse_report;

constexpr int STEP_LIMIT_MS = 60000;

TEST(DemoScript, ShowsEachStepEndsByItselfAndLeavesNothing)
{
    DemoRun demo;
    const int status = demo.wait_exit();
    const std::string output = demo.output();
    ASSERT_EQ(status, 0) << output;

    for (const char* step : {"==> 1. ", "==> 2. ", "==> 3. ", "==> 4. ", "==> 5. ", "==> 6. ", "==> 7. ",
                             "==> 8. ", "==> Demo finished."}) {
        EXPECT_NE(output.find(step), std::string::npos) << step << "\n" << output;
    }
    EXPECT_NE(output.find("[14] is up and ok"), std::string::npos) << output;
    EXPECT_EQ(count_of(output, "    result 2: "), 2) << output;
    EXPECT_NE(output.find("received 3 bytes: 01 10 02"), std::string::npos) << output;
    EXPECT_NE(output.find("received 7 bytes: 48 65 6C 6C 6F 10 21"), std::string::npos) << output;
    EXPECT_NE(output.find("    result -67: Timeout on sending in serial communication"), std::string::npos) << output;
    EXPECT_EQ(count_of(output, " RX-NAK overflow "), 3) << output;
    EXPECT_NE(output.find("got shutdown-command from pikter"), std::string::npos) << output;
    EXPECT_NE(output.find("++++++ qo3964_server: ENDED ++++++"), std::string::npos) << output;
    EXPECT_NE(output.find("The server ended with exit status 1."), std::string::npos) << output;

    const qodemo::DemoReport report = parse_report(output);
    ASSERT_GT(report.partner_pid, 0) << output;
    ASSERT_GT(report.server_pid, 0) << output;
    ASSERT_FALSE(report.segment_key.empty()) << output;
    ASSERT_FALSE(report.lockfile.empty()) << output;
    // The demo worked in the test's directory, so nothing else is taken for its leftovers.
    ASSERT_EQ(report.work_dir.rfind(demo.place().tmpdir() + "/", 0), 0u) << output;
    EXPECT_EQ(listed(leftovers_of(report, demo.place().tmpdir())), "");
}

TEST(DemoScript, InterruptedRunStopsWhatItStarted)
{
    DemoRun demo;
    ASSERT_TRUE(demo.process().wait_for_output("==> 4. ", STEP_LIMIT_MS)) << demo.output();
    const qodemo::DemoReport report = parse_report(demo.output());
    ASSERT_GT(report.server_pid, 0) << demo.output();

    demo.process().signal(SIGTERM);
    EXPECT_EQ(demo.wait_exit(), 143) << demo.output();
    EXPECT_EQ(listed(leftovers_of(report, demo.place().tmpdir())), "") << demo.output();
}

// Ctrl-C: the demo says it was interrupted, not that it failed.
TEST(DemoScript, CtrlCSaysInterruptedAndExits130)
{
    DemoRun demo;
    ASSERT_TRUE(demo.process().wait_for_output("==> 4. ", STEP_LIMIT_MS)) << demo.output();
    const qodemo::DemoReport report = parse_report(demo.output());

    demo.process().signal(SIGINT);
    EXPECT_EQ(demo.wait_exit(), 130) << demo.output();
    EXPECT_NE(demo.output().find("==> interrupted: the demo stops what it started"), std::string::npos)
        << demo.output();
    EXPECT_EQ(demo.output().find("FAILED"), std::string::npos) << demo.output();
    EXPECT_EQ(listed(leftovers_of(report, demo.place().tmpdir())), "") << demo.output();
}

// A server killed without its orderly stop leaves its segment and lockfile;
// the demo fails and removes both, as they are its server's.
TEST(DemoScript, ServerKilledUnderItFailsTheRunAndLeavesNothing)
{
    DemoRun demo;
    ASSERT_TRUE(demo.process().wait_for_output("The server is up (process ", STEP_LIMIT_MS)) << demo.output();
    ASSERT_TRUE(demo.process().wait_for_output("its lockfile is ", STEP_LIMIT_MS)) << demo.output();
    const qodemo::DemoReport report = parse_report(demo.output());
    ASSERT_GT(report.server_pid, 0) << demo.output();

    ASSERT_EQ(kill(report.server_pid, SIGKILL), 0);
    EXPECT_EQ(demo.wait_exit(), 1) << demo.output();
    EXPECT_NE(demo.output().find("==> FAILED: "), std::string::npos) << demo.output();
    EXPECT_EQ(demo.output().find("Demo finished."), std::string::npos) << demo.output();
    EXPECT_EQ(listed(leftovers_of(report, demo.place().tmpdir())), "") << demo.output();
}

}  // namespace
