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

double ratio(const Figure& figure)
{
    return figure.wire > 0 && figure.measured >= 0 ? figure.measured / figure.wire : -1;
}

std::string markdown_table(const std::vector<Figure>& figures)
{
    std::string table = "| Line | Measurement | Figure | Unit | Measured | Wire floor | Ratio | Today |\n"
                        "|---|---|---|---|---:|---:|---:|---:|\n";
    for (const Figure& f : figures) {
        table += "| " + f.line + " | " + f.section + " | " + f.name + " | " + f.unit + " | " +
                 shown(f.measured, f.decimals) + " | " + shown(f.wire, f.decimals) + " | " + shown(ratio(f), 2) +
                 " | " + shown(f.today, f.decimals) + " |\n";
    }
    return table;
}

std::string csv_text(const std::vector<Figure>& figures)
{
    std::string text = "line,measurement,figure,unit,measured,wire_floor,ratio,today\n";
    for (const Figure& f : figures) {
        text += csv_field(f.line) + "," + csv_field(f.section) + "," + csv_field(f.name) + "," + csv_field(f.unit) +
                "," + number(f.measured, 4) + "," + number(f.wire, 4) + "," + number(ratio(f), 4) + "," +
                number(f.today, 4) + "\n";
    }
    return text;
}

}  // namespace qobench
