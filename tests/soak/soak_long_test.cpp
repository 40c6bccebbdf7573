// SPDX-License-Identifier: MIT
// The full soak, 10,000 telegrams each way; label "soak", left out of the
// default run (scripts/test.sh runs ctest -LE soak). Run it with
//     ctest --test-dir build/asan -L soak -V
// (-V shows the counts of a run that passed; --output-on-failure only
// those of a failed one) and repeat a failure with
// QO3964_SOAK_SEED=<seed printed by the run>. It takes about half an hour.
#include <gtest/gtest.h>

#include "soak_check.h"

TEST(SoakLong, TenThousandTelegramsEachWayUnderRandomFaults)
{
    qosoak::soak_and_check(qosoak::plan_of(10000));
}
