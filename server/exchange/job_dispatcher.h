// SPDX-License-Identifier: MIT
// One pass of the job exchange between the shared segment and the
// protocol engine: stop order, engine step, receive side, send side.
#pragma once

namespace qo3964 {

// The engine step the dispatcher runs; tests may replace it.
using EngineStepFn = void (*)();
extern EngineStepFn dispatcher_engine_step;

void service_jobs();

}  // namespace qo3964
