// SPDX-License-Identifier: MIT
// The pauses of qo3964m_send. Together with the engine's pacing they set
// the floor of a send's latency, so the benchmark's model of that floor
// takes them from here.
//
// Internal to the library: nothing here is part of the public header.
#pragma once

#include <cstdint>

namespace qo3964::client {

// Pauses of a send: while the block is busy, after a failed claim and
// while the result is awaited; and once right after the hand-over.
inline constexpr int32_t POLL_PAUSE_MS = 20;
inline constexpr int32_t HANDOVER_PAUSE_MS = 10;

}  // namespace qo3964::client
