// SPDX-License-Identifier: MIT
#include "engine_fixture.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "wait_until.h"

using namespace qo3964;

namespace qotest {

namespace {

constexpr uint8_t STX_BYTE = 0x02;
constexpr uint8_t DLE_BYTE = 0x10;
constexpr size_t ANSWER_CHUNK = 1024;

// Unread bytes on the engine's side of the line; -1 when unknown.
int input_held(int line_fd)
{
    int pending = 0;
    return ioctl(line_fd, FIONREAD, &pending) == 0 ? pending : -1;
}

// Waits until the engine's side of the line holds at least `count` unread bytes.
bool await_input(int line_fd, size_t count)
{
    return wait_until([line_fd, count] { return input_held(line_fd) >= static_cast<int>(count); });
}

Entry entry_at(const Link& link, int32_t index)
{
    const TelegramSlot& slot = link.p3964_fifo.entries[index % FIFO_DEPTH];
    return Entry{Bytes(slot.data, slot.data + slot.length), slot.status, slot.state};
}

}  // namespace

uint8_t block_check(const Bytes& bytes)
{
    uint8_t check = 0;
    for (uint8_t byte : bytes) {
        check ^= byte;
    }
    return check;
}

Bytes with_wrong_bcc(const Bytes& data)
{
    Bytes out = framed(data);
    out.back() ^= 0x01;
    return out;
}

Bytes operator+(Bytes left, const Bytes& right)
{
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

Bytes pattern(size_t count)
{
    Bytes out(count);
    for (size_t i = 0; i < count; ++i) {
        out[i] = static_cast<uint8_t>((i * 7 + 3) % 256);
    }
    return out;
}

Answer dle_to_stx(const Link& link, int32_t failed)
{
    return Answer{ENGINE_TX_CONNECT, {DLE_BYTE},
                  [&link, failed] { return link.transfer.send_attempts == failed; }};
}

Answer to_closing_block(const Bytes& answer)
{
    return Answer{ENGINE_TX_ACK, answer};
}

void EngineLineTest::TearDown()
{
    reset_link();
}

void EngineLineTest::reset_link()
{
    runner_.reset();
    answers_.reset();
    if (socket_fds_[0] >= 0) {
        close(socket_fds_[0]);
        close(socket_fds_[1]);
        socket_fds_[0] = socket_fds_[1] = -1;
        link().line.line_fd = pty_line_fd_;
    }
    if (link().line.line_fd >= 0) {
        serial_restore(link().line);
    }
    link_ = std::make_unique<Link>();
}

void EngineLineTest::open_line(const Procedure& settings)
{
    ASSERT_EQ(link_open(link(), pty_.slave_path().c_str(), 9600, 'N', 'N', settings.tds, settings.tdr,
                        settings.mmode, settings.zvz, settings.qvz, settings.bcc_mode, 0),
              0);
    partner_fd_ = pty_.master();
}

void EngineLineTest::use_socket_line()
{
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, socket_fds_), 0);
    fcntl(socket_fds_[0], F_SETFL, fcntl(socket_fds_[0], F_GETFL) | O_NONBLOCK);
    fcntl(socket_fds_[1], F_SETFL, fcntl(socket_fds_[1], F_GETFL) | O_NONBLOCK);
    pty_line_fd_ = link().line.line_fd;
    link().line.line_fd = socket_fds_[0];
    partner_fd_ = socket_fds_[1];
}

void EngineLineTest::start_engine()
{
    runner_ = std::make_unique<EngineRunner>(link());
}

void EngineLineTest::feed(const Bytes& bytes)
{
    write_bytes(partner_fd_, bytes);
}

void EngineLineTest::feed_then(const Bytes& bytes, const std::function<void()>& action)
{
    bool arrived = false;
    ASSERT_TRUE(runner().between_steps([&] {
        write_bytes(partner_fd_, bytes);
        arrived = await_input(link().line.line_fd, bytes.size());
        action();
    }));
    ASSERT_TRUE(arrived);
}

void EngineLineTest::partner_answers(std::vector<Answer> answers)
{
    ASSERT_FALSE(answers_) << "earlier answers still outstanding";
    struct Script {
        std::vector<Answer> answers;
        size_t next = 0;
        int64_t given_at = -1;  // step count when the last answer was given
    };
    auto script = std::make_shared<Script>();
    script->answers = std::move(answers);
    EngineRunner* runner = runner_.get();
    const int fd = partner_fd_;
    Link* tested = link_.get();
    answers_ = runner->post([script, runner, fd, tested] {
        if (script->next < script->answers.size() && runner->steps() > script->given_at) {
            const Answer& answer = script->answers[script->next];
            if (tested->engine.engine_state == answer.state && (!answer.also || answer.also())) {
                write_bytes(fd, answer.bytes);
                if (!await_input(tested->line.line_fd, answer.bytes.size())) {
                    ADD_FAILURE() << "answer " << script->next << " did not reach the engine";
                }
                script->next += 1;
                script->given_at = runner->steps();
            }
        }
        return script->next == script->answers.size();
    });
}

