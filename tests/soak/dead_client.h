// SPDX-License-Identifier: MIT
// A client process that dies by SIGKILL in the middle of a call: a forked
// child that shares the test's attachment of the segment, makes the
// stores of the library up to the moment given, and kills itself.
#pragma once

#include <functional>

namespace qosoak {

// Runs `stores` in a child process, which then dies by SIGKILL; returns
// true when the child died that way (within a few seconds).
bool die_after(const std::function<void()>& stores);

}  // namespace qosoak
