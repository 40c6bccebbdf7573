// Runs the protocol engine on a thread of its own, one engine_step after
// the other, the way the server's main loop does. The test thread touches
// engine globals only through the runner: its calls execute on the engine's
// thread between two steps, so the test and the engine never race.
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

namespace qotest {

// What one step did to the send side, for counting data steps.
struct StepRecord {
    int32_t state_before;
    int32_t state_after;
    int32_t tx_pos_before;
    int32_t tx_pos_after;
};

class EngineRunner {
public:
    EngineRunner();
    ~EngineRunner();  // stops and joins
    EngineRunner(const EngineRunner&) = delete;
    EngineRunner& operator=(const EngineRunner&) = delete;

    // Waits (at most timeout_ms) until `condition` holds between two steps,
    // then runs `action` there, before the next step. False on timeout.
    bool wait_until(std::function<bool()> condition, int timeout_ms,
                    std::function<void()> action = {});
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
    struct Request {
        std::function<bool()> condition;
        std::function<void()> action;
        bool done = false;
    };

    void loop();
    void serve_requests();

    std::mutex mutex_;
    std::condition_variable served_;
    std::vector<std::shared_ptr<Request>> requests_;
    std::atomic<bool> stop_{false};
    std::atomic<int64_t> steps_{0};
    std::vector<StepRecord> trace_;
    std::thread thread_;
};

}  // namespace qotest
