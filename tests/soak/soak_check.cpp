// SPDX-License-Identifier: MIT
#include "soak_check.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>

namespace qosoak {

SoakPlan plan_of(int telegrams_each_way)
{
    SoakPlan plan;
    plan.telegrams = telegrams_each_way;
    plan.seed = soak_seed();
    return plan;
}

void soak_and_check(const SoakPlan& plan)
{
    const SoakResult result = run_soak(plan);

    const std::string report = result.report();
    std::fprintf(stderr, "%s", report.c_str());
    // Also into the working folder, where scripts/test.sh shows it after the
    // run (ctest shows a passed test's output only with -V).
    const std::string report_file =
        "soak_report_" + std::to_string(plan.telegrams) + "_" + std::to_string(plan.seed) + ".txt";
    if (std::FILE* file = std::fopen(report_file.c_str(), "w")) {
        std::fputs(report.c_str(), file);
        std::fclose(file);
    }
    for (const auto& [name, value] : result.properties()) {
        ::testing::Test::RecordProperty(name, value);
    }
    for (const std::string& problem : result.problems) {
        ADD_FAILURE() << problem;
    }
    // Every send of both sides ended one way or the other.
    if (plan.seconds == 0) {
        EXPECT_EQ(result.outbound.sent, plan.telegrams);
        EXPECT_EQ(result.inbound.sent - result.inbound.conflict_telegrams, plan.telegrams + 1);  // + the closing one
    } else {
        EXPECT_GT(result.outbound.sent, 0);
        EXPECT_GT(result.inbound.sent - result.inbound.conflict_telegrams, 1);
    }
}

}  // namespace qosoak
