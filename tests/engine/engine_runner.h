// SPDX-License-Identifier: MIT
// Runs the protocol engine on a thread of its own the way the server's
// main loop does: a step, then a wait for the line, a deadline or a post.
// The test thread touches the link only through the runner: what it posts
// runs on the engine's thread between two steps, so the test and the
// engine never race.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace qo3964 {
struct Link;
}

namespace qotest {

// What one step did, for counting data steps and for timing the engine's
// own writes (the test's reading of them may lag on a loaded machine).
struct StepRecord {
    int32_t state_before;
    int32_t state_after;
    int32_t tx_pos_before;
    int32_t tx_pos_after;
    int64_t end_ms;  // steady clock, when the step returned
    bool moved;      // the engine did anything in it
};

class EngineRunner {
public:
    struct Request {
        std::function<bool()> poll;
        bool done = false;
    };
    using Ticket = std::shared_ptr<Request>;

    explicit EngineRunner(qo3964::Link& link);
    ~EngineRunner();  // stops and joins
    EngineRunner(const EngineRunner&) = delete;
    EngineRunner& operator=(const EngineRunner&) = delete;

    // `poll` runs between every two steps until it returns true. Returns at once.
    Ticket post(std::function<bool()> poll);
    // Waits (at most timeout_ms) until the posted poll returned true; on
    // timeout it is withdrawn and the result is false.
    bool wait(const Ticket& ticket, int timeout_ms);
    // Waits until `condition` holds between two steps, then runs `action`
    // there, before the next step. False on timeout.
    bool wait_between_steps(std::function<bool()> condition, int timeout_ms, std::function<void()> action = {});
    // Runs `action` between the current and the next step; false when the
    // engine did not get there within 10 s.
    bool between_steps(std::function<void()> action);
    // The value of `read` taken between two steps.
    template <class Read>
    auto query(Read read) -> decltype(read())
    {
        std::optional<decltype(read())> value;
        between_steps([&] { value.emplace(read()); });
        return value ? *value : decltype(read()){};
    }
    // Steps finished so far.
    int64_t steps() const { return steps_.load(); }
    // Waits until `count` more steps than now have finished.
    bool wait_steps(int64_t count, int timeout_ms);

    void stop();
    // One record per step; read it after stop().
    const std::vector<StepRecord>& trace() const { return trace_; }

private:
    void loop();
    bool serve_requests();  // true when a request was served
    void wake();

    qo3964::Link& link_;
    int wake_fd_ = -1;

    std::mutex mutex_;
    std::condition_variable served_;
    std::vector<Ticket> requests_;
    std::atomic<bool> stop_{false};
    std::atomic<int64_t> steps_{0};
    std::vector<StepRecord> trace_;
    std::thread thread_;
};

}  // namespace qotest
