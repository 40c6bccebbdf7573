// SPDX-License-Identifier: MIT
// The server's identification block as the application reads it.
#include <algorithm>
#include <cstring>

#include "e2e_fixture.h"
#include "shared_segment.h"

namespace e2etest {
namespace {

class IdentificationTest : public LinkedTest {};

TEST_F(IdentificationTest, ServerInfoIsTheBlockOfTheRunningServer)
{
    connect();
    qo3964_server_info info;
    std::memset(&info, 0xAA, sizeof info);
    ASSERT_EQ(qo3964m_svr_info(HANDLE, &info), 0);
    EXPECT_STREQ(info.server_name, "qo3964_server");
    EXPECT_STREQ(info.server_version, "V 1.0.1");
    EXPECT_STREQ(info.server_date, "09.06.2009");
    // The server is built with the test's own word width.
    EXPECT_EQ(info.word_bits, sizeof(void*) * 8);
    EXPECT_EQ(info.info_code, 2);
    auto zero = [](const auto& bytes) { return std::all_of(std::begin(bytes), std::end(bytes), [](auto b) { return b == 0; }); };
    EXPECT_TRUE(zero(info.reserved_48));
    EXPECT_TRUE(zero(info.reserved_80));
    // Behind info_code: the doorbell (not rung yet), the record of the
    // server's line, then zeros up to the counters at 512.
    qo3964::ServerInfoBlock block;
    std::memcpy(&block, &info, sizeof block);
    EXPECT_TRUE(zero(block.reserved_114) && zero(block.reserved_120) && zero(block.reserved_416));
    EXPECT_EQ(block.line.server_pid, link->server().process().pid());
    // The whole name field as the server wrote it: the text, then zeros.
    EXPECT_TRUE(std::all_of(info.server_name + 13, info.server_name + 16, [](char c) { return c == 0; }));

    char version[8];
    EXPECT_STREQ(qo7_version(version), info.server_version);
}

}  // namespace
}  // namespace e2etest
