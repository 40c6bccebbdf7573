// SPDX-License-Identifier: MIT
// The engine on a pseudo-terminal, with the test playing the partner on
// the master side with hand-written bytes. For line errors, which a pty
// cannot produce, the engine's descriptor can be swapped for one end of a
// socket pair on which the test writes the driver's PARMRK markings.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "block_encoder.h"
#include "engine_runner.h"
#include "link.h"
#include "test_support.h"

namespace qotest {

// Procedure settings of one test. Times are generous where they are not
// the subject of the test, so that a loaded machine cannot break it.
struct Procedure {
    int16_t tds = 3;
    int16_t tdr = 1;
    int16_t mmode = 0;
    int32_t zvz = 1000;
    int32_t qvz = 2000;
    int32_t bcc_mode = 1;
};

// One ReceiveFifo entry as the dispatcher would hand it on.
struct Entry {
    Bytes data;
    int32_t status = 0;
    int32_t state = 0;
};

// The XOR of all bytes.
uint8_t block_check(const Bytes& bytes);
// What goes on the line for `data` after the DLE to STX, as the partner
// simulator writes it (its own code, not the engine's): the data with every
// DLE doubled, DLE ETX, and in 3964R mode the BCC.
inline Bytes framed(const Bytes& data, int32_t bcc_mode = 1)
{
    return qopartner::encode_block(data, bcc_mode != 0);
}
// The same in 3964R mode with a BCC that is one bit off.
Bytes with_wrong_bcc(const Bytes& data);
Bytes operator+(Bytes left, const Bytes& right);
// `count` bytes of a pattern that contains DLEs.
Bytes pattern(size_t count);

// One answer of the partner; see EngineLineTest::partner_answers.
struct Answer {
    int32_t state;
    Bytes bytes;
    std::function<bool()> also = {};
};

// The partner's DLE to the own STX of the attempt after `failed` failures
// (of the link's send).
Answer dle_to_stx(const qo3964::Link& link, int32_t failed = 0);
// The partner's answer to the closing block of a telegram.
Answer to_closing_block(const Bytes& answer = {0x10});

class EngineLineTest : public ::testing::Test {
protected:
    void TearDown() override;

    // The link under test (a fresh one for each test).
    qo3964::Link& link() { return *link_; }
    // Starts over with a fresh link (the line closed, the engine stopped).
    void reset_link();
    // link_open on the pty with these settings.
    void open_line(const Procedure& settings);
    // After open_line: the engine reads and writes a socket instead.
    void use_socket_line();
    void start_engine();
    EngineRunner& runner() { return *runner_; }

    int partner() const { return partner_fd_; }
    // Bytes to the engine, at once.
    void feed(const Bytes& bytes);
    // Between two steps: bytes to the engine, wait until the engine's side
    // holds them, then `action`; so the next step sees both together.
    void feed_then(const Bytes& bytes, const std::function<void()>& action);
    // The partner's answers, posted before whatever leads to them: each is
    // given between two steps as soon as the engine is in its state (and
    // its `also` holds), at least one step after the one before, and is
    // readable when the next step begins. So no answer depends on how fast
    // the test thread reads the line. Returns at once.
    void partner_answers(std::vector<Answer> answers);
    // Waits until all posted answers have been given.
    void answers_given(int timeout_ms = 10000);
    // A telegram of the partner as a sender writes it: STX, and `block`
    // once the engine has answered DLE and is receiving (the DLE is left on
    // the line for the test). Returns when the block has been given.
    void partner_sends(const Bytes& block);
    // Waits until the engine is in `state` between two steps; after a
    // failure it is idle again once the line has been quiet for zvz.
    void wait_state(int32_t state, int timeout_ms = 10000);
    // On the socket line: waits (bounded) until the engine has read all
    // bytes sent to it.
    bool engine_took_everything();
    // Up to `count` bytes from the engine within the bound.
    Bytes line(size_t count, int timeout_ms = 5000);
    // True when the engine writes nothing for `ms`.
    bool line_quiet(int ms);

    Answer dle_to_stx(int32_t failed = 0) const { return qotest::dle_to_stx(*link_, failed); }

    // The dispatcher's staging of a send (SendSlot state 1; engine thread).
    void stage_send(const Bytes& data);
    void stage_send_now(const Bytes& data);
    // Waits until the SendSlot is finished and returns its status.
    int32_t send_result(int timeout_ms = 10000);
    // Times (steady clock, ms) of the steps that went from `from` to `to`;
    // after runner().stop().
    std::vector<int64_t> step_times(int32_t from, int32_t to);
    // Waits until the ring holds `count` entries.
    bool wait_entries(int32_t count, int timeout_ms = 5000);
    // Waits for the one entry of a failed reception: no data, `status`.
    void expect_error_entry(int32_t status);
    // The dispatcher's removal of the oldest entry (engine thread only).
    Entry pop_entry();
    Entry pop_entry_now();
    // Entries held, oldest first, taken between two steps.
    std::vector<Entry> entries();
    // A ring of `count` one-byte entries starting at `head` (engine thread).
    void fill_ring(int32_t head, int32_t count);

private:
    std::unique_ptr<qo3964::Link> link_ = std::make_unique<qo3964::Link>();
    PtyPair pty_;
    int partner_fd_ = -1;
    int pty_line_fd_ = -1;
    int socket_fds_[2] = {-1, -1};
    std::unique_ptr<EngineRunner> runner_;
    EngineRunner::Ticket answers_;
};

}  // namespace qotest
