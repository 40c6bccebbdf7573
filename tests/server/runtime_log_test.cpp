// SPDX-License-Identifier: MIT
// The runtime log: priority prefixes, the level filter and the rate limit
// per event kind, on a clock the test drives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// A partner that refuses every other STX flaps: 950 changes in two
// minutes. Only a few lines a minute are written; the held-back changes are
// summed up, and once the state keeps still the last line tells it.
TEST_F(RuntimeLog, AFlappingStateIsSummedUpAndItsLastLineTellsTheStateAsItStands)
{
    constexpr char PARTNER[] = "partner";
    constexpr int CHANGES = 950;
    constexpr int32_t TICKS_APART = 13;  // 130 ms at 100 ticks per second
    CapturedOutput captured(dir_);
    for (int i = 0; i < CHANGES; ++i) {
        if (i % 2 == 0) {
            log_change(LOG_PRI_WARNING, PARTNER, "partner stopped answering: -84");
        } else {
            log_change(LOG_PRI_NOTICE, PARTNER, "partner answers again");
        }
        fake_now += TICKS_APART;
        runtime_log_tick();
    }
    const int32_t minutes = (CHANGES * TICKS_APART / 100 + 59) / 60;
    fake_now += CHANGE_QUIET_MS / 10 + 1;  // the state keeps still
    runtime_log_tick();
    captured.finish();
    const std::vector<std::string> lines = qotest::lines_of(captured.err());
    EXPECT_LE(lines.size(), static_cast<size_t>((minutes + 1) * (CHANGE_BURST + 1))) << captured.err();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind("<5>qo3964_server: partner flapping: ", 0), 0u) << lines.back();
    EXPECT_TRUE(lines.back().ends_with("changes held back; now: partner answers again")) << lines.back();
}
