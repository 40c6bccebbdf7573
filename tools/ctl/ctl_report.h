// SPDX-License-Identifier: MIT
// How qo3964_ctl tells its results: refusals and failures as one line on
// standard error, result codes with their texts from the library.
#pragma once

#include <cstdint>
#include <cstdio>

#include "ctl_options.h"

namespace qoctl {

// One line on standard error: "qo3964_ctl: " and the formatted message.
void complain(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes the text of a result code in the chosen language; with both, the
// English text, " | " and the German text.
void put_code_text(std::FILE* out, int32_t code, Language language);

// "<label> <code>: <text>" and a line end on standard output.
void print_result(const char* label, int32_t code, Language language);

// The one-line message for a failed qo3964m_open_shm.
void report_open_failure(int32_t code, const CtlOptions& options);

}  // namespace qoctl
