// SPDX-License-Identifier: MIT
#include "client_calls.h"

#include <thread>

namespace e2etest {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds POLL{10};

}  // namespace

Bytes Received::telegram() const
{
    if (result <= 0) {
        return {};
    }
    return Bytes(buffer.begin(), buffer.begin() + result);
}

Received receive_within(int handle, std::chrono::milliseconds timeout, int size)
{
    Received received;
    const auto end = Clock::now() + timeout;
    for (;;) {
        received.buffer.assign(static_cast<size_t>(size), Received::FILL);
        received.result = qo3964m_receive(handle, received.buffer.data(), size);
        if (received.result != 0 || Clock::now() >= end) {
            return received;
        }
        std::this_thread::sleep_for(POLL);
    }
}

int send_result_within(int handle, std::chrono::milliseconds timeout)
{
    const auto end = Clock::now() + timeout;
    for (;;) {
        const int result = qo3964m_send_control(handle);
        if (result != 0 || Clock::now() >= end) {
            return result;
        }
        std::this_thread::sleep_for(POLL);
    }
}

}  // namespace e2etest
