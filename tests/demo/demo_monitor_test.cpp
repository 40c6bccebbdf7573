// SPDX-License-Identifier: MIT
// scripts/demo.sh --monitor: the server's traffic display in a tmux pane of
// its own, both when the demo is started inside tmux and from a plain
// terminal (where it opens a tmux session itself).
#include <gtest/gtest.h>
#include <regex>

#include "demo_run.h"
#include "tmux_session.h"

namespace {

using qodemo::count_of;
using qodemo::listed;
using qodemo::DemoPlace;
using qodemo::TmuxSession;

// The display's rows as the demo shows them from the server's pane: the
// first telegram 01 10 02 goes out with its DLE doubled, DLE ETX and BCC
// 10; the partner's echo comes in the same way.
void expect_traffic_display(const std::string& output)
{
    EXPECT_TRUE(std::regex_search(output, std::regex(R"(server  \| OUT: 02    01 10 10 02 10 03 10 )"))) << output;
    EXPECT_TRUE(std::regex_search(output, std::regex(R"(server  \|  IN: .*01 10 10 02 10 03 10 )"))) << output;
    EXPECT_NE(output.find("++++++ qo3964_server: ENDED ++++++"), std::string::npos) << output;
    EXPECT_EQ(count_of(output, "    result 2: "), 2) << output;
    EXPECT_NE(output.find("    result -67: "), std::string::npos) << output;
    EXPECT_NE(output.find("==> Demo finished."), std::string::npos) << output;
}

class DemoMonitor : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (qotest::TmuxServer::program().empty()) {
            GTEST_SKIP() << "tmux is not installed";
        }
    }

    DemoPlace place_;
};

TEST_F(DemoMonitor, InsideTmuxTheServerGetsAPaneThatGoesAtTheEnd)
{
    const std::string out = place_.dir().file("demo.out");
    const std::string status = place_.dir().file("demo.status");
    // The shell stays, so that the window's panes can be counted afterwards.
    TmuxSession session(place_.dir(), place_.shell_line({"--monitor"}, out, status) + "; exec sleep 600");
    ASSERT_TRUE(session.started());

    ASSERT_EQ(qodemo::wait_for_status_file(status, qodemo::DEMO_LIMIT_MS), 0) << qotest::read_file(out);
    const std::string output = qotest::read_file(out);
    expect_traffic_display(output);
    EXPECT_EQ(session.pane_count(), 1);
    EXPECT_EQ(listed(qodemo::leftovers_of(qodemo::parse_report(output), place_.tmpdir())), "");
}

TEST_F(DemoMonitor, FromAPlainTerminalItRunsInTmuxAndPrintsWhatItShowed)
{
    const std::string status = place_.dir().file("demo.status");
    TmuxSession session(place_.dir(), "env -u TMUX " + place_.shell_line({"--monitor"}, "", status) +
                                          "; exec sleep 600");
    ASSERT_TRUE(session.started());

    const int exit_status = qodemo::wait_for_status_file(status, qodemo::DEMO_LIMIT_MS);
    const std::string screen = session.history();
    ASSERT_EQ(exit_status, 0) << screen;
    expect_traffic_display(screen);
    EXPECT_EQ(listed(qodemo::leftovers_of(qodemo::parse_report(screen), place_.tmpdir())), "");
}

}  // namespace
