// SPDX-License-Identifier: MIT
// How long a client has held client_busy of each job block, as the server
// sees it pass by pass. A claim held for CLAIM_STALE_MS belongs to a client
// that died holding it: the server says so in its log, once per claim.
#pragma once

#include "shared_segment.h"

namespace qo3964 {

// Looks at client_busy of both blocks; called once a pass.
void watch_client_claims();

// True while client_busy of `job` has been up for CLAIM_STALE_MS or more.
bool client_claim_stale(const volatile JobBlock& job);

// Forgets what was seen (tests).
void client_claim_watch_reset();

}  // namespace qo3964
