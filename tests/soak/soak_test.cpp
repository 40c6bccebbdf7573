// SPDX-License-Identifier: MIT
// The soak in the default run: 150 telegrams each way under
// random faults. Rerun a failure with its seed: QO3964_SOAK_SEED=<seed>.
#include <gtest/gtest.h>

#include "soak_check.h"

TEST(Soak, HundredFiftyTelegramsEachWayUnderRandomFaults)
{
    qosoak::soak_and_check(150);
}
