// SPDX-License-Identifier: MIT
// One pass of the job exchange between the shared segment and the
// protocol engine: stop order, engine step, receive side, send side.
#pragma once

namespace qo3964 {

struct Link;

// The engine step a pass runs; tests give their own.
using EngineStepFn = bool (*)(Link& link);
bool engine_step(Link& link);

// One pass over the server's segment; true when anything moved (a block
// handed over, the engine on its way), so that the loop looks again at
// once instead of waiting.
bool service_jobs(Link& link, EngineStepFn step = engine_step);

}  // namespace qo3964
