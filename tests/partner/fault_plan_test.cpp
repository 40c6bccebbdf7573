// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "fault_plan.h"

namespace {

using qopartner::Fault;
using qopartner::FaultPlan;

std::vector<bool> draws(FaultPlan& plan, Fault fault, int n)
{
    std::vector<bool> result;
    for (int i = 0; i < n; ++i) {
        result.push_back(plan.fires(fault));
    }
    return result;
}

TEST(FaultPlan, CountedFaultFiresAtItsNextOccasionsOnly)
{
    FaultPlan plan;
    plan.arm(Fault::nak_to_end, 2);
    EXPECT_TRUE(plan.possible(Fault::nak_to_end));
    EXPECT_FALSE(plan.fires(Fault::nak_to_stx));  // other kinds are not touched
    EXPECT_EQ(draws(plan, Fault::nak_to_end, 3), (std::vector<bool>{true, true, false}));
    EXPECT_FALSE(plan.possible(Fault::nak_to_end));
}

TEST(FaultPlan, ProbabilityOneAlwaysZeroNeverAndCountsComeFirst)
{
    FaultPlan plan;
    plan.set_probability(Fault::pause, 1.0);
    EXPECT_EQ(draws(plan, Fault::pause, 5), std::vector<bool>(5, true));
    plan.set_probability(Fault::pause, 0.0);
    EXPECT_EQ(draws(plan, Fault::pause, 5), std::vector<bool>(5, false));
    plan.set_probability(Fault::pause, 0.0);
    plan.arm(Fault::pause, 1);
    EXPECT_EQ(draws(plan, Fault::pause, 2), (std::vector<bool>{true, false}));
    plan.set_probability(Fault::stray_byte, 0.5);
    plan.clear();
    EXPECT_FALSE(plan.possible(Fault::stray_byte));
}

TEST(FaultPlan, SameSeedGivesTheSameSequence)
{
    FaultPlan first(42);
    FaultPlan second(42);
    FaultPlan other(43);
    for (FaultPlan* plan : {&first, &second, &other}) {
        plan->set_probability(Fault::stray_byte, 0.5);
    }
    const std::vector<bool> a = draws(first, Fault::stray_byte, 64);
    EXPECT_EQ(a, draws(second, Fault::stray_byte, 64));
    EXPECT_NE(a, draws(other, Fault::stray_byte, 64));
    // Roughly half of them fire.
    const auto fired = std::count(a.begin(), a.end(), true);
    EXPECT_GT(fired, 10);
    EXPECT_LT(fired, 54);
}

TEST(FaultPlan, NamesRoundTrip)
{
    for (size_t i = 0; i < qopartner::FAULT_KINDS; ++i) {
        const Fault fault = static_cast<Fault>(i);
        EXPECT_EQ(qopartner::fault_from_name(qopartner::fault_name(fault)), fault);
    }
    EXPECT_FALSE(qopartner::fault_from_name("nak"));
}

}  // namespace
