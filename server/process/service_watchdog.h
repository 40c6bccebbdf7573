// SPDX-License-Identifier: MIT
// The service manager's watchdog (WatchdogSec= in the unit): while the
// main loop turns, the server tells WATCHDOG=1 at a third of the interval,
// so that a loop stuck for any reason is noticed, and the manager kills
// and restarts the server. Nothing else sends it: a server that only
// looks alive is not kept alive.
//
// The loop calls watchdog_ping on every pass; the ping keeps its own
// deadline, so a loop that waits for events can also wait for it
// (watchdog_due_ms).
#pragma once

#include <cstdint>

namespace qo3964 {

// Reads the manager's interval ($WATCHDOG_USEC, for this process when
// $WATCHDOG_PID names it). `longest_gap_ms` is the longest time between
// two pings of a loop that turns (its longest wait and a loaded machine):
// when the interval does not cover two of them, the server asks for a
// longer one (WATCHDOG_USEC=) and says so in its runtime log.
void watchdog_start(int32_t longest_gap_ms);
// WATCHDOG=1 when one is due.
void watchdog_ping();
// Milliseconds until the next ping is due; -1 without a watchdog.
int32_t watchdog_due_ms();

}  // namespace qo3964
