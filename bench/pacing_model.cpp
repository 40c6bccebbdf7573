// SPDX-License-Identifier: MIT
#include "pacing_model.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <random>

#include "client_pacing.h"
#include "engine_pacing.h"
#include "telegram_buffers.h"

namespace qobench {

namespace {

constexpr uint8_t STX = 0x02;
constexpr uint8_t ETX = 0x03;
constexpr uint8_t DLE = 0x10;
constexpr int SILENCE = -1601;

// The engine's pacing (its reads, sleeps, windows and chunks), the receive
// ring's size and the client library's pauses of a waiting send are the
// product's own constants, so the floors follow any change to them.
using qo3964::CHUNK_MAX;
using qo3964::DATA_PAUSE_MS;
using qo3964::FIFO_DEPTH;
using qo3964::IDLE_READ_MS;
using qo3964::RX_BLOCKED_MS;
using qo3964::RX_BLOCKED_PAUSE_MS;
using qo3964::RX_WINDOW_MS;
using qo3964::STEP_PAUSE_MS;
using qo3964::client::HANDOVER_PAUSE_MS;
using qo3964::client::POLL_PAUSE_MS;

// Where the first action of a run may fall, relative to the server's loop.
constexpr double START_SPREAD_MS = 40;
// No run of the benchmark comes near this; it only ends a model that hangs.
constexpr double PER_TELEGRAM_LIMIT_MS = 60000;

constexpr double NEVER = std::numeric_limits<double>::infinity();

enum JobState { JOB_IDLE = 0, JOB_SUBMITTED = 1, JOB_IN_WORK = 2, JOB_DONE = 3 };
enum SlotState { SLOT_FREE = 0, SLOT_STAGED = 1, SLOT_TAKEN = 2, SLOT_DONE = 3 };

enum class Engine { idle, rx_blocked, rx_accept, rx_body, tx_connect, tx_start, tx_data, tx_ack };
enum class Peer { idle, receiving, connecting, awaiting_ack };
enum class ClientStep { none, hand_over, await_result };
enum class Party { partner, client, application };

class Simulation {
public:
    Simulation(const PacingSettings& settings, uint64_t seed);

    ModelRun sends(const std::vector<Bytes>& telegrams);
    ModelRun receives(const std::vector<Bytes>& telegrams);
    ModelRun idle(double duration_ms);

private:
    struct LineByte {
        double at;    // arrival at the other end
        double seen;  // when the partner reacts to it (bytes for the server: unused)
        uint8_t byte;
    };

    // Who acts next, and when. Times are only ever compared as stored, never
    // recomputed, so that the choice holds also where the FPU computes with
    // more precision than a double holds (x87 on 32-bit builds).
    struct Due {
        double at;
        Party who;
    };

    // ---- time -----------------------------------------------------------
    long tick(double t) const
    {
        const int64_t jiffies = static_cast<int64_t>(std::floor((t + tick_phase_) / jiffy_ms_));
        return static_cast<long>(jiffies * settings_.tick_hz / kernel_hz_);
    }
    // A DeadlineTimer armed now: its deadline in ticks.
    long arm(int ms) const { return tick(now_) + static_cast<long>(ms) * settings_.tick_hz / 1000; }
    bool expired(long deadline) const { return tick(now_) >= deadline; }
    double sleep_end(double from, double ms);
    void server_sleep(double ms);
    void server_wait(double until);
    void advance(double until);
    void run_server(double limit_ms);

    // ---- line -----------------------------------------------------------
    void to_partner(uint8_t byte, double t) { push(partner_inbox_, partner_line_free_, byte, t); }
    void to_server(uint8_t byte, double t) { push(server_inbox_, server_line_free_, byte, t); }
    void push(std::deque<LineByte>& inbox, double& line_free, uint8_t byte, double t);

    // ---- server: engine and dispatcher ----------------------------------
    void pass();
    bool engine_state_step();  // true: go on within the same step
    bool step_idle();
    bool step_rx_body();
    bool step_tx_data();
    bool step_tx_ack();
    int serial_getc(int limit_ms);
    int receive_body();
    void push_received();
    void deliver_received();
    void move_send_job();

