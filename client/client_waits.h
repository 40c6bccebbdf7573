// SPDX-License-Identifier: MIT
// How the library waits. It does not poll: a waiting send sleeps on the
// futex of send_job's state and is woken by the server when the state
// changes; the waits are bounded all the same and look again, so that a
// server that does not wake (an older one) is still heard.
//
// Internal to the library: nothing here is part of the public header.
#pragma once

#include <cstdint>

namespace qo3964::client {

// The longest wait between two looks at the block.
inline constexpr int32_t LOOK_MS = 100;
// While the server is copying into or out of the block (server_busy up):
// microseconds, so a short pause and another look.
inline constexpr int32_t BUSY_PAUSE_MS = 1;

}  // namespace qo3964::client
