// SPDX-License-Identifier: MIT
// The dispatcher's pass against a segment in private memory, with the
// engine step replaced by what each test needs to happen during it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <tuple>
#include <unistd.h>

#include "captured_output.h"
#include "client_claim_watch.h"
#include "deadline_timer.h"
#include "job_dispatcher.h"
#include "link.h"
#include "process_identity.h"
#include "result_codes.h"
#include "runtime_log.h"
#include "segment_access.h"
#include "segment_owner.h"
#include "server_process.h"

using namespace qo3964;

namespace {

std::function<void()> during_step;
int steps = 0;

// The link of the pass (large: kept out of the stack).
Link& tested()
{
    static Link link;
    return link;
}

bool scripted_step(Link&)
{
    ++steps;
    if (during_step) {
        during_step();
    }
    return false;
}

// Queues a telegram the way the engine's push does.
void queue_entry(const std::vector<uint8_t>& data, int32_t status)
{
    TelegramSlot& e = tested().p3964_fifo.entries[(tested().p3964_fifo.head + tested().p3964_fifo.count) % FIFO_DEPTH];
    std::copy(data.begin(), data.end(), e.data);
    e.length = static_cast<int32_t>(data.size());
    e.status = status;
    e.state = SLOT_DONE;
    tested().p3964_fifo.count++;
}

class Dispatcher : public ::testing::Test {
protected:
    // On 8 bytes, as a segment's page is: claim_holder is a 64-bit atomic.
    alignas(8) SharedSegment segment{};

    void SetUp() override
    {
        std::memset(&segment, 0, sizeof segment);
        server_segment = &segment;
        reset_segment();
        fill_server_info("/dev/null", "/dev/ttyS1");
        tested().snd_set = TelegramSlot{};
        tested().p3964_fifo = ReceiveFifo{};
        tested().transfer = LinkTransfer{};
        stop_reason = STOP_NONE;
        during_step = nullptr;
        steps = 0;
        client_claim_watch_reset();
    }

