// SPDX-License-Identifier: MIT
// One wrong write into the segment by a faulty application, for each value
// that used to stop sending or receiving until a restart: the owner of the
// field puts it right (the server its own fields and states, the library a
// telegram it cannot deliver), and a telegram goes through both ways again
// without a restart.
#include <chrono>
#include <climits>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

#include "link_fixture.h"
#include "qo3964_client.h"

namespace qosoak {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Far beyond the repair (the next pass) and the wait for another
// application's result; a bound for a loaded machine, not a measure.
constexpr auto RECOVERY_BOUND = 10s;

struct WrongWrite {
    const char* what;
    std::function<void(volatile SharedSegment&)> write;
    int reported_once;  // the code the application sees once, or 0
};

void receive_entry(volatile JobBlock& job, int32_t length, int32_t result)
{
    job.length = length;
    job.result = result;
    job.state = JOB_DONE;
}

class SegmentFault : public LinkFixture {
protected:
    // Sends until the partner's end acknowledges one; false at the bound.
    bool send_goes_through(const Bytes& telegram, Clock::time_point bound)
    {
        while (Clock::now() < bound) {
            if (qo3964m_send(APP_HANDLE, telegram.data(), static_cast<int>(telegram.size()), 5) == QO3964_SEND_DONE) {
                return partner->wait_received(5s) == telegram;
            }
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    // Fetches until `telegram` comes; counts the results that were neither.
    bool fetch_goes_through(const Bytes& telegram, Clock::time_point bound, std::vector<int>& other)
    {
        Bytes buffer(QO3964_TELEGRAM_MAX);
        while (Clock::now() < bound) {
            const int result = qo3964m_receive(APP_HANDLE, buffer.data(), static_cast<int>(buffer.size()));
            if (result == static_cast<int>(telegram.size()) && Bytes(buffer.begin(), buffer.begin() + result) == telegram) {
                return true;
            }
            if (result != 0) {
                other.push_back(result);
            }
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }
};

TEST_F(SegmentFault, EachWrongWriteIsRepairedAndServiceReturns)
{
    bring_up();
    const std::vector<WrongWrite> writes{
        {"receive_job.length -1, state 3", [](auto& s) { receive_entry(s.receive_job, -1, 1); }, QO3964_ERR_TOO_SMALL},
        {"receive_job.length 4097, state 3", [](auto& s) { receive_entry(s.receive_job, 4097, 1); },
         QO3964_ERR_TOO_SMALL},
        {"receive_job.length 2^31-1, state 3", [](auto& s) { receive_entry(s.receive_job, INT32_MAX, 1); },
         QO3964_ERR_TOO_SMALL},
        {"receive_job.result 5, state 0", [](auto& s) { s.receive_job.result = 5; }, 0},
        {"send_job.state 2", [](auto& s) { s.send_job.state = JOB_IN_WORK; }, 0},
        {"send_job.state 7", [](auto& s) { s.send_job.state = 7; }, 0},
        {"send_job.state -5", [](auto& s) { s.send_job.state = -5; }, 0},
        {"send_job.server_busy 1", [](auto& s) { s.send_job.server_busy = 1; }, 0},
        {"send_job.shutdown_mark 1", [](auto& s) { s.send_job.shutdown_mark = 1; }, 0},
    };
    std::string table = "\nwrong write                          service back after\n";
    uint8_t n = 0;
    for (const WrongWrite& wrong : writes) {
        SCOPED_TRACE(wrong.what);
        const Bytes outgoing = {'o', 'u', 't', n};
        const Bytes incoming = {'i', 'n', 0x10, n++};
        const auto start = Clock::now();
        wrong.write(view->segment());
        ASSERT_TRUE(partner_sends(incoming));
        std::vector<int> other;
        ASSERT_TRUE(fetch_goes_through(incoming, start + RECOVERY_BOUND, other));
        ASSERT_TRUE(send_goes_through(outgoing, start + RECOVERY_BOUND));
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        EXPECT_EQ(other, wrong.reported_once == 0 ? std::vector<int>{} : std::vector<int>{wrong.reported_once});
        char line[96];
        std::snprintf(line, sizeof line, "%-36s %6lld ms\n", wrong.what, static_cast<long long>(took.count()));
        table += line;
    }
    std::printf("%s", table.c_str());
    EXPECT_TRUE(server->process().running());
    EXPECT_NE(server->process().err().find("send_job: shutdown_mark 1 while running, put back to 0"), std::string::npos)
        << server->process().err();
}

}  // namespace
}  // namespace qosoak
