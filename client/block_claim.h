// SPDX-License-Identifier: MIT
// Claiming a job block, so that of several applications that write or
// empty one block at the same moment only one does.
//
// The claim is a compare-and-exchange of the block's `claim_holder` from
// the holder seen to the calling process's identity (its process ID and
// start time); then `client_busy` is raised with a fresh token for the
// server to see. A claim whose holder lives is never taken, however long
// it has stood (the holder may be stopped, debugged or slowed down); one
// whose holder has ended, or that names no holder, is taken over.
#pragma once

#include <cstdint>

#include "shared_segment.h"

namespace qo3964::client {

// The token now in client_busy (1 to 255), or 0 when another live process
// (or another handle of this one) holds the block. A full fence follows a
// successful claim.
uint8_t claim_block(volatile JobBlock& job);

// True while this process still holds the block with `token`.
bool claim_held(const volatile JobBlock& job, uint8_t token);

// Lowers client_busy if it still holds `token`, then gives up the
// block's holder; nothing for token 0.
void release_block(volatile JobBlock& job, uint8_t token);

}  // namespace qo3964::client
