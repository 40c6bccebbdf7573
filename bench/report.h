// SPDX-License-Identifier: MIT
// What the benchmark prints: how the floors come about, the table of
// figures, and warnings about anything that went wrong during the runs.
#pragma once

#include <string>
#include <vector>

#include "bench_options.h"
#include "figure_table.h"
#include "floors.h"
#include "kernel_ticks.h"
#include "measurements.h"
#include "pacing_model.h"
#include "poll_cost.h"

namespace qobench {

struct FloorBasis {
    PacingSettings pty;
    PacingSettings line;
    PollCost poll;
    KernelTicks kernel;  // as watched, unless --kernel-hz gave the rate
};

std::vector<Figure> build_figures(const Measurements& m, const FloorSet& pty, const FloorSet& line,
                                  const FloorBasis& basis, const BenchOptions& options);

// The heading of the real-line column, e.g. "Floor (real line, 9600 baud 8E1)".
std::string line_heading(const BenchOptions& options);

// How each floor is computed, as text lines for the output.
std::string floor_notes(const FloorBasis& basis, const BenchOptions& options);

// Whether any telegram was lost or delivered twice, in either direction.
bool delivery_faults(const Measurements& m);

// One line per thing that went wrong (failed sends, lost telegrams, ...);
// empty when all went well.
std::string run_warnings(const Measurements& m, const FloorSet& pty, const FloorSet& line);

}  // namespace qobench
