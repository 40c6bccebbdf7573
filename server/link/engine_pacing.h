// SPDX-License-Identifier: MIT
// The protocol engine's pacing: how long its reads wait, how long it sleeps
// between steps and how much it does in one. Together with the client
// library's pauses these set the floor of every latency and rate, so the
// benchmark's model of that floor takes them from here.
#pragma once

#include <cstdint>

namespace qo3964 {

inline constexpr int32_t IDLE_READ_MS = 20;         // idle and connect reads
inline constexpr int32_t STEP_PAUSE_MS = 20;        // sleep of idle, reject, blocked and receive steps
inline constexpr int32_t DATA_PAUSE_MS = 10;        // sleep after each data step
inline constexpr int32_t CHUNK_MAX = 1000;          // data bytes per step
inline constexpr int32_t RX_WINDOW_MS = 100;        // receive window per step
inline constexpr int32_t RX_BLOCKED_MS = 400;       // wait for room before refusing a telegram
inline constexpr int32_t RX_BLOCKED_PAUSE_MS = 1;   // sleep of a step that waits for room

}  // namespace qo3964
