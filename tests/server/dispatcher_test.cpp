// The dispatcher's pass against a segment in private memory, with the
// engine step replaced by what each test needs to happen during it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "job_dispatcher.h"
#include "protocol_engine.h"
#include "result_codes.h"
#include "segment_owner.h"
#include "server_process.h"
#include "telegram_buffers.h"

using namespace qo3964;

namespace {

std::function<void()> during_step;
int steps = 0;

void scripted_step()
{
    ++steps;
    if (during_step) {
        during_step();
    }
}

// Queues a telegram the way the engine's push does.
void queue_entry(const std::vector<uint8_t>& data, int32_t status)
{
    TelegramSlot& e = p3964_fifo.entries[(p3964_fifo.head + p3964_fifo.count) % FIFO_DEPTH];
    std::copy(data.begin(), data.end(), e.data);
    e.length = static_cast<int32_t>(data.size());
    e.status = status;
    e.state = SLOT_DONE;
    p3964_fifo.count++;
}

class Dispatcher : public ::testing::Test {
protected:
    SharedSegment segment{};

    void SetUp() override
    {
        std::memset(&segment, 0, sizeof segment);
        server_segment = &segment;
        reset_segment();
        snd_set = TelegramSlot{};
        p3964_fifo = ReceiveFifo{};
        stop_reason = STOP_NONE;
        during_step = nullptr;
        steps = 0;
        dispatcher_engine_step = scripted_step;
    }

    void TearDown() override
    {
        dispatcher_engine_step = engine_step;
        server_segment = nullptr;
    }

    // What a client does to submit a telegram.
    void submit(const std::vector<uint8_t>& data)
    {
        std::copy(data.begin(), data.end(), segment.send_job.data);
        segment.send_job.result = 0;
        segment.send_job.length = static_cast<int32_t>(data.size());
        segment.send_job.state = JOB_SUBMITTED;
    }

