// SPDX-License-Identifier: MIT
// Connection requests that pile up on the line: a partner repeats its STX
// (after its QVZ) while the server is not reading, so that several STX wait
// in the server's input when it takes the first one.
#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

#include "delivery_check.h"
#include "qo3964_client.h"
#include "segment_view.h"
#include "server_harness.h"

namespace qosoak {
namespace {

using qotest::Bytes;

// Before its DLE the server drops what waits in its input: no byte that was
// there can belong to the telegram (the partner starts its data only after
// the DLE). Kept as data, two waiting STX would cancel in the block check
// and reach the application as a good telegram "02 02 01".
TEST(RepeatedRequests, StaleStxAreNoPartOfTheTelegram)
{
    qotest::ServerHarness server("ZVZ 200\nQVZ 1000\n");
    ASSERT_TRUE(server.start()) << server.process().out();
    const int line = server.pty().master();

    qotest::write_bytes(line, {0x02, 0x02, 0x02});
    ASSERT_EQ(qotest::hex(qotest::read_bytes(line, 1, 3000)), "10");
    qotest::write_bytes(line, {0x01, 0x10, 0x03, 0x12});  // the telegram 01
    EXPECT_EQ(qotest::hex(qotest::read_bytes(line, 1, 3000)), "10");

    ASSERT_EQ(qo3964m_open_shm(0, server.rc_file().c_str()), 0);
    SegmentView view(server.shm_file());
    ASSERT_TRUE(view.attached());
    std::optional<WaitingEntry> waiting;
    for (int tries = 0; tries < 600 && !(waiting = view.waiting_entry()); ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(waiting);
    Bytes buffer(16);
    const int result = qo3964m_receive(0, buffer.data(), static_cast<int>(buffer.size()));
    buffer.resize(static_cast<size_t>(std::max(waiting->length, 0)));
    EXPECT_EQ(log_hex(buffer), "01") << "status " << waiting->result << ", result " << result;
    qo3964m_close_shm(0);
}

}  // namespace
}  // namespace qosoak
