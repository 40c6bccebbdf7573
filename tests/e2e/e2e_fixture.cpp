// SPDX-License-Identifier: MIT
#include "e2e_fixture.h"

#include <iostream>

namespace e2etest {

void LinkedTest::connect(const std::string& rc_lines, const qopartner::PartnerSettings& settings,
                         const std::string& server)
{
    link = std::make_unique<LinkedServer>(rc_lines, settings, server);
    link->partner().set_log(&partner_log);
    ASSERT_TRUE(link->start()) << link->server().process().out();
    ASSERT_EQ(qo3964m_open_shm(HANDLE, link->rc_file().c_str()), 0);
}

void LinkedTest::TearDown()
{
    for (int handle = 0; handle < QO3964_MAX_HANDLES; ++handle) {
        qo3964m_close_shm(handle);
    }
    link.reset();  // the partner's loop ends, its log is complete
    if (HasFailure()) {
        std::cerr << "--- the partner's log:\n" << partner_log.str();
    }
}

std::string LinkedTest::partner_received(std::chrono::milliseconds timeout)
{
    const std::optional<Bytes> telegram = partner().wait_received(timeout);
    return telegram ? qotest::hex(*telegram) : "none";
}

}  // namespace e2etest
