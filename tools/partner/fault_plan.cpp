// SPDX-License-Identifier: MIT
#include "fault_plan.h"

namespace qopartner {

namespace {

size_t index_of(Fault fault)
{
    return static_cast<size_t>(fault);
}

}  // namespace

std::optional<Fault> fault_from_name(std::string_view name)
{
    for (size_t i = 0; i < fault_names.size(); ++i) {
        if (fault_names[i] == name) {
            return static_cast<Fault>(i);
        }
    }
    return std::nullopt;
}

FaultPlan::FaultPlan(uint64_t seed) : random_(seed) {}

void FaultPlan::arm(Fault fault, int times)
{
    {
        std::lock_guard lock(mutex_);
        counts_[index_of(fault)] = times > 0 ? times : 0;
    }
    changed();
}

void FaultPlan::set_probability(Fault fault, double probability)
{
    {
        std::lock_guard lock(mutex_);
        probabilities_[index_of(fault)] = probability < 0.0 ? 0.0 : (probability > 1.0 ? 1.0 : probability);
    }
    changed();
}

void FaultPlan::clear()
{
    {
        std::lock_guard lock(mutex_);
        counts_.fill(0);
        probabilities_.fill(0.0);
    }
    changed();
}

void FaultPlan::on_change(std::function<void()> hook)
{
    std::lock_guard lock(mutex_);
    hook_ = std::move(hook);
}

void FaultPlan::changed()
{
    std::function<void()> hook;
    {
        std::lock_guard lock(mutex_);
        hook = hook_;
    }
    if (hook) {
        hook();
    }
}

void FaultPlan::reseed(uint64_t seed)
{
    std::lock_guard lock(mutex_);
    random_.seed(seed);
}

bool FaultPlan::fires(Fault fault)
{
    std::lock_guard lock(mutex_);
    int& count = counts_[index_of(fault)];
    if (count > 0) {
        --count;
        return true;
    }
    const double probability = probabilities_[index_of(fault)];
    if (probability <= 0.0) {
        return false;
    }
    // Only faults given a probability draw, so counted faults leave the
    // random sequence of a seeded run alone.
    return std::uniform_real_distribution<double>(0.0, 1.0)(random_) < probability;
}

bool FaultPlan::possible(Fault fault) const
{
    std::lock_guard lock(mutex_);
    return counts_[index_of(fault)] > 0 || probabilities_[index_of(fault)] > 0.0;
}

int FaultPlan::armed(Fault fault) const
{
    std::lock_guard lock(mutex_);
    return counts_[index_of(fault)];
}

}  // namespace qopartner
