// SPDX-License-Identifier: MIT
// The figures of a benchmark run, each beside its wire floor, their ratio
// and the figure of the server before it waited for events ("today"), as
// one markdown table and as CSV.
#pragma once

#include <string>
#include <vector>

namespace qobench {

struct Figure {
    std::string line;     // "pty", or e.g. "9600 baud 8E1"
    std::string section;  // what was measured, e.g. "send latency"
    std::string name;     // which figure of it, e.g. "16 B p50"
    std::string unit;
    double measured = 0;
    // The time the figure's characters take on the wire; for a rate the
    // wire's rate, which it can at best reach. Negative: none.
    double wire = -1;
    double today = -1;  // negative: none
    int decimals = 1;
};

// measured / wire: at least 1 for times, at most 1 for rates; negative
// when there is no wire figure (none, or zero on a bare pty).
double ratio(const Figure& figure);

std::string markdown_table(const std::vector<Figure>& figures);
std::string csv_text(const std::vector<Figure>& figures);

}  // namespace qobench
