// SPDX-License-Identifier: MIT
// The link layer's start entry.
#include <gtest/gtest.h>

#include "protocol_engine.h"
#include "serial_line.h"
#include "test_support.h"

using namespace qo3964;

namespace {

class LinkOpenTest : public ::testing::Test {
protected:
    void SetUp() override { engine_reset(); }
    void TearDown() override
    {
        if (serial_line.line_fd >= 0) {
            serial_restore();
        }
    }
};

TEST_F(LinkOpenTest, HandsTheSettingsToTheEngineAndOpensTheLine)
{
    qotest::PtyPair pty;
    ASSERT_EQ(link_open(pty.slave_path().c_str(), 19200, 'E', 'N', 4, 5, 1, 150, 900, 0, 0), 0);
    EXPECT_GE(serial_line.line_fd, 0);
    EXPECT_EQ(procedure.tds, 4);
    EXPECT_EQ(procedure.tdr, 5);
    EXPECT_EQ(procedure.mmode, 1);
    EXPECT_EQ(procedure.zvz, 150);
    EXPECT_EQ(procedure.qvz, 900);
    EXPECT_EQ(procedure.bcc_mode, 0);
    EXPECT_EQ(engine.engine_state, ENGINE_IDLE);
}

TEST_F(LinkOpenTest, MissingDeviceFails)
{
    qotest::TempDir dir;
    EXPECT_EQ(link_open(dir.file("no_tty").c_str(), 9600, 'N', 'N', 6, 6, 0, 220, 2000, 1, 0), -1);
}

}  // namespace
