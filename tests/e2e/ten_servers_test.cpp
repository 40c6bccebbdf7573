// SPDX-License-Identifier: MIT
// One application with all ten handles, each on a server of its own.
#include <array>
#include <csignal>
#include <memory>

#include "e2e_fixture.h"

namespace e2etest {
namespace {

class TenServersTest : public LinkedTest {};

TEST_F(TenServersTest, TenHandlesTalkToTenServersAtOnce)
{
    std::array<std::unique_ptr<LinkedServer>, QO3964_MAX_HANDLES> links;
    for (auto& link : links) {
        link = std::make_unique<LinkedServer>();
        ASSERT_TRUE(link->start()) << link->server().process().out();
    }
    for (int handle = 0; handle < QO3964_MAX_HANDLES; ++handle) {
        ASSERT_EQ(qo3964m_open_shm(handle, links[handle]->rc_file().c_str()), 0) << "handle " << handle;
    }
    for (int handle = 0; handle < QO3964_MAX_HANDLES; ++handle) {
        qo3964_server_info info{};
        EXPECT_EQ(qo3964m_svr_info(handle, &info), 0);
        EXPECT_STREQ(info.server_name, "qo3964_server");
    }

    // All ten sends under way together, each telegram told apart by its salt.
    auto telegram_of = [](int handle) { return awkward_telegram(20, static_cast<uint8_t>(handle)); };
    for (int handle = 0; handle < QO3964_MAX_HANDLES; ++handle) {
        const Bytes telegram = telegram_of(handle);
        EXPECT_EQ(qo3964m_send_strt(handle, telegram.data(), 20, SEND_TIMEOUT_S), QO3964_SEND_STARTED);
    }
    for (int handle = 0; handle < QO3964_MAX_HANDLES; ++handle) {
        SCOPED_TRACE("handle " + std::to_string(handle));
        EXPECT_EQ(send_result_within(handle, LINE_BOUND), QO3964_SEND_DONE);
        const std::optional<Bytes> received = links[handle]->partner().wait_received(LINE_BOUND);
        ASSERT_TRUE(received.has_value());
        EXPECT_EQ(qotest::hex(*received), qotest::hex(telegram_of(handle)));
    }

    // Each partner answers on its own line; each handle gets its own telegram.
    for (int handle = 0; handle < QO3964_MAX_HANDLES; ++handle) {
        links[handle]->partner().send(numbered_telegram(handle));
    }
    for (int handle = 0; handle < QO3964_MAX_HANDLES; ++handle) {
        SCOPED_TRACE("handle " + std::to_string(handle));
        const Received received = receive_within(handle, LINE_BOUND);
        EXPECT_EQ(received.result, static_cast<int>(NUMBERED_LENGTH));
        EXPECT_EQ(telegram_number(received.buffer.data()), handle);
    }

    // Stop all ten at once: each orderly stop takes seconds.
    for (auto& link : links) {
        link->server().process().signal(SIGINT);
    }
    for (int handle = 0; handle < QO3964_MAX_HANDLES; ++handle) {
        EXPECT_EQ(links[handle]->server().process().wait_exit(30000), 1);
        EXPECT_EQ(qo3964m_send_control(handle), QO3964_ERR_SHUTDOWN);
    }
}

}  // namespace
}  // namespace e2etest
