// SPDX-License-Identifier: MIT
// What the server puts back in the segment on every pass.
//
// Each field of a job block has one owner. A faulty program attached to the
// segment can write anything anywhere; a wrong value in a field that only
// the server writes, or a state that no client may leave behind, would
// otherwise stop sending or receiving until a restart. The server owns
// server_busy, the shutdown marks, the states it moves and its
// identification, so it repairs them, and says so in its runtime log.
#pragma once

namespace qo3964 {

struct Link;

// Called at the start of each pass, while the server runs (no transfer of
// the server is under way then).
void repair_segment(const Link& link);

}  // namespace qo3964
