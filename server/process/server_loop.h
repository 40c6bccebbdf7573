// SPDX-License-Identifier: MIT
// The server's main loop: a pass of the job exchange whenever something
// happened, and in between one wait for everything that can happen: the
// line (bytes to read, room to write), the doorbell and the signals (on
// the wake descriptor), and the link's earliest deadline.
#pragma once

#include <cstdint>

namespace qo3964 {

struct Link;

// The longest wait: a job handed over by a program that does not ring the
// doorbell (an older library) is found within this, a stop byte written by
// a program outside the system too.
inline constexpr int32_t LOOK_MS = 100;
// The longest wait while no unrung job can come (a send in work): a stop
// byte written by a program outside the system is found within this.
inline constexpr int32_t STOP_LOOK_MS = 1000;

// Runs passes until a stop reason is set.
void run_server_loop(Link& link, int wake_fd);

}  // namespace qo3964
