// SPDX-License-Identifier: MIT
// Whether a client's claim of a job block still has a holder, as the
// server sees it. client_busy stays up after its holder ended (a process
// killed in the midst of a hand-over or a fetch); the block's
// claim_holder names that process, and a claim whose holder has ended, or
// that names none, holds the server back no longer. It says so in its
// log, once per claim. A live holder keeps its claim however long it
// stands still.
#pragma once

#include "shared_segment.h"

namespace qo3964 {

// True while client_busy of `job` is up for a claim that nobody holds.
// A live holder is looked at again at most once a second.
bool client_claim_abandoned(const volatile JobBlock& job);

// Forgets what was seen (tests).
void client_claim_watch_reset();

}  // namespace qo3964