void EngineLineTest::answers_given(int timeout_ms)
{
    ASSERT_TRUE(answers_);
    const bool given = runner().wait(answers_, timeout_ms);
    answers_.reset();
    ASSERT_TRUE(given) << "the engine never reached the state of an answer";
}

void EngineLineTest::partner_sends(const Bytes& block)
{
    // The block's start is given between two steps as soon as the engine
    // receives; a long block's rest follows from the test's thread, as the
    // engine's side of a pty holds only a few kilobytes.
    const size_t first = std::min(block.size(), ANSWER_CHUNK);
    partner_answers({{ENGINE_RX_BODY, Bytes(block.begin(), block.begin() + static_cast<ptrdiff_t>(first))}});
    feed({STX_BYTE});
    answers_given();
    if (first < block.size()) {
        feed(Bytes(block.begin() + static_cast<ptrdiff_t>(first), block.end()));
    }
}

void EngineLineTest::wait_state(int32_t state, int timeout_ms)
{
    ASSERT_TRUE(runner().wait_between_steps([this, state] { return link().engine.engine_state == state; }, timeout_ms))
        << "the engine did not reach state " << state;
}


bool EngineLineTest::engine_took_everything()
{
    // Only on the socket line, where a written byte is readable at once.
    // The descriptor is not changed while the engine runs, so reading its
    // queue from the test thread touches no engine state.
    EXPECT_GE(socket_fds_[0], 0);
    const int line_fd = socket_fds_[0];
    return wait_until([line_fd] { return input_held(line_fd) == 0; });
}

Bytes EngineLineTest::line(size_t count, int timeout_ms)
{
    return read_bytes(partner_fd_, count, timeout_ms);
}

bool EngineLineTest::line_quiet(int ms)
{
    return read_bytes(partner_fd_, 1, ms).empty();
}

void EngineLineTest::stage_send(const Bytes& data)
{
    TelegramSlot& snd_set = link().snd_set;
    std::copy(data.begin(), data.end(), snd_set.data);
    snd_set.length = static_cast<int32_t>(data.size());
    snd_set.status = 0;
    snd_set.state = SLOT_STAGED;
}

void EngineLineTest::stage_send_now(const Bytes& data)
{
    ASSERT_TRUE(runner().between_steps([&] { stage_send(data); }));
}

int32_t EngineLineTest::send_result(int timeout_ms)
{
    int32_t status = 0;
    const bool done = runner().wait_between_steps([this] { return link().snd_set.state == SLOT_DONE; }, timeout_ms,
                                                  [&] { status = link().snd_set.status; });
    EXPECT_TRUE(done) << "the send was not finished in time";
    return status;
}

std::vector<int64_t> EngineLineTest::step_times(int32_t from, int32_t to)
{
    std::vector<int64_t> times;
    for (const StepRecord& step : runner().trace()) {
        if (step.state_before == from && step.state_after == to) {
            times.push_back(step.end_ms);
        }
    }
    return times;
}

bool EngineLineTest::wait_entries(int32_t count, int timeout_ms)
{
    return runner().wait_between_steps([this, count] { return link().p3964_fifo.count == count; }, timeout_ms);
}

void EngineLineTest::expect_error_entry(int32_t status)
{
    ASSERT_TRUE(wait_entries(1));
    const Entry entry = pop_entry_now();
    EXPECT_EQ(hex(entry.data), "");
    EXPECT_EQ(entry.status, status);
}

Entry EngineLineTest::pop_entry()
{
    ReceiveFifo& p3964_fifo = link().p3964_fifo;
    Entry entry = entry_at(link(), p3964_fifo.head);
    p3964_fifo.entries[p3964_fifo.head].state = SLOT_FREE;
    p3964_fifo.head = (p3964_fifo.head + 1) % FIFO_DEPTH;
    p3964_fifo.count -= 1;
    return entry;
}

Entry EngineLineTest::pop_entry_now()
{
    return runner().query([this] { return pop_entry(); });
}

std::vector<Entry> EngineLineTest::entries()
{
    return runner().query([this] {
        std::vector<Entry> held;
        for (int32_t i = 0; i < link().p3964_fifo.count; ++i) {
            held.push_back(entry_at(link(), link().p3964_fifo.head + i));
        }
        return held;
    });
}

void EngineLineTest::fill_ring(int32_t head, int32_t count)
{
    ReceiveFifo& p3964_fifo = link().p3964_fifo;
    p3964_fifo.head = head;
    p3964_fifo.count = count;
    for (int32_t i = 0; i < count; ++i) {
        TelegramSlot& slot = p3964_fifo.entries[(head + i) % FIFO_DEPTH];
        slot.data[0] = static_cast<uint8_t>(i);
        slot.length = 1;
        slot.status = 1;
        slot.state = SLOT_DONE;
    }
}

}  // namespace qotest