    // ---- client, application and partner --------------------------------
    Due next_due() const;
    double partner_next() const;
    void client_act(double t);
    void app_act(double t);
    void partner_act(double t);
    void partner_take(uint8_t byte, double t);
    void partner_finish_reception(double t);
    void partner_write_block(const Bytes& telegram, double t);
    void mark_start(double t);
    void mark_end(double t);
    bool begin_run(const std::vector<Bytes>& telegrams);
    double random_time(double spread_ms);

    PacingSettings settings_;
    std::mt19937_64 random_;
    int kernel_hz_;
    double jiffy_ms_;
    double tick_phase_;
    double now_ = 0;
    double wakeups_ = 0;
    const std::vector<Bytes>* telegrams_ = nullptr;

    std::deque<LineByte> server_inbox_;
    std::deque<LineByte> partner_inbox_;
    double server_line_free_ = 0;
    double partner_line_free_ = 0;

    // Engine, SendSlot, ReceiveFifo and the two JobBlocks.
    Engine state_ = Engine::idle;
    long engine_deadline_ = 0;
    bool send_pending_ = false;
    size_t tx_index_ = 0;
    size_t tx_pos_ = 0;
    bool rx_waiting_ = false;
    int slot_state_ = SLOT_FREE;
    size_t slot_index_ = 0;
    size_t fifo_count_ = 0;
    int send_job_ = JOB_IDLE;
    size_t send_job_index_ = 0;
    int receive_job_ = JOB_IDLE;

    // The application's send loop.
    ClientStep client_step_ = ClientStep::none;
    double client_next_ = NEVER;
    size_t client_index_ = 0;
    double client_started_ = 0;

    // The application's receive loop.
    double app_next_ = NEVER;

    // The partner.
    Peer peer_ = Peer::idle;
    bool peer_after_dle_ = false;
    bool peer_expect_bcc_ = false;
    double peer_idle_since_ = 0;
    size_t peer_next_send_ = 0;
    size_t peer_sends_ = 0;

