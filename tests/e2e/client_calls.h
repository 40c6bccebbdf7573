// SPDX-License-Identifier: MIT
// The client library's calls as a test waits on them: receiving and
// polling with bounds, since neither call waits by itself.
#pragma once

#include <chrono>

#include "qo3964_client.h"
#include "telegrams.h"
#include "wait_until.h"

namespace e2etest {

using qotest::wait_until;

// The outcome of a qo3964m_receive that gave something other than 0.
struct Received {
    int result = 0;  // 0 when nothing came within the time
    Bytes buffer;    // the caller's buffer, pre-filled with FILL before the call

    static constexpr uint8_t FILL = 0xEE;
    // The telegram, when the result is a length.
    Bytes telegram() const;
};

// Calls qo3964m_receive with a buffer of `size` bytes every 10 ms until it
// gives something other than 0, at most for `timeout`.
Received receive_within(int handle, std::chrono::milliseconds timeout, int size = QO3964_TELEGRAM_MAX);

// Calls qo3964m_send_control every 10 ms until it gives something other
// than 0 (the send under way), at most for `timeout`; 0 on time-out.
int send_result_within(int handle, std::chrono::milliseconds timeout);

}  // namespace e2etest
