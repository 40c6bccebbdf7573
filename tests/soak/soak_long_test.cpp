// The full soak, 10,000 telegrams each way; label "soak", left out of the
// default run (scripts/test.sh runs ctest -LE soak). Run it with
//     ctest --test-dir build/asan -L soak --output-on-failure
// and repeat a failure with QO3964_SOAK_SEED=<seed printed by the run>.
#include <gtest/gtest.h>

#include "soak_check.h"

TEST(SoakLong, TenThousandTelegramsEachWayUnderRandomFaults)
{
    qosoak::soak_and_check(10000);
}
