// SPDX-License-Identifier: MIT
// Standard input, output and error made valid before anything else is
// opened: a program started with one of them closed (">&-") would
// otherwise hand that number to the next file it opens, and the console
// texts meant for standard output would go wherever that file leads; the
// serial port, say, and so to the controller.
#pragma once

namespace qo3964 {

// Opens /dev/null on each of 0, 1 and 2 that is closed. False when one of
// them could not be made valid (nothing may be opened then).
bool make_standard_descriptors_valid();

}  // namespace qo3964
