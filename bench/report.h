// SPDX-License-Identifier: MIT
// What the benchmark prints: how the floors come about, the table of
// figures, and warnings about anything that went wrong during the runs.
#pragma once

#include <string>
#include <vector>

#include "bench_options.h"
#include "figure_table.h"
#include "measurements.h"

namespace qobench {

std::vector<Figure> build_figures(const std::vector<Measurements>& lines, const BenchOptions& options);

// How the lines and the floors are made, as text lines for the output.
std::string floor_notes(const std::vector<Measurements>& lines, const BenchOptions& options);

// Whether any telegram was lost or delivered twice, in either direction.
bool delivery_faults(const std::vector<Measurements>& lines);

// One line per thing that went wrong (failed sends, lost telegrams, ...);
// empty when all went well.
std::string run_warnings(const std::vector<Measurements>& lines);

}  // namespace qobench
