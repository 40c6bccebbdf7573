// SPDX-License-Identifier: MIT
// Claiming client_busy of send_job, so that of several applications that
// hand a telegram to one server at the same moment only one writes the
// block.
//
// The claim is a compare-and-exchange of the byte from 0 to 1. A byte that
// stays up for CLAIM_STALE_MS belongs to a client that died holding it: it
// is taken over by exchanging the value seen for another non-zero value
// (1 or 2), so that of several applications taking it over only one wins.
#pragma once

#include <cstdint>

#include "client_connection.h"

namespace qo3964::client {

// The value now held in client_busy (1 or 2), or 0 when the block could
// not be claimed in this look. A full fence follows a successful claim.
uint8_t claim_send_job(ClientConnection& connection, volatile JobBlock& job);

// True while client_busy still holds `claim` (a process that stood still
// for CLAIM_STALE_MS may have lost its claim to another application).
bool claim_still_held(const volatile JobBlock& job, uint8_t claim);

// Lowers client_busy if it still holds `claim`; nothing for claim 0.
void release_claim(volatile JobBlock& job, uint8_t claim);

}  // namespace qo3964::client
