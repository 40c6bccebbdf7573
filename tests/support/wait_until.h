// SPDX-License-Identifier: MIT
// Waiting for a condition that another thread or process brings about.
// Every wait of the suite has a bound, and the condition is asked once
// more at the bound, so that a late but met condition still counts.
#pragma once

#include <chrono>
#include <thread>

namespace qotest {

template <typename Condition>
bool wait_until(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(5))
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) {
            return condition();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace qotest
