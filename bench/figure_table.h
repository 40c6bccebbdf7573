// SPDX-License-Identifier: MIT
// The figures of a benchmark run, each beside its floor, as one markdown
// table and as CSV.
#pragma once

#include <string>
#include <vector>

namespace qobench {

// How a figure compares with its floor.
enum class Sense {
    time,   // more is worse: overhead = measured / floor
    rate,   // less is worse: overhead = floor / measured
    count,  // an outcome to be read as it is; the floor column holds the ideal
};

struct Figure {
    std::string section;  // what was measured, e.g. "send latency"
    std::string name;     // which figure of it, e.g. "16 B p50"
    std::string unit;
    double measured = 0;
    double floor_pty = -1;   // negative: none
    double floor_line = -1;  // negative: none
    Sense sense = Sense::time;
    int decimals = 1;
    double before = -1;  // the figure measured before the serial line waited with poll; negative: none
};

// measured against the pty floor, as a factor of time: 1.00 means no cost
// of our own; negative when there is no such factor.
double overhead(const Figure& figure);

// measured / before; negative when there is no earlier figure.
double ratio_to_before(const Figure& figure);

std::string markdown_table(const std::vector<Figure>& figures, const std::string& line_heading);
std::string csv_text(const std::vector<Figure>& figures);

}  // namespace qobench
