// SPDX-License-Identifier: MIT
// The simulated partner device: plays the controller at the other end of
// the server's serial line. It answers the server's telegrams, sends
// telegrams of its own, and misbehaves on cue (FaultPlan).
//
// Typical use in a test:
//     qopartner::Partner partner(qopartner::PartnerLine::open_pty(), settings);
//     ... start the server on partner.path() ...
//     partner.start();
//     auto report = partner.send({0x01, 0x10, 0x02});
//     auto telegram = partner.wait_received(std::chrono::seconds(5));
//
// The loop runs on a background thread (start/stop) or on the caller's
// thread (run, ended by request_stop from elsewhere). send, wait_received,
// faults, stats and request_stop may be called from any thread at any time;
// the other setters only while the loop is not running.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <ostream>
#include <thread>

#include "fault_plan.h"
#include "line_bytes.h"
#include "partner_line.h"
#include "partner_settings.h"
#include "partner_stats.h"
#include "send_report.h"
#include "traffic_log.h"

namespace qopartner {

class Partner {
public:
    explicit Partner(PartnerLine line, PartnerSettings settings = {});
    ~Partner();  // stops the loop
    Partner(const Partner&) = delete;
    Partner& operator=(const Partner&) = delete;

    // The path the server is to open (pty slave or device).
    const std::string& path() const { return line_.path(); }

    // --- While the loop is not running ---
    void set_settings(const PartnerSettings& settings);
    const PartnerSettings& settings() const { return settings_; }
    // Log lines ("HH:MM:SS.mmm EVENT details") go to this stream; none by default.
    void set_log(std::ostream* out) { log_.set_stream(out); }
    // Received telegrams go to this handler (on the loop thread, before the
    // DLE answer is written) instead of the queue of wait_received.
    using ReceiveHandler = std::function<void(const Bytes&)>;
    void on_received(ReceiveHandler handler) { handler_ = std::move(handler); }
    // The line itself, for scripted exchanges of exact bytes.
    PartnerLine& line() { return line_; }

    // --- The loop ---
    void start();         // runs the loop on a background thread
    void stop();          // ends the loop and waits for it; unfinished sends end `stopped`
    void run();           // runs the loop on this thread until request_stop (not stop)
    void request_stop();  // any thread; the loop ends within a few milliseconds
    bool running() const { return running_; }
    // The device failed or hung up; the loop has ended.
    bool line_lost() const { return line_lost_; }

    // --- Any time, any thread ---
    // Queues a telegram (sent in order, one at a time, when the line is
    // idle); the future tells how it ended. Sends queued while the loop
    // does not run wait for start(); stop() ends all unfinished ones.
    std::future<SendReport> send(Bytes telegram);
    // send and wait for the outcome; nothing when `timeout` passed first.
    std::optional<SendReport> send_and_wait(Bytes telegram, std::chrono::milliseconds timeout);
    // The oldest received telegram not yet taken, waiting up to `timeout`.
    std::optional<Bytes> wait_received(std::chrono::milliseconds timeout);
    FaultPlan& faults() { return faults_; }
    PartnerStats stats() const;

private:
    using Clock = std::chrono::steady_clock;

    struct PendingSend {
        Bytes data;
        std::optional<std::promise<SendReport>> promise;  // none for echoes and conflict telegrams
        int attempts = 0;
        Clock::time_point due{};
    };

    void loop();
    void take_next_send();
    void on_idle_byte(uint8_t byte);
    void answer_connection_request(bool conflict_allowed);
    void receive_telegram();
    void reject_stray(uint8_t first);
    void attempt_send(bool stx_written = false);
    void attempt_failed(SendOutcome outcome, bool nak_on_giving_up = true);
    void finish_send(SendOutcome outcome);
    void fail_unfinished(SendOutcome outcome);
    void deliver(const Bytes& telegram);

    // Waits for the line; throws to end the loop on a stop request or a lost line.
    int read_within(int timeout_ms);
    void pause_for(int ms);
    void check_stop() const;
    void write_control(uint8_t byte);
    bool write_all(const Bytes& bytes);  // throws to end the loop, as read_within
    void wake();
    void drain_wake();

    bool inject(Fault fault);  // fires, counts and logs
    void count(uint64_t PartnerStats::*field, uint64_t amount = 1);

    PartnerLine line_;
    PartnerSettings settings_;
    FaultPlan faults_;
    TrafficLog log_;
    ReceiveHandler handler_;
    int wake_fd_ = -1;

    std::thread thread_;
    std::atomic<bool> stop_requested_{false};
    std::atomic<bool> running_{false};
    std::atomic<bool> line_lost_{false};

    // Loop thread only.
    std::optional<PendingSend> current_;
    Clock::time_point last_activity_{};

    std::mutex send_mutex_;
    std::deque<PendingSend> send_queue_;

    std::mutex received_mutex_;
    std::condition_variable received_ready_;
    std::deque<Bytes> received_;

    mutable std::mutex stats_mutex_;
    PartnerStats stats_;
};

}  // namespace qopartner
