// SPDX-License-Identifier: MIT
// Runs a soak and reports it: the counts on standard error (shown in CI
// logs) and as recorded properties of the test, the problems as failures.
#pragma once

#include "soak_run.h"

namespace qosoak {

void soak_and_check(int telegrams_each_way);

}  // namespace qosoak