    // The run's record.
    ModelRun run_;
    size_t wanted_ = 0;
    bool started_ = false;
    double first_ = 0;
    double wakeups_at_start_ = 0;
    bool done_ = false;
};

Simulation::Simulation(const PacingSettings& settings, uint64_t seed)
    : settings_(settings),
      random_(seed),
      kernel_hz_(std::max(1, settings.kernel_hz)),
      jiffy_ms_(1000.0 / kernel_hz_)
{
    settings_.tick_hz = std::max(1, settings.tick_hz);
    // Any point of the tick pattern, which repeats within one second.
    tick_phase_ = random_time(1000.0);
}

void Simulation::push(std::deque<LineByte>& inbox, double& line_free, uint8_t byte, double t)
{
    const double at = std::max(t, line_free) + settings_.char_ms;
    line_free = at;
    inbox.push_back({at, at + settings_.reaction_ms, byte});
}

double Simulation::sleep_end(double from, double ms)
{
    double late = settings_.sleep_slack_ms;
    if (settings_.sleep_jitter_ms > 0) {
        late += std::exponential_distribution<double>(1.0 / settings_.sleep_jitter_ms)(random_);
    }
    return from + ms + late;
}

void Simulation::server_sleep(double ms)
{
    wakeups_ += 1;
    advance(sleep_end(now_, ms));
}

// The reader's poll: the server sleeps until a byte for it arrives or
// `until`, whichever comes first, waking up once.
void Simulation::server_wait(double until)
{
    wakeups_ += 1;
    for (;;) {
        const double arrival = server_inbox_.empty() ? NEVER : server_inbox_.front().at;
        const Due due = next_due();
        if (arrival <= due.at && arrival <= until) {
            now_ = std::max(now_, arrival) + settings_.sleep_slack_ms;
            return;
        }
        if (due.at > until) {
            advance(until);
            now_ = until + settings_.sleep_slack_ms;
            return;
        }
        advance(due.at);
    }
}

// Lets the other parties act on everything due up to `until`, in time order.
void Simulation::advance(double until)
{
    for (;;) {
        const Due due = next_due();
        if (due.at > until) {
            break;
        }
        switch (due.who) {
        case Party::partner:
            partner_act(due.at);
            break;
        case Party::client:
            client_act(due.at);
            break;
        case Party::application:
            app_act(due.at);
            break;
        }
    }
    now_ = until;
}

void Simulation::run_server(double limit_ms)
{
    while (!done_ && now_ < limit_ms) {
        pass();
    }
    run_.finished = done_;
}

// ---- server -------------------------------------------------------------

void Simulation::pass()
{
    // take_send_job
    if (!send_pending_ && slot_state_ == SLOT_STAGED) {
        tx_index_ = slot_index_;
        send_pending_ = true;
        slot_state_ = SLOT_TAKEN;
    }
    while (engine_state_step()) {
    }
    deliver_received();
    move_send_job();
}

bool Simulation::engine_state_step()
{
    switch (state_) {
    case Engine::idle:
        return step_idle();
    case Engine::rx_blocked:
        // The model's application keeps up, so room always comes; the
        // refusal after 400 ms is not modelled.
        push_received();
        if (!rx_waiting_) {
            state_ = Engine::rx_accept;
            return true;
        }
        server_sleep(RX_BLOCKED_PAUSE_MS);
        return false;
    case Engine::rx_accept:
        to_partner(DLE, now_);
        state_ = Engine::rx_body;
        return false;
    case Engine::rx_body:
        return step_rx_body();
    case Engine::tx_connect: {
        const int c = serial_getc(IDLE_READ_MS);
        if (c == DLE) {
            state_ = Engine::tx_start;
            return true;
        }
        if (c == SILENCE && !expired(engine_deadline_)) {
            return false;
        }
        state_ = Engine::idle;  // a failed attempt; none happen in the model
        return false;
    }
    case Engine::tx_start:
        tx_pos_ = 0;
        state_ = Engine::tx_data;
        return true;
    case Engine::tx_data:
        return step_tx_data();
    case Engine::tx_ack:
        return step_tx_ack();
    }
    return false;
}

bool Simulation::step_idle()
{
    if (rx_waiting_ && fifo_count_ < static_cast<size_t>(FIFO_DEPTH)) {
        push_received();
    }
    const int c = serial_getc(IDLE_READ_MS);
    if (c == STX) {
        if (rx_waiting_) {
            engine_deadline_ = arm(RX_BLOCKED_MS);
            state_ = Engine::rx_blocked;
            return false;
        }
        state_ = Engine::rx_accept;
        return true;
    }
    if (c == SILENCE && send_pending_) {
        to_partner(STX, now_);
        engine_deadline_ = arm(settings_.qvz_ms);
        state_ = Engine::tx_connect;
        return false;
    }
    server_sleep(STEP_PAUSE_MS);
    return false;
}

bool Simulation::step_rx_body()
{
    const int r = receive_body();
    if (r == 0) {
        server_sleep(STEP_PAUSE_MS);
        return false;
    }
    state_ = Engine::idle;
    if (r == 1) {
        rx_waiting_ = true;
        push_received();
    }
    return false;
}

bool Simulation::step_tx_data()
{
    const Bytes& telegram = (*telegrams_)[tx_index_];
    const size_t chunk = std::min(telegram.size() - tx_pos_, static_cast<size_t>(CHUNK_MAX));
    for (size_t n = 0; n < chunk; ++n) {
        const uint8_t byte = telegram[tx_pos_++];
        to_partner(byte, now_);
        if (byte == DLE) {
            to_partner(DLE, now_);
        }
    }
    if (tx_pos_ < telegram.size()) {
        server_sleep(DATA_PAUSE_MS);
        return false;
    }
    to_partner(DLE, now_);
    to_partner(ETX, now_);
    if (settings_.bcc) {
        to_partner(0, now_);
    }
    // serial_write waits until the block has left the port.
    if (partner_line_free_ > now_) {
        wakeups_ += 1;
        advance(partner_line_free_);
    }
    server_sleep(DATA_PAUSE_MS);
    state_ = Engine::tx_ack;
    return false;
}

bool Simulation::step_tx_ack()
{
    if (serial_getc(settings_.qvz_ms) == DLE) {
        slot_state_ = SLOT_DONE;  // complete_send
        send_pending_ = false;
    }
    state_ = Engine::idle;
    return false;
}

int Simulation::serial_getc(int limit_ms)
{
    const long deadline = arm(limit_ms);
    for (;;) {
        if (!server_inbox_.empty() && server_inbox_.front().at <= now_) {
            const uint8_t byte = server_inbox_.front().byte;
            server_inbox_.pop_front();
            return byte;
        }
        const long ticks_left = deadline - tick(now_);
        if (ticks_left <= 0) {
            return SILENCE;
        }
        // The reader stops half a tick short and reads its limit again.
        const double tick_ms = 1000.0 / settings_.tick_hz;
        const double left_ms = static_cast<double>(ticks_left) * tick_ms;
        server_wait(now_ + (left_ms > tick_ms / 2 ? left_ms - tick_ms / 2 : left_ms));
    }
}

int Simulation::receive_body()
{
    const long window = arm(RX_WINDOW_MS);
    for (;;) {
        const int c = serial_getc(settings_.zvz_ms);
        if (c == SILENCE) {
            return -85;
        }
        if (c == DLE) {
            const int next = serial_getc(settings_.zvz_ms);
            if (next == SILENCE) {
                return -85;
            }
            if (next == ETX) {
                if (settings_.bcc && serial_getc(settings_.zvz_ms) == SILENCE) {
                    return -86;
                }
                to_partner(DLE, now_);
                return 1;
            }
        }
        if (expired(window)) {
            return 0;
        }
    }
}

void Simulation::push_received()
{
    if (!rx_waiting_ || fifo_count_ >= static_cast<size_t>(FIFO_DEPTH)) {
        return;
    }
    fifo_count_ += 1;
    rx_waiting_ = false;
}

void Simulation::deliver_received()
{
    if (fifo_count_ > 0 && receive_job_ == JOB_IDLE) {
        fifo_count_ -= 1;
        receive_job_ = JOB_DONE;
    }
}

void Simulation::move_send_job()
{
    if (send_job_ == JOB_DONE) {
        return;
    }
    if (slot_state_ == SLOT_DONE) {
        send_job_ = JOB_DONE;
        slot_state_ = SLOT_FREE;
        return;
    }
    if (send_job_ == JOB_SUBMITTED && slot_state_ == SLOT_FREE) {
        slot_index_ = send_job_index_;
        slot_state_ = SLOT_STAGED;
        send_job_ = JOB_IN_WORK;
    }
}

// ---- the other parties --------------------------------------------------

Simulation::Due Simulation::next_due() const
{
    Due due{partner_next(), Party::partner};
    if (client_next_ < due.at) {
        due = {client_next_, Party::client};
    }
    if (app_next_ < due.at) {
        due = {app_next_, Party::application};
    }
    return due;
}

void Simulation::mark_start(double t)
{
    if (!started_) {
        started_ = true;
        first_ = t;
        wakeups_at_start_ = wakeups_;
    }
}

void Simulation::mark_end(double t)
{
    run_.completed += 1;
    run_.elapsed_ms = t - first_;
    run_.server_wakeups = wakeups_ - wakeups_at_start_;
    if (run_.completed >= wanted_) {
        done_ = true;
    }
}

// qo3964m_send: claim and hand over at once, pause 10 ms, then look for
// the result every 20 ms; the next send begins as soon as one returns.
void Simulation::client_act(double t)
{
    if (client_step_ == ClientStep::hand_over) {
        mark_start(t);
        send_job_index_ = client_index_;
        send_job_ = JOB_SUBMITTED;
        client_started_ = t;
        client_step_ = ClientStep::await_result;
        client_next_ = sleep_end(t, HANDOVER_PAUSE_MS);
        return;
    }
    if (send_job_ != JOB_DONE) {
        client_next_ = sleep_end(t, POLL_PAUSE_MS);
        return;
    }
    send_job_ = JOB_IDLE;
    run_.latencies_ms.push_back(t - client_started_);
    mark_end(t);
    client_index_ += 1;
    if (client_index_ >= telegrams_->size()) {
        client_step_ = ClientStep::none;
        client_next_ = NEVER;
        return;
    }
    client_step_ = ClientStep::hand_over;
    client_next_ = t;
}

// The application's receive loop: take what is there and look again at
// once; pause when nothing was there.
void Simulation::app_act(double t)
{
    if (receive_job_ == JOB_DONE) {
        receive_job_ = JOB_IDLE;
        mark_end(t);
        app_next_ = t;
        return;
    }
    app_next_ = settings_.app_poll_ms > 0 ? sleep_end(t, settings_.app_poll_ms) : t + 0.001;
}

double Simulation::partner_next() const
{
    double t = NEVER;
    if (!partner_inbox_.empty()) {
        t = partner_inbox_.front().seen;
    }
    if (peer_ == Peer::idle && peer_next_send_ < peer_sends_ && peer_idle_since_ < t) {
        t = peer_idle_since_;
    }
    return t;
}

void Simulation::partner_act(double t)
{
    if (!partner_inbox_.empty() && partner_inbox_.front().seen <= t) {
        while (!partner_inbox_.empty() && partner_inbox_.front().seen <= t) {
            const uint8_t byte = partner_inbox_.front().byte;
            partner_inbox_.pop_front();
            partner_take(byte, t);
        }
        return;
    }
    // Idle with a telegram of its own: connection request.
    mark_start(t);
    to_server(STX, t);
    peer_ = Peer::connecting;
}

void Simulation::partner_take(uint8_t byte, double t)
{
    switch (peer_) {
    case Peer::idle:
        if (byte == STX) {
            to_server(DLE, t);
            peer_ = Peer::receiving;
            peer_after_dle_ = false;
            peer_expect_bcc_ = false;
        }
        break;
    case Peer::receiving:
        if (peer_expect_bcc_) {
            partner_finish_reception(t);
        } else if (peer_after_dle_) {
            peer_after_dle_ = false;
            if (byte == ETX) {
                if (settings_.bcc) {
                    peer_expect_bcc_ = true;
                } else {
                    partner_finish_reception(t);
                }
            }
        } else if (byte == DLE) {
            peer_after_dle_ = true;
        }
        break;
    case Peer::connecting:
        if (byte == DLE) {
            partner_write_block((*telegrams_)[peer_next_send_], t);
            peer_ = Peer::awaiting_ack;
        }
        break;
    case Peer::awaiting_ack:
        if (byte == DLE) {
            peer_next_send_ += 1;
            peer_ = Peer::idle;
            peer_idle_since_ = t;
        }
        break;
    }
}

void Simulation::partner_finish_reception(double t)
{
    to_server(DLE, t);
    peer_ = Peer::idle;
    peer_idle_since_ = t;
}

void Simulation::partner_write_block(const Bytes& telegram, double t)
{
    for (const uint8_t byte : telegram) {
        to_server(byte, t);
        if (byte == DLE) {
            to_server(DLE, t);
        }
    }
    to_server(DLE, t);
    to_server(ETX, t);
    if (settings_.bcc) {
        to_server(0, t);
    }
}

// ---- runs ---------------------------------------------------------------

// Takes the telegrams of a run; false when there are none to wait for.
bool Simulation::begin_run(const std::vector<Bytes>& telegrams)
{
    telegrams_ = &telegrams;
    wanted_ = telegrams.size();
    run_.finished = wanted_ == 0;
    return wanted_ > 0;
}

double Simulation::random_time(double spread_ms)
{
    return std::uniform_real_distribution<double>(0, std::max(spread_ms, 0.001))(random_);
}

ModelRun Simulation::sends(const std::vector<Bytes>& telegrams)
{
    if (begin_run(telegrams)) {
        client_step_ = ClientStep::hand_over;
        client_next_ = random_time(START_SPREAD_MS);
        run_server(static_cast<double>(wanted_) * PER_TELEGRAM_LIMIT_MS);
    }
    return run_;
}

ModelRun Simulation::receives(const std::vector<Bytes>& telegrams)
{
    if (begin_run(telegrams)) {
        peer_sends_ = telegrams.size();
        peer_idle_since_ = random_time(START_SPREAD_MS);
        app_next_ = random_time(settings_.app_poll_ms);
        run_server(static_cast<double>(wanted_) * PER_TELEGRAM_LIMIT_MS);
    }
    return run_;
}

ModelRun Simulation::idle(double duration_ms)
{
    while (now_ < duration_ms) {
        pass();
    }
    run_.elapsed_ms = now_;
    run_.server_wakeups = wakeups_;
    run_.finished = true;
    return run_;
}

}  // namespace

double char_ms_for(int baud, char parity)
{
    const double bits = parity == 'N' ? 10 : 11;
    return baud > 0 ? bits * 1000.0 / baud : 0;
}

ModelRun model_sends(const PacingSettings& settings, const std::vector<Bytes>& telegrams, uint64_t seed)
{
    return Simulation(settings, seed).sends(telegrams);
}

ModelRun model_receives(const PacingSettings& settings, const std::vector<Bytes>& telegrams, uint64_t seed)
{
    return Simulation(settings, seed).receives(telegrams);
}

ModelRun model_idle(const PacingSettings& settings, double duration_ms, uint64_t seed)
{
    return Simulation(settings, seed).idle(duration_ms);
}

}  // namespace qobench
