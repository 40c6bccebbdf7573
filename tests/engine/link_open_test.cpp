// SPDX-License-Identifier: MIT
// The link layer's start entry.
#include <gtest/gtest.h>
#include <memory>

#include "link.h"
#include "serial_line.h"
#include "test_support.h"

using namespace qo3964;

namespace {

class LinkOpenTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (link().line.line_fd >= 0) {
            serial_restore(link().line);
        }
    }

    Link& link() { return *link_; }

private:
    std::unique_ptr<Link> link_ = std::make_unique<Link>();
};

TEST_F(LinkOpenTest, HandsTheSettingsToTheEngineAndOpensTheLine)
{
    qotest::PtyPair pty;
    ASSERT_EQ(link_open(link(), pty.slave_path().c_str(), 19200, 'E', 'N', 4, 5, 1, 150, 900, 0, 0), 0);
    EXPECT_GE(link().line.line_fd, 0);
    EXPECT_EQ(link().procedure.tds, 4);
    EXPECT_EQ(link().procedure.tdr, 5);
    EXPECT_EQ(link().procedure.mmode, 1);
    EXPECT_EQ(link().procedure.zvz, 150);
    EXPECT_EQ(link().procedure.qvz, 900);
    EXPECT_EQ(link().procedure.bcc_mode, 0);
    EXPECT_EQ(link().engine.engine_state, ENGINE_IDLE);
}

TEST_F(LinkOpenTest, MissingDeviceFails)
{
    qotest::TempDir dir;
    EXPECT_EQ(link_open(link(), dir.file("no_tty").c_str(), 9600, 'N', 'N', 6, 6, 0, 220, 2000, 1, 0), -1);
}

}  // namespace
