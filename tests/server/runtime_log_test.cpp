// SPDX-License-Identifier: MIT
// The runtime log: priority prefixes, the level filter and the rate limit
// per event kind, on a clock the test drives.
#include <gtest/gtest.h>

#include "captured_output.h"
#include "deadline_timer.h"
#include "runtime_log.h"
#include "test_support.h"

using namespace qo3964;

namespace {

int32_t fake_now = 0;
int32_t fake_ticks() { return fake_now; }

class RuntimeLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        tick_source = fake_ticks;
        clocks_p_sec = 100;
        runtime_log_reset();
        runtime_log_level = LOG_PRI_INFO;
    }
    void TearDown() override
    {
        tick_source = times_ticks;
        runtime_log_reset();
        runtime_log_level = LOG_PRI_INFO;
    }
    qotest::TempDir dir_;
};

constexpr char NOISE[] = "noise";
constexpr char SEND[] = "send";

}  // namespace

TEST_F(RuntimeLog, LinesCarryThePriorityPrefixAndRespectTheLevel)
{
    CapturedOutput captured(dir_);
    log_event(LOG_PRI_WARNING, SEND, "send failed: %d", -84);
    log_event(LOG_PRI_DEBUG, SEND, "not shown at the info level");
    runtime_log_level = LOG_PRI_DEBUG;
    log_event(LOG_PRI_DEBUG, SEND, "shown at the debug level");
    captured.finish();
    EXPECT_EQ(captured.err(), "<4>qo3964_server: send failed: -84\n"
                              "<7>qo3964_server: shown at the debug level\n");
    EXPECT_EQ(captured.out(), "");
}

TEST_F(RuntimeLog, EachKindIsLimitedOnItsOwnAndHeldBackLinesAreCounted)
{
    CapturedOutput captured(dir_);
    for (int i = 0; i < LOG_BURST + 5; ++i) {
        log_event(LOG_PRI_NOTICE, NOISE, "noise %d", i);
    }
    log_event(LOG_PRI_WARNING, SEND, "another kind still gets through");
    fake_now += LOG_WINDOW_MS / 10 + 1;  // the window has passed
    log_event(LOG_PRI_NOTICE, NOISE, "noise again");
    captured.finish();
    const std::string err = captured.err();
    EXPECT_NE(err.find("noise 9\n"), std::string::npos);
    EXPECT_EQ(err.find("noise 10"), std::string::npos);
    EXPECT_NE(err.find("another kind still gets through"), std::string::npos);
    EXPECT_NE(err.find("<5>qo3964_server: noise again (5 more like it held back)\n"), std::string::npos);
}

// A port that comes and goes more often than the limit: its last line still
// tells the state it is in.
TEST_F(RuntimeLog, ChangesOfAStateAreNeverHeldBack)
{
    constexpr char PORT[] = "port";
    CapturedOutput captured(dir_);
    for (int i = 0; i < LOG_BURST; ++i) {
        log_change(LOG_PRI_NOTICE, PORT, "up %d", i);
    }
    log_change(LOG_PRI_ERR, PORT, "lost");
    captured.finish();
    EXPECT_EQ(captured.err().substr(captured.err().rfind("<3>")), "<3>qo3964_server: lost\n");
}
