// SPDX-License-Identifier: MIT
// The options of qo3964_server besides its one-argument start: --help,
// --version and --check RC-FILE. None of them starts the server; each
// answers and ends the program. Everything else (no argument, an rc-file,
// -v, anything refused) is left to the start-up as before.
#pragma once

namespace qo3964 {

// Answers and exits when argv holds one of these options; returns otherwise.
void answer_options(int argc, char** argv);

}  // namespace qo3964