    // What a client does to collect the received telegram.
    void collect()
    {
        segment.receive_job.length = 0;
        segment.receive_job.result = 0;
        segment.receive_job.state = JOB_IDLE;
    }
};

TEST_F(Dispatcher, TelegramPushedDuringTheStepReachesReceiveJobInTheSamePass)
{
    during_step = [] { queue_entry({0x01, 0x10, 0x02}, 1); };
    service_jobs();
    EXPECT_EQ(steps, 1);
    EXPECT_EQ(segment.receive_job.state, JOB_DONE);
    EXPECT_EQ(segment.receive_job.length, 3);
    EXPECT_EQ(segment.receive_job.result, 1);
    EXPECT_EQ(std::memcmp(segment.receive_job.data, "\x01\x10\x02", 3), 0);
    EXPECT_EQ(segment.receive_job.server_busy, 0);
    EXPECT_EQ(p3964_fifo.count, 0);
    EXPECT_EQ(p3964_fifo.head, 1);
    EXPECT_EQ(p3964_fifo.entries[0].state, SLOT_FREE);
    EXPECT_EQ(p3964_fifo.entries[0].status, 0);
}

TEST_F(Dispatcher, EntriesLeaveInArrivalOrderAcrossTheEndOfTheRing)
{
    p3964_fifo.head = 14;
    for (uint8_t i = 0; i < 4; ++i) {
        queue_entry({i}, 1);
    }
    for (uint8_t i = 0; i < 4; ++i) {
        service_jobs();
        ASSERT_EQ(segment.receive_job.state, JOB_DONE) << int(i);
        EXPECT_EQ(segment.receive_job.data[0], i);
        // Nothing more moves while the client has not emptied the block.
        service_jobs();
        EXPECT_EQ(p3964_fifo.count, 3 - i);
        collect();
    }
    EXPECT_EQ(p3964_fifo.head, 2);
}

TEST_F(Dispatcher, ReceiveErrorWithoutDataReachesTheClientAsItsCode)
{
    queue_entry({}, RC_RX_BCC);
    service_jobs();
    EXPECT_EQ(segment.receive_job.state, JOB_DONE);
    EXPECT_EQ(segment.receive_job.length, 0);
    EXPECT_EQ(segment.receive_job.result, RC_RX_BCC);
}

TEST_F(Dispatcher, ReceiveJobIsFilledOnlyWhenIdleAndNotHeldByAClient)
{
    queue_entry({7}, 1);
    segment.receive_job.client_busy = 1;
    service_jobs();
    EXPECT_EQ(segment.receive_job.state, JOB_IDLE);
    segment.receive_job.client_busy = 0;
    segment.receive_job.result = -1;  // not yet cleared by the client
    service_jobs();
    EXPECT_EQ(segment.receive_job.state, JOB_IDLE);
    segment.receive_job.result = 0;
    service_jobs();
    EXPECT_EQ(segment.receive_job.state, JOB_DONE);
    EXPECT_EQ(p3964_fifo.count, 0);
}

TEST_F(Dispatcher, SubmittedJobIsStagedIntoTheSendSlot)
{
    submit({0xAA, 0xBB});
    segment.send_job.result = 5;  // whatever the client left there
    service_jobs();
    EXPECT_EQ(segment.send_job.state, JOB_IN_WORK);
    EXPECT_EQ(segment.send_job.result, 0);
    EXPECT_EQ(segment.send_job.server_busy, 0);
    EXPECT_EQ(snd_set.state, SLOT_STAGED);
    EXPECT_EQ(snd_set.length, 2);
    EXPECT_EQ(snd_set.status, 0);
    EXPECT_EQ(snd_set.data[0], 0xAA);
    EXPECT_EQ(snd_set.data[1], 0xBB);
}

TEST_F(Dispatcher, FinishedSendIsHandedBackInThePassTheEngineFinishedIt)
{
    submit({1});
    service_jobs();
    during_step = [] {
        snd_set.state = SLOT_DONE;
        snd_set.status = RC_NO_CONNECT;
    };
    service_jobs();
    EXPECT_EQ(segment.send_job.state, JOB_DONE);
    EXPECT_EQ(segment.send_job.result, RC_NO_CONNECT);
    EXPECT_EQ(snd_set.state, SLOT_FREE);
    EXPECT_EQ(snd_set.status, 0);
}

TEST_F(Dispatcher, FinishedSendWaitsWhileAClientHoldsTheBlock)
{
    submit({1});
    service_jobs();
    snd_set.state = SLOT_DONE;
    snd_set.status = 1;
    segment.send_job.client_busy = 1;
    service_jobs();
    service_jobs();
    EXPECT_EQ(segment.send_job.state, JOB_IN_WORK);
    EXPECT_EQ(snd_set.state, SLOT_DONE);
    segment.send_job.client_busy = 0;
    service_jobs();
    EXPECT_EQ(segment.send_job.state, JOB_DONE);
    EXPECT_EQ(segment.send_job.result, 1);
}

TEST_F(Dispatcher, HandBackAndStagingNeverHappenInOnePass)
{
    submit({1});
    service_jobs();
    snd_set.state = SLOT_DONE;
    snd_set.status = 1;
    // Even with a new job in the block, the hand-back pass stages nothing.
    during_step = [this] { segment.send_job.state = JOB_SUBMITTED; };
    service_jobs();
    EXPECT_EQ(segment.send_job.state, JOB_DONE);
    EXPECT_EQ(snd_set.state, SLOT_FREE);
    during_step = nullptr;
    // An uncollected result blocks the send side entirely.
    service_jobs();
    EXPECT_EQ(snd_set.state, SLOT_FREE);
    // A new submission over the uncollected result is staged next pass.
    submit({2});
    service_jobs();
    EXPECT_EQ(segment.send_job.state, JOB_IN_WORK);
    EXPECT_EQ(snd_set.state, SLOT_STAGED);
    EXPECT_EQ(snd_set.data[0], 2);
}

TEST_F(Dispatcher, JobIsNotStagedWhileAClientHoldsTheBlockOrTheSlotIsBusy)
{
    submit({1});
    segment.send_job.client_busy = 1;
    service_jobs();
    EXPECT_EQ(segment.send_job.state, JOB_SUBMITTED);
    segment.send_job.client_busy = 0;
    snd_set.state = SLOT_TAKEN;
    service_jobs();
    EXPECT_EQ(segment.send_job.state, JOB_SUBMITTED);
}

TEST_F(Dispatcher, LengthOutsideTheTelegramRangeIsRefusedWithoutTouchingTheSlot)
{
    for (int32_t bad : {TELEGRAM_MAX + 1, -1, INT32_MAX, INT32_MIN}) {
        submit({});
        segment.send_job.length = bad;
        service_jobs();
        EXPECT_EQ(segment.send_job.state, JOB_DONE) << bad;
        EXPECT_EQ(segment.send_job.result, RC_TOO_LONG) << bad;
        EXPECT_EQ(segment.send_job.server_busy, 0);
        EXPECT_EQ(snd_set.state, SLOT_FREE);
        segment.send_job.state = JOB_IDLE;
        segment.send_job.result = 0;
    }
    submit(std::vector<uint8_t>(TELEGRAM_MAX, 0x10));
    service_jobs();
    EXPECT_EQ(snd_set.state, SLOT_STAGED);
    EXPECT_EQ(snd_set.length, TELEGRAM_MAX);
}

TEST_F(Dispatcher, PositiveStopOrderStopsAfterTheWholePass)
{
    for (int value = 1; value <= 127; ++value) {
        stop_reason = STOP_NONE;
        segment.shutdown_request = static_cast<int8_t>(value);
        service_jobs();
        EXPECT_EQ(stop_reason, STOP_ORDER) << value;
    }
    // The pass still ran the engine and both transfers.
    steps = 0;
    queue_entry({9}, 1);
    submit({3});
    service_jobs();
    EXPECT_EQ(steps, 1);
    EXPECT_EQ(segment.receive_job.state, JOB_DONE);
    EXPECT_EQ(segment.send_job.state, JOB_IN_WORK);
    EXPECT_EQ(segment.shutdown_request, 127);  // never cleared
}

TEST_F(Dispatcher, NegativeStopOrderIsIgnored)
{
    for (int value = 128; value <= 255; ++value) {
        segment.shutdown_request = static_cast<int8_t>(static_cast<uint8_t>(value));
        service_jobs();
        EXPECT_EQ(stop_reason, STOP_NONE) << value;
    }
}

TEST_F(Dispatcher, ResetWritesTheAfterResetValuesAndLeavesDataAlone)
{
    std::memset(&segment, 0x5A, sizeof segment);
    reset_segment();
    for (const JobBlock* block : {&segment.send_job, &segment.receive_job}) {
        EXPECT_EQ(block->block_mark, 255);
        EXPECT_EQ(block->server_busy, 0);
        EXPECT_EQ(block->client_busy, 0);
        EXPECT_EQ(block->spare_mark, 0);
        EXPECT_EQ(block->shutdown_mark, 0);
        EXPECT_EQ(block->spare_flag, 0);
        EXPECT_EQ(block->spare_id, 255);
        for (uint8_t b : block->spare_bytes) EXPECT_EQ(b, 0);
        for (uint8_t b : block->spare_area) EXPECT_EQ(b, 0);
        EXPECT_EQ(block->job_timer.start_ticks, block->job_timer.deadline_ticks);
        EXPECT_EQ(block->job_timer.duration_ms, 0);
        EXPECT_EQ(block->job_timer.remaining_ms, 0);
        EXPECT_EQ(block->state, 0);
        EXPECT_EQ(block->result, 0);
        EXPECT_EQ(block->length, 0);
        EXPECT_EQ(block->data[0], 0x5A);
        EXPECT_EQ(block->reserved_5[0], 0x5A);
    }
    EXPECT_EQ(segment.shutdown_request, 0);
}

TEST_F(Dispatcher, ShutdownMarksGoIntoTheFourMarkBytes)
{
    write_shutdown_marks();
    const auto* bytes = reinterpret_cast<const uint8_t*>(&segment);
    EXPECT_EQ(bytes[1024], SHUTDOWN_MARK);
    EXPECT_EQ(bytes[1028], SHUTDOWN_MARK);
    EXPECT_EQ(bytes[5235], SHUTDOWN_MARK);
    EXPECT_EQ(bytes[5236], SHUTDOWN_MARK);
    EXPECT_EQ(bytes[5232], 255);  // block_mark of receive_job stays
    EXPECT_EQ(bytes[1027], 0);    // spare_mark of send_job stays
}

}  // namespace
