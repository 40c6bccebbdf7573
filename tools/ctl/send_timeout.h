// SPDX-License-Identifier: MIT
// The default time limit of send: what the server may take for this
// telegram with the settings it runs with (its rc-file's, which it keeps
// in its segment): TDS attempts, each of them QVZ for the partner's answer
// and the time the telegram's characters need at BAUD, and a margin for
// the passes in between. So a partner that does not answer shows as the
// server's -84 or -67, not as the tool's time-out.
#pragma once

#include <cstdint>

#include "counter_snapshot.h"
#include "hex_telegram.h"

namespace qoctl {

// Whole seconds; SEND_TIMEOUT_S when the server keeps no settings.
int32_t default_send_timeout_s(const CounterSnapshot& settings, const Telegram& telegram);

}  // namespace qoctl
