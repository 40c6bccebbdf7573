#include "e2e_fixture.h"

namespace e2etest {

void LinkedTest::connect(const std::string& rc_lines, const qopartner::PartnerSettings& settings,
                         const std::string& server)
{
    link = std::make_unique<LinkedServer>(rc_lines, settings, server);
    ASSERT_TRUE(link->start()) << link->server().process().out();
    ASSERT_EQ(qo3964m_open_shm(HANDLE, link->rc_file().c_str()), 0);
}

void LinkedTest::TearDown()
{
    for (int handle = 0; handle < QO3964_MAX_HANDLES; ++handle) {
        qo3964m_close_shm(handle);
    }
}

std::string LinkedTest::partner_received(std::chrono::milliseconds timeout)
{
    const std::optional<Bytes> telegram = partner().wait_received(timeout);
    return telegram ? qotest::hex(*telegram) : "none";
}

}  // namespace e2etest
