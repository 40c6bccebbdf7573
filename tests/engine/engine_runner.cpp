#include "engine_runner.h"

#include <algorithm>
#include <chrono>

#include "link_transfer.h"
#include "protocol_engine.h"

namespace qotest {

EngineRunner::EngineRunner() : thread_([this] { loop(); }) {}

EngineRunner::~EngineRunner()
{
    stop();
}

void EngineRunner::stop()
{
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
}

void EngineRunner::loop()
{
    while (!stop_) {
        serve_requests();
        if (stop_) {
            break;
        }
        StepRecord record{engine.engine_state, 0, engine.tx_pos, 0};
        engine_step();
        record.state_after = engine.engine_state;
        record.tx_pos_after = engine.tx_pos;
        trace_.push_back(record);
        ++steps_;
    }
}

void EngineRunner::serve_requests()
{
    std::lock_guard<std::mutex> lock(mutex_);
    bool any = false;
    for (auto& request : requests_) {
        if (!request->done && request->condition()) {
            if (request->action) {
                request->action();
            }
            request->done = true;
            any = true;
        }
    }
    if (any) {
        std::erase_if(requests_, [](const auto& request) { return request->done; });
        served_.notify_all();
    }
}

bool EngineRunner::wait_until(std::function<bool()> condition, int timeout_ms,
                              std::function<void()> action)
{
    auto request = std::make_shared<Request>();
    request->condition = std::move(condition);
    request->action = std::move(action);
    std::unique_lock<std::mutex> lock(mutex_);
    requests_.push_back(request);
    const bool done = served_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                       [&] { return request->done; });
    if (!done) {
        std::erase(requests_, request);
    }
    return done;
}

bool EngineRunner::between_steps(std::function<void()> action)
{
    return wait_until([] { return true; }, 10000, std::move(action));
}

bool EngineRunner::wait_steps(int64_t count, int timeout_ms)
{
    const int64_t target = steps() + count;
    return wait_until([this, target] { return steps_.load() >= target; }, timeout_ms);
}

}  // namespace qotest
