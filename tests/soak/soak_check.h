// SPDX-License-Identifier: MIT
// Runs a soak and reports it: the counts on standard error (shown in CI
// logs) and as recorded properties of the test, the problems as failures.
#pragma once

#include "soak_run.h"

namespace qosoak {

// A plan of `telegrams` each way with the seed of soak_seed().
SoakPlan plan_of(int telegrams_each_way);
void soak_and_check(const SoakPlan& plan);

}  // namespace qosoak