    void TearDown() override
    {
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

    // A client's claim of `job`, by `holder` (0: none named).
    static void hold(JobBlock& job, uint64_t holder)
    {
        job.claim_holder = holder;
        job.client_busy = 1;
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
    service_jobs(tested(), scripted_step);
    EXPECT_EQ(steps, 1);
    EXPECT_EQ(segment.receive_job.state, JOB_DONE);
    EXPECT_EQ(segment.receive_job.length, 3);
    EXPECT_EQ(segment.receive_job.result, 1);
    EXPECT_EQ(std::memcmp(segment.receive_job.data, "\x01\x10\x02", 3), 0);
    EXPECT_EQ(segment.receive_job.server_busy, 0);
    EXPECT_EQ(tested().p3964_fifo.count, 0);
    EXPECT_EQ(tested().p3964_fifo.head, 1);
    EXPECT_EQ(tested().p3964_fifo.entries[0].state, SLOT_FREE);
    EXPECT_EQ(tested().p3964_fifo.entries[0].status, 0);
}

TEST_F(Dispatcher, EntriesLeaveInArrivalOrderAcrossTheEndOfTheRing)
{
    tested().p3964_fifo.head = 14;
    for (uint8_t i = 0; i < 4; ++i) {
        queue_entry({i}, 1);
    }
    for (uint8_t i = 0; i < 4; ++i) {
        service_jobs(tested(), scripted_step);
        ASSERT_EQ(segment.receive_job.state, JOB_DONE) << int(i);
        EXPECT_EQ(segment.receive_job.data[0], i);
        // Nothing more moves while the client has not emptied the block.
        service_jobs(tested(), scripted_step);
        EXPECT_EQ(tested().p3964_fifo.count, 3 - i);
        collect();
    }
    EXPECT_EQ(tested().p3964_fifo.head, 2);
}

TEST_F(Dispatcher, ReceiveErrorWithoutDataReachesTheClientAsItsCode)
{
    queue_entry({}, RC_RX_BCC);
    service_jobs(tested(), scripted_step);
    EXPECT_EQ(segment.receive_job.state, JOB_DONE);
    EXPECT_EQ(segment.receive_job.length, 0);
    EXPECT_EQ(segment.receive_job.result, RC_RX_BCC);
}

TEST_F(Dispatcher, ReceiveJobIsFilledOnlyWhenIdleAndNotHeldByAClient)
{
    queue_entry({7}, 1);
    hold(segment.receive_job, own_holder_id());
    service_jobs(tested(), scripted_step);
    EXPECT_EQ(segment.receive_job.state, JOB_IDLE);
    segment.receive_job.client_busy = 0;
    segment.receive_job.state = JOB_DONE;  // not yet collected by the client
    service_jobs(tested(), scripted_step);
    EXPECT_EQ(tested().p3964_fifo.count, 1);
    collect();
    service_jobs(tested(), scripted_step);
    EXPECT_EQ(segment.receive_job.state, JOB_DONE);
    EXPECT_EQ(segment.receive_job.data[0], 7);
    EXPECT_EQ(tested().p3964_fifo.count, 0);
}

TEST_F(Dispatcher, SubmittedJobIsStagedIntoTheSendSlot)
{
    submit({0xAA, 0xBB});
    segment.send_job.result = 5;  // whatever the client left there
    service_jobs(tested(), scripted_step);
    EXPECT_EQ(segment.send_job.state, JOB_IN_WORK);
    EXPECT_EQ(segment.send_job.result, 0);
    EXPECT_EQ(segment.send_job.server_busy, 0);
    EXPECT_EQ(tested().snd_set.state, SLOT_STAGED);
    EXPECT_EQ(tested().snd_set.length, 2);
    EXPECT_EQ(tested().snd_set.status, 0);
    EXPECT_EQ(tested().snd_set.data[0], 0xAA);
    EXPECT_EQ(tested().snd_set.data[1], 0xBB);
}

TEST_F(Dispatcher, FinishedSendIsHandedBackInThePassTheEngineFinishedIt)
{
    submit({1});
    service_jobs(tested(), scripted_step);
    during_step = [] {
        tested().snd_set.state = SLOT_DONE;
        tested().snd_set.status = RC_NO_CONNECT;
    };
    service_jobs(tested(), scripted_step);
    EXPECT_EQ(segment.send_job.state, JOB_DONE);
    EXPECT_EQ(segment.send_job.result, RC_NO_CONNECT);
    EXPECT_EQ(tested().snd_set.state, SLOT_FREE);
    EXPECT_EQ(tested().snd_set.status, 0);
}

// No client writes the block while it is at 2: a client_busy that is up
// then (a client killed in a claim) does not keep the result back.
TEST_F(Dispatcher, FinishedSendIsHandedBackEvenWhileAClientHoldsItsByte)
{
    submit({1});
    service_jobs(tested(), scripted_step);
    tested().snd_set.state = SLOT_DONE;
    tested().snd_set.status = 1;
    segment.send_job.client_busy = 1;
    service_jobs(tested(), scripted_step);
    EXPECT_EQ(segment.send_job.state, JOB_DONE);
    EXPECT_EQ(segment.send_job.result, 1);
    EXPECT_EQ(segment.send_job.server_busy, 0);
    EXPECT_EQ(segment.send_job.client_busy, 1);
    EXPECT_EQ(tested().snd_set.state, SLOT_FREE);
}

TEST_F(Dispatcher, HandBackAndStagingNeverHappenInOnePass)
{
    submit({1});
    service_jobs(tested(), scripted_step);
    tested().snd_set.state = SLOT_DONE;
    tested().snd_set.status = 1;
    // Even with a new job in the block, the hand-back pass stages nothing.
    during_step = [this] { segment.send_job.state = JOB_SUBMITTED; };
    service_jobs(tested(), scripted_step);
    EXPECT_EQ(segment.send_job.state, JOB_DONE);
    EXPECT_EQ(tested().snd_set.state, SLOT_FREE);
    during_step = nullptr;
    // An uncollected result blocks the send side entirely.
    service_jobs(tested(), scripted_step);
    EXPECT_EQ(tested().snd_set.state, SLOT_FREE);
    // A new submission over the uncollected result is staged next pass.
    submit({2});
    service_jobs(tested(), scripted_step);
    EXPECT_EQ(segment.send_job.state, JOB_IN_WORK);
    EXPECT_EQ(tested().snd_set.state, SLOT_STAGED);
    EXPECT_EQ(tested().snd_set.data[0], 2);
}

TEST_F(Dispatcher, JobIsNotStagedWhileAClientHoldsTheBlockOrTheSlotIsBusy)
{
    submit({1});
    hold(segment.send_job, own_holder_id());
    service_jobs(tested(), scripted_step);
    EXPECT_EQ(segment.send_job.state, JOB_SUBMITTED);
    // A submission beside a send in work can only come from a faulty write
    // of the state: the send in work keeps the slot and the block.
    segment.send_job.client_busy = 0;
    tested().snd_set.state = SLOT_TAKEN;
    tested().snd_set.data[0] = 9;
    service_jobs(tested(), scripted_step);
    EXPECT_EQ(segment.send_job.state, JOB_IN_WORK);
    EXPECT_EQ(tested().snd_set.state, SLOT_TAKEN);
    EXPECT_EQ(tested().snd_set.data[0], 9);
}

TEST_F(Dispatcher, LengthOutsideTheTelegramRangeIsRefusedWithoutTouchingTheSlot)
{
    for (int32_t bad : {TELEGRAM_MAX + 1, -1, INT32_MAX, INT32_MIN}) {
        submit({});
        segment.send_job.length = bad;
        service_jobs(tested(), scripted_step);
        EXPECT_EQ(segment.send_job.state, JOB_DONE) << bad;
        EXPECT_EQ(segment.send_job.result, RC_TOO_LONG) << bad;
        EXPECT_EQ(segment.send_job.server_busy, 0);
        EXPECT_EQ(tested().snd_set.state, SLOT_FREE);
        segment.send_job.state = JOB_IDLE;
        segment.send_job.result = 0;
    }
    submit(std::vector<uint8_t>(TELEGRAM_MAX, 0x10));
    service_jobs(tested(), scripted_step);
    EXPECT_EQ(tested().snd_set.state, SLOT_STAGED);
    EXPECT_EQ(tested().snd_set.length, TELEGRAM_MAX);
}

TEST_F(Dispatcher, PositiveStopOrderStopsAfterTheWholePass)
{
    for (int value = 1; value <= 127; ++value) {
        stop_reason = STOP_NONE;
        segment.shutdown_request = static_cast<int8_t>(value);
        service_jobs(tested(), scripted_step);
        EXPECT_EQ(stop_reason, STOP_ORDER) << value;
    }
    // The pass still ran the engine and both transfers.
    steps = 0;
    queue_entry({9}, 1);
    submit({3});
    service_jobs(tested(), scripted_step);
    EXPECT_EQ(steps, 1);
    EXPECT_EQ(segment.receive_job.state, JOB_DONE);
    EXPECT_EQ(segment.send_job.state, JOB_IN_WORK);
    EXPECT_EQ(segment.shutdown_request, 127);  // never cleared
}

TEST_F(Dispatcher, NegativeStopOrderIsIgnored)
{
    for (int value = 128; value <= 255; ++value) {
        segment.shutdown_request = static_cast<int8_t>(static_cast<uint8_t>(value));
        service_jobs(tested(), scripted_step);
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
        EXPECT_EQ(block->claim_serial, 0);
        EXPECT_EQ(block->owner_pid, 0);
        EXPECT_EQ(block->owner_seq, 0u);
        EXPECT_EQ(block->claim_holder, 0u);
        EXPECT_EQ(block->reserved_6[0], 0x5A);
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

// A claim holds the server back for as long as its holder lives; one whose
// holder has ended (killed in a hand-over or a fetch), or that names none,
// no longer, and the log says so.
TEST_F(Dispatcher, ClaimWithoutALiveHolderHoldsTheServerBackNoLonger)
{
    const pid_t ended = qotest::ended_process_id();
    const std::string held_by = " held by process " + std::to_string(ended) + ", which has ended";
    const std::vector<std::tuple<uint64_t, bool, std::string>> cases{
        {own_holder_id(), false, ""}, {static_cast<uint32_t>(ended), true, held_by}, {0, true, " names no holder"}};
    qotest::TempDir dir;
    for (const auto& [holder, taken, why] : cases) {
        SetUp();
        runtime_log_reset();
        submit({4});
        hold(segment.send_job, holder);
        queue_entry({5}, 1);
        hold(segment.receive_job, holder);
        CapturedOutput output(dir);
        service_jobs(tested(), scripted_step);
        service_jobs(tested(), scripted_step);
        output.finish();
        EXPECT_EQ(segment.send_job.state, taken ? JOB_IN_WORK : JOB_SUBMITTED) << why;
        EXPECT_EQ(segment.receive_job.state, taken ? JOB_DONE : JOB_IDLE) << why;
        const auto line = [why = why](const char* block) {
            return "<4>qo3964_server: " + std::string(block) + ": client_busy 1" + why + ": taken for left over\n";
        };
        EXPECT_EQ(output.err(), taken ? line("receive_job") + line("send_job") : "");
    }
}

// What only the server writes is put back at the start of the next pass,
// and every repair is logged.
TEST_F(Dispatcher, WrongValuesInTheServersFieldsArePutBack)
{
    qotest::TempDir dir;
    runtime_log_reset();
    struct Case {
        const char* what;
        std::function<void()> write;
        std::function<bool()> repaired;
    };
    JobBlock& send = segment.send_job;
    JobBlock& receive = segment.receive_job;
    const std::vector<Case> cases{
        {"send server_busy", [&] { send.server_busy = 1; }, [&] { return send.server_busy == 0; }},
        {"receive server_busy", [&] { receive.server_busy = 7; }, [&] { return receive.server_busy == 0; }},
        {"send shutdown_mark", [&] { send.shutdown_mark = 1; }, [&] { return send.shutdown_mark == 0; }},
        {"receive shutdown_mark", [&] { receive.shutdown_mark = SHUTDOWN_MARK; },
         [&] { return receive.shutdown_mark == 0; }},
        {"receive result when idle", [&] { receive.result = 5; }, [&] { return receive.result == 0; }},
        {"send state 2 without a send", [&] { send.state = JOB_IN_WORK; },
         [&] { return send.state == JOB_DONE && send.result == RC_TOO_LONG; }},
        {"send state 7 without a send", [&] { send.state = 7; },
         [&] { return send.state == JOB_DONE && send.result == RC_TOO_LONG; }},
        {"send state -5 with a send in work",
         [&] {
             tested().snd_set.state = SLOT_TAKEN;
             send.state = -5;
         },
         [&] { return send.state == JOB_IN_WORK && tested().snd_set.state == SLOT_TAKEN; }},
        // A lower state would let another client submit over the send in
        // work, or tell a polling client that it has ended.
        {"send state 0 with a send in work",
         [&] {
             tested().snd_set.state = SLOT_TAKEN;
             send.state = JOB_IDLE;
         },
         [&] { return send.state == JOB_IN_WORK; }},
        {"send state 3 with a send in work",
         [&] {
             tested().snd_set.state = SLOT_TAKEN;
             send.state = JOB_DONE;
         },
         [&] { return send.state == JOB_IN_WORK; }},
        {"receive length when idle", [&] { receive.length = 100; }, [&] { return receive.length == 0; }},
        // Applications and qo3964_ctl tell the line and its server by these.
        {"server name", [&] { segment.info.server_name[0] = 'X'; },
         [&] { return std::string(segment.info.server_name) == SERVER_NAME; }},
        {"info_code", [&] { segment.info.info_code = 0; }, [&] { return segment.info.info_code == SERVER_INFO_CODE; }},
        {"record of the line", [&] { segment.info.line.server_pid = 1; },
         [&] { return segment.info.line.server_pid == getpid(); }},
        {"port in the record", [&] { std::memset(segment.info.line.port, 0, sizeof segment.info.line.port); },
         [&] { return std::string(segment.info.line.port) == "/dev/ttyS1"; }},
    };
    for (const Case& c : cases) {
        SetUp();
        runtime_log_reset();  // every case's line, beyond the log's limit per kind
        c.write();
        CapturedOutput output(dir);
        service_jobs(tested(), scripted_step);
        output.finish();
        EXPECT_TRUE(c.repaired()) << c.what;
        EXPECT_EQ(send.server_busy, 0) << c.what;
        EXPECT_EQ(output.err().rfind("<4>qo3964_server: ", 0), 0u) << c.what << ": " << output.err();
    }
    // A healthy segment is left alone, silently.
    SetUp();
    CapturedOutput output(dir);
    service_jobs(tested(), scripted_step);
    output.finish();
    EXPECT_EQ(output.err(), "");
}

}  // namespace
