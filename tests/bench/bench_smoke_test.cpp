// SPDX-License-Identifier: MIT
// A quick run of qo3964_bench against the real server: it must complete
// and print its table with every row filled in plausibly. The figures
// themselves are not judged: the machine may be busy with other work.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

// A quick run takes well under a minute; the bound is for a loaded machine
// running the suite under the sanitizers.
constexpr int RUN_LIMIT_MS = 300000;

std::vector<std::string> cells_of(const std::string& row)
{
    std::vector<std::string> cells;
    std::istringstream in(row);
    std::string cell;
    std::getline(in, cell, '|');  // before the first bar
    while (std::getline(in, cell, '|')) {
        const size_t first = cell.find_first_not_of(' ');
        const size_t last = cell.find_last_not_of(' ');
        cells.push_back(first == std::string::npos ? "" : cell.substr(first, last - first + 1));
    }
    if (!cells.empty() && cells.back().empty()) {
        cells.pop_back();  // after the last bar
    }
    return cells;
}

bool is_number(const std::string& text)
{
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    std::strtod(text.c_str(), &end);
    return *end == '\0';
}

// The table's rows, keyed by "line / measurement / figure / unit".
std::map<std::string, std::vector<std::string>> table_rows(const std::string& out)
{
    std::map<std::string, std::vector<std::string>> rows;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("| ", 0) != 0 || line.rfind("| Line", 0) == 0) {
            continue;
        }
        const std::vector<std::string> cells = cells_of(line);
        if (cells.size() == 8) {
            rows[cells[0] + " / " + cells[1] + " / " + cells[2] + " / " + cells[3]] = cells;
        }
    }
    return rows;
}

bool is_number_or_none(const std::string& text)
{
    return text == "-" || is_number(text);
}

// A fast emulated line keeps the quick run short; the figures are the same kind.
TEST(BenchSmoke, QuickRunPrintsACompleteTableAndCsv)
{
    qotest::TempDir dir;
    const std::string csv = dir.file("bench.csv");
    qotest::Process bench({qotest::program_path("qo3964_bench"), "--quick", "--idle", "1", "--sends", "10",
                           "--trials", "2", "--baud", "115200", "--csv", csv},
                          dir.path());
    ASSERT_EQ(bench.wait_exit(RUN_LIMIT_MS), 0) << bench.out() << bench.err();

    const std::string out = bench.out();
    EXPECT_NE(out.find("| Line | Measurement | Figure | Unit | Measured | Wire floor | Ratio | Today |"),
              std::string::npos)
        << out;
    const auto rows = table_rows(out);
    // Per line: 4 send latency, 2 request/response, 4 throughput, 4 burst,
    // 5 waits for a turn and 6 server rows.
    EXPECT_EQ(rows.size(), 2U * 25) << out;
    for (const auto& [key, cells] : rows) {
        SCOPED_TRACE(key);
        EXPECT_TRUE(is_number(cells[4])) << cells[4];
        EXPECT_GE(std::strtod(cells[4].c_str(), nullptr), 0);
        EXPECT_TRUE(is_number_or_none(cells[5])) << cells[5];
        EXPECT_TRUE(is_number_or_none(cells[6])) << cells[6];
        EXPECT_TRUE(is_number_or_none(cells[7])) << cells[7];
    }
    const auto cell = [&rows](const std::string& key, size_t column) {
        const auto row = rows.find(key);
        return row == rows.end() ? std::string("missing") : row->second[column];
    };
    // Today's figures stand beside the new ones.
    EXPECT_EQ(cell("pty / server / idle wake-ups / per s", 7), "73.0");
    for (const std::string line : {"pty", "115200 baud 8E1"}) {
        SCOPED_TRACE(line);
        // Every telegram of the burst came through once.
        const std::string burst = line + " / receive burst (50 x 16 B) / ";
        EXPECT_EQ(cell(burst + "delivered / telegrams", 4), "50");
        EXPECT_EQ(cell(burst + "lost / telegrams", 4), "0");
        EXPECT_EQ(cell(burst + "duplicated / telegrams", 4), "0");
        EXPECT_GT(std::strtod(cell(line + " / send latency / 16 B p50 / ms", 4).c_str(), nullptr), 0);
    }
    // On a bare pty the wire takes no time; on the emulated line every
    // time and rate has its wire floor and ratio: a 16 B telegram is 22
    // characters of 11 bits at 115200 baud.
    EXPECT_EQ(cell("pty / send latency / 16 B p50 / ms", 5), "0.0");
    EXPECT_EQ(cell("pty / send latency / 16 B p50 / ms", 6), "-");
    EXPECT_EQ(cell("115200 baud 8E1 / send latency / 16 B p50 / ms", 5), "2.1");
    for (const std::string key : {"115200 baud 8E1 / request/response / 16 B out, 64 B back p50 / ms",
                                  "115200 baud 8E1 / partner -> application / 4096 B / telegrams/s",
                                  "115200 baud 8E1 / wait for a turn / send, partner busy, p50 / ms"}) {
        EXPECT_TRUE(is_number(cell(key, 6))) << key << "\n" << out;
    }

    // The CSV holds the same rows, plus its heading.
    const std::string text = qotest::read_file(csv);
    size_t lines = 0;
    for (const char c : text) {
        lines += c == '\n' ? 1 : 0;
    }
    EXPECT_EQ(text.rfind("line,measurement,figure,unit,measured,wire_floor,ratio,today\n", 0), 0U) << text;
    EXPECT_EQ(lines, rows.size() + 1) << text;
}

TEST(BenchSmoke, RefusesAnUnknownOptionWithTheUsage)
{
    qotest::Process bench({qotest::program_path("qo3964_bench"), "--fast"});
    EXPECT_EQ(bench.wait_exit(RUN_LIMIT_MS), 2);
    EXPECT_NE(bench.err().find("unknown option --fast"), std::string::npos) << bench.err();
    EXPECT_NE(bench.err().find("usage: qo3964_bench"), std::string::npos) << bench.err();
}

}  // namespace
