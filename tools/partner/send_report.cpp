// SPDX-License-Identifier: MIT
#include "send_report.h"

#include <array>
#include <cstddef>

namespace qopartner {

namespace {

constexpr std::array<std::string_view, 6> outcome_names = {
    "acknowledged",
    "no-connection",
    "refused",
    "no-acknowledgement",
    "line-failure",
    "stopped",
};

}  // namespace

std::string_view outcome_name(SendOutcome outcome)
{
    return outcome_names[static_cast<size_t>(outcome)];
}

}  // namespace qopartner
