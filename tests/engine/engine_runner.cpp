// SPDX-License-Identifier: MIT
#include "engine_runner.h"

#include <algorithm>
#include <chrono>

#include <sys/eventfd.h>
#include <unistd.h>

#include "link.h"

using namespace qo3964;

namespace qotest {

namespace {

// The runner's longest wait: requests whose condition changes without a
// step (a time) are looked at again after it.
constexpr int32_t LOOK_MS = 20;

}  // namespace

EngineRunner::EngineRunner(Link& link)
    : link_(link), wake_fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), thread_([this] { loop(); })
{
}

EngineRunner::~EngineRunner()
{
    stop();
    close(wake_fd_);
}

void EngineRunner::stop()
{
    stop_ = true;
    wake();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void EngineRunner::wake()
{
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(wake_fd_, &one, sizeof one);
}

void EngineRunner::loop()
{
    while (!stop_) {
        // Between two steps: the requests, the wait, and the requests the
        // wait brought. The wait notes what the line holds, as the server's
        // does; after an action it only looks, so that the next step sees
        // the bytes the action fed.
        const bool acted = serve_requests();
        link_wait(link_, wake_fd_, acted ? 0 : LOOK_MS);
        while (!stop_ && serve_requests()) {
            link_wait(link_, wake_fd_, 0);
        }
        if (stop_) {
            break;
        }
        StepRecord record{link_.engine.engine_state, 0, link_.engine.tx_pos, 0, 0, false};
        record.moved = engine_step(link_);
        record.state_after = link_.engine.engine_state;
        record.tx_pos_after = link_.engine.tx_pos;
        record.end_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
        trace_.push_back(record);
        ++steps_;
    }
}

bool EngineRunner::serve_requests()
{
    std::lock_guard<std::mutex> lock(mutex_);
    bool any = false;
    for (const Ticket& request : requests_) {
        if (!request->done && request->poll()) {
            request->done = true;
            any = true;
        }
    }
    if (any) {
        std::erase_if(requests_, [](const Ticket& request) { return request->done; });
        served_.notify_all();
    }
    return any;
}

EngineRunner::Ticket EngineRunner::post(std::function<bool()> poll)
{
    auto request = std::make_shared<Request>();
    request->poll = std::move(poll);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
    }
    wake();
    return request;
}

bool EngineRunner::wait(const Ticket& ticket, int timeout_ms)
{
    std::unique_lock<std::mutex> lock(mutex_);
    const bool done = served_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                       [&] { return ticket->done; });
    if (!done) {
        std::erase(requests_, ticket);
    }
    return done;
}

bool EngineRunner::wait_between_steps(std::function<bool()> condition, int timeout_ms, std::function<void()> action)
{
    return wait(post([condition = std::move(condition), action = std::move(action)] {
                    if (!condition()) {
                        return false;
                    }
                    if (action) {
                        action();
                    }
                    return true;
                }),
                timeout_ms);
}

bool EngineRunner::between_steps(std::function<void()> action)
{
    return wait_between_steps([] { return true; }, 10000, std::move(action));
}

bool EngineRunner::wait_steps(int64_t count, int timeout_ms)
{
    const int64_t target = steps() + count;
    return wait_between_steps([this, target] { return steps_.load() >= target; }, timeout_ms);
}

}  // namespace qotest
