// SPDX-License-Identifier: MIT
// How the simulated partner speaks the procedure. The defaults are those of
// the server, so that both ends agree unless a test wants otherwise.
#pragma once

#include <cstdint>
#include <cstddef>

#include "line_bytes.h"

namespace qopartner {

// Who keeps its connection request when both sides send STX at once: the
// high-priority side waits on for DLE, the low-priority side answers the
// other's STX with DLE and receives first. The server yields, so the
// partner is high by default.
enum class Priority { high, low };

struct PartnerSettings {
    bool bcc = true;              // 3964R: a BCC follows DLE ETX; false: 3964
    int zvz_ms = 220;             // character delay time
    int qvz_ms = 2000;            // acknowledgement delay time
    int send_attempts = 6;        // attempts per telegram, the first one included
    Priority priority = Priority::high;
    bool echo = false;            // send every received telegram back
    size_t max_length = 4096;     // longest telegram taken; longer ones get NAK

    // Quiet time on the line before a repetition; negative: 2 × zvz, so a
    // NAK the other side sends after its own zvz is seen first.
    int retry_delay_ms = -1;
    // Length of the injected pause inside a telegram; negative: 2 × zvz.
    int pause_ms = -1;
    // The stray-byte fault: which byte, and how long the line must have
    // been quiet before the next one (negative: 2 × zvz).
    uint8_t stray_byte = 0x41;
    int stray_quiet_ms = -1;
    // Sent when the conflict fault answers a STX while nothing is queued.
    Bytes conflict_telegram = {'C', 'O', 'N', 'F', 'L', 'I', 'C', 'T'};
    // Seed of the random source of faults given as probabilities.
    uint64_t seed = 1;

    int effective_retry_delay_ms() const { return retry_delay_ms >= 0 ? retry_delay_ms : 2 * zvz_ms; }
    int effective_pause_ms() const { return pause_ms >= 0 ? pause_ms : 2 * zvz_ms; }
    int effective_stray_quiet_ms() const { return stray_quiet_ms >= 0 ? stray_quiet_ms : 2 * zvz_ms; }
};

}  // namespace qopartner
