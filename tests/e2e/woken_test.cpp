// SPDX-License-Identifier: MIT
// Waking instead of polling: qo3964m_receive_wait ends with a telegram, at
// its time-out or on the server's stop; and a job handed over by a program
// that does not ring the doorbell is still served.
#include <chrono>
#include <future>
#include <thread>

#include "e2e_fixture.h"
#include "segment_access.h"
#include "test_segment.h"

namespace e2etest {
namespace {

using Clock = std::chrono::steady_clock;

// What happens while the application waits, 200 ms into its wait.
enum class Meanwhile { telegram, nothing, server_stops };

struct WaitCase {
    const char* name;
    Meanwhile meanwhile;
    int timeout_ms;
    int result;
};

void PrintTo(const WaitCase& c, std::ostream* out)
{
    *out << c.name;
}

class ReceiveWait : public LinkedTest, public ::testing::WithParamInterface<WaitCase> {};

TEST_P(ReceiveWait, EndsWithTheTelegramTheTimeOutOrTheStop)
{
    const WaitCase& c = GetParam();
    connect();
    const Bytes telegram{0x41, 0x10, 0x42};
    auto stimulus = std::async(std::launch::async, [&] {
        std::this_thread::sleep_for(200ms);
        if (c.meanwhile == Meanwhile::telegram) {
            partner().send(telegram);
        } else if (c.meanwhile == Meanwhile::server_stops) {
            link->server().stop();
        }
    });
    Bytes buffer(QO3964_TELEGRAM_MAX);
    const auto begun = Clock::now();
    const int result = qo3964m_receive_wait(HANDLE, buffer.data(), QO3964_TELEGRAM_MAX, c.timeout_ms);
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begun).count();
    stimulus.wait();
    EXPECT_EQ(result, c.result);
    if (c.meanwhile == Meanwhile::telegram) {
        EXPECT_EQ(qotest::hex(Bytes(buffer.begin(), buffer.begin() + 3)), qotest::hex(telegram));
    } else if (c.meanwhile == Meanwhile::nothing) {
        EXPECT_GE(waited, c.timeout_ms);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ReceiveWait,
                         ::testing::Values(WaitCase{"Telegram", Meanwhile::telegram, 30000, 3},
                                           WaitCase{"TimeOut", Meanwhile::nothing, 600, 0},
                                           WaitCase{"ServerStops", Meanwhile::server_stops, 30000,
                                                    QO3964_ERR_SHUTDOWN}),
                         [](const ::testing::TestParamInfo<WaitCase>& info) { return std::string(info.param.name); });

// A program that writes a job into the segment without ringing (an older
// library) is served all the same, at the server's regular look.
TEST_F(LinkedTest, JobHandedOverWithoutRingingIsSent)
{
    connect();
    qotest::SegmentAttachment raw(link->server().shm_file());
    ASSERT_TRUE(raw.attached());
    volatile qo3964::JobBlock& job = raw.segment().send_job;
    const Bytes telegram{0x01, 0x02, 0x03};
    for (size_t i = 0; i < telegram.size(); ++i) {
        job.data[i] = telegram[i];
    }
    qo3964::store_field(job.length, static_cast<int32_t>(telegram.size()));
    qo3964::store_release(job.state, int32_t{qo3964::JOB_SUBMITTED});
    EXPECT_EQ(partner_received(), qotest::hex(telegram));
    EXPECT_TRUE(wait_until([&] { return qo3964::load_acquire(job.state) == qo3964::JOB_DONE; }, LINE_BOUND));
}

}  // namespace
}  // namespace e2etest
