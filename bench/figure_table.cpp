// SPDX-License-Identifier: MIT
#include "figure_table.h"

#include <cmath>
#include <cstdio>

namespace qobench {

namespace {

std::string number(double value, int decimals)
{
    if (value < 0 || !std::isfinite(value)) {
        return "";
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string shown(double value, int decimals)
{
    const std::string text = number(value, decimals);
    return text.empty() ? "-" : text;
}

// CSV fields are quoted when they hold a separator or a quote.
std::string csv_field(const std::string& text)
{
    if (text.find_first_of(",\"\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

}  // namespace

double overhead(const Figure& figure)
{
    if (figure.sense == Sense::count || figure.floor_pty <= 0 || figure.measured <= 0) {
        return -1;
    }
    return figure.sense == Sense::time ? figure.measured / figure.floor_pty : figure.floor_pty / figure.measured;
}

double ratio_to_before(const Figure& figure)
{
    return figure.before > 0 && figure.measured >= 0 ? figure.measured / figure.before : -1;
}

std::string markdown_table(const std::vector<Figure>& figures, const std::string& line_heading)
{
    std::string table = "| Measurement | Figure | Unit | Measured | Floor (pty) | Overhead × | " + line_heading +
                        " | Before | Now / before |\n"
                        "|---|---|---|---:|---:|---:|---:|---:|---:|\n";
    for (const Figure& f : figures) {
        table += "| " + f.section + " | " + f.name + " | " + f.unit + " | " + shown(f.measured, f.decimals) + " | " +
                 shown(f.floor_pty, f.decimals) + " | " + shown(overhead(f), 2) + " | " +
                 shown(f.floor_line, f.decimals) + " | " + shown(f.before, f.decimals) + " | " +
                 shown(ratio_to_before(f), 3) + " |\n";
    }
    return table;
}

std::string csv_text(const std::vector<Figure>& figures)
{
    std::string text = "measurement,figure,unit,measured,floor_pty,overhead,floor_line,before,ratio_to_before\n";
    for (const Figure& f : figures) {
        text += csv_field(f.section) + "," + csv_field(f.name) + "," + csv_field(f.unit) + "," +
                number(f.measured, 4) + "," + number(f.floor_pty, 4) + "," + number(overhead(f), 4) + "," +
                number(f.floor_line, 4) + "," + number(f.before, 4) + "," + number(ratio_to_before(f), 4) + "\n";
    }
    return text;
}

}  // namespace qobench
