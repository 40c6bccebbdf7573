// SPDX-License-Identifier: MIT
// The server's moves on a job block of the shared segment: its busy byte
// around a transfer, and handing a send result back.
#pragma once

#include <cstdint>

#include "shared_segment.h"

namespace qo3964 {

// Raises server_busy for a transfer. Unless `ignore_client` is set, a
// client that holds client_busy (seen before or, after a full fence, right
// after the raise) keeps the block: the byte is lowered again and the
// result is false; the transfer is tried on a later pass.
bool raise_server_busy(volatile JobBlock& job, bool ignore_client);

// With server_busy raised: `result`, then state 3, then server_busy 0;
// then wakes the application that waits for it.
void hand_back(volatile JobBlock& job, int32_t result);

}  // namespace qo3964
