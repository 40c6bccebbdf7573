// SPDX-License-Identifier: MIT
// Receiving: telegrams of the partner device fetched by the application.
#include <future>
#include <vector>

#include "e2e_fixture.h"

namespace e2etest {
namespace {

using qopartner::SendOutcome;
using qopartner::SendReport;

class ReceiveTest : public LinkedTest {};

TEST_F(ReceiveTest, PartnerTelegramsArriveExactlyAndInOrder)
{
    connect();
    std::vector<Bytes> telegrams;
    std::vector<std::future<SendReport>> reports;
    for (const size_t length : {1u, 16u, 4096u, 2u}) {
        telegrams.push_back(awkward_telegram(length, static_cast<uint8_t>(length)));
        reports.push_back(partner().send(telegrams.back()));
    }
    for (const Bytes& telegram : telegrams) {
        SCOPED_TRACE("length " + std::to_string(telegram.size()));
        const Received received = receive_within(HANDLE, LINE_BOUND);
        EXPECT_EQ(received.result, static_cast<int>(telegram.size()));
        EXPECT_EQ(qotest::hex(received.telegram()), qotest::hex(telegram));
    }
    for (auto& report : reports) {
        ASSERT_EQ(report.wait_for(LINE_BOUND), std::future_status::ready);
        EXPECT_EQ(report.get().outcome, SendOutcome::acknowledged);
    }
    EXPECT_EQ(receive_within(HANDLE, 300ms).result, 0);
}

TEST_F(ReceiveTest, EmptyTelegramReadsAsNothingAndFreesTheBlock)
{
    connect();
    auto empty = partner().send({});
    auto next = partner().send(numbered_telegram(1));
    ASSERT_EQ(empty.wait_for(LINE_BOUND), std::future_status::ready);
    EXPECT_EQ(empty.get().outcome, SendOutcome::acknowledged);
    // The empty telegram gives 0 like no telegram at all, and must not
    // keep the next one out of the block.
    const Received received = receive_within(HANDLE, LINE_BOUND);
    EXPECT_EQ(received.result, static_cast<int>(NUMBERED_LENGTH));
    EXPECT_EQ(qotest::hex(received.telegram()), qotest::hex(numbered_telegram(1)));
    ASSERT_EQ(next.wait_for(LINE_BOUND), std::future_status::ready);
}

TEST_F(ReceiveTest, TooSmallBufferLeavesTheTelegramWaiting)
{
    connect();
    const Bytes telegram = awkward_telegram(16);
    partner().send(telegram);
    EXPECT_EQ(receive_within(HANDLE, LINE_BOUND, 15).result, QO3964_ERR_TOO_SMALL);
    const Received received = receive_within(HANDLE, LINE_BOUND, 16);
    EXPECT_EQ(received.result, 16);
    EXPECT_EQ(qotest::hex(received.telegram()), qotest::hex(telegram));
}

// The server holds 16 telegrams in its ring, one in the job block and one
// acknowledged in its receive buffer; the partner's next telegram waits for
// room and is refused with NAK, and the partner repeats it. Once the
// application drains the server, every telegram arrives once, in order.
TEST_F(ReceiveTest, FortyTelegramsSentWhileTheApplicationIsSlowAllArriveInOrder)
{
    constexpr int COUNT = 40;
    constexpr uint64_t HELD_BY_THE_SERVER = 16 + 1 + 1;
    // The server waits 400 ms for room before it refuses; the partner
    // waits far longer for the answer, so a late DLE is never taken for
    // silence.
    connect();

    std::vector<std::future<SendReport>> reports;
    for (int number = 0; number < COUNT; ++number) {
        reports.push_back(partner().send(numbered_telegram(number)));
    }
    ASSERT_TRUE(wait_until([&] { return partner().stats().refused >= 1; }, 60s))
        << "acknowledged " << partner().stats().acknowledged;
    EXPECT_EQ(partner().stats().acknowledged, HELD_BY_THE_SERVER);

    std::vector<int> numbers;
    int marked_occupied = 0;
    while (numbers.size() < COUNT) {
        const Received received = receive_within(HANDLE, LINE_BOUND, QO3964_TELEGRAM_MAX);
        if (received.result == QO3964_ERR_RX_OCCUPIED) {
            // The refusal is an entry of its own, ahead of the next telegram.
            ++marked_occupied;
            continue;
        }
        ASSERT_EQ(received.result, static_cast<int>(NUMBERED_LENGTH))
            << qo3964_errortext_en(received.result) << " after " << numbers.size() << " telegrams";
        const std::optional<int> number = telegram_number(received.buffer.data());
        ASSERT_TRUE(number.has_value()) << qotest::hex(Bytes(received.buffer.begin(), received.buffer.begin() + 8));
        numbers.push_back(*number);
    }
    std::vector<int> expected(COUNT);
    for (int number = 0; number < COUNT; ++number) {
        expected[static_cast<size_t>(number)] = number;
    }
    EXPECT_EQ(numbers, expected);
    EXPECT_GE(marked_occupied, 1);
    for (auto& report : reports) {
        ASSERT_EQ(report.wait_for(LINE_BOUND), std::future_status::ready);
        EXPECT_EQ(report.get().outcome, SendOutcome::acknowledged);
    }
    EXPECT_EQ(receive_within(HANDLE, 300ms).result, 0);
}

}  // namespace
}  // namespace e2etest
