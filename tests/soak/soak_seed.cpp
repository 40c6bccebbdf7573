// SPDX-License-Identifier: MIT
#include <cstdlib>
#include <string>

#include "soak_run.h"

namespace qosoak {

namespace {

constexpr uint64_t DEFAULT_SEED = 3964;

}  // namespace

uint64_t soak_seed()
{
    const char* given = std::getenv("QO3964_SOAK_SEED");
    if (given == nullptr || *given == '\0') {
        return DEFAULT_SEED;
    }
    return std::strtoull(given, nullptr, 0);
}

}  // namespace qosoak
