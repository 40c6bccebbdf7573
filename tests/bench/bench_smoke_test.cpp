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

// The table's rows, keyed by "measurement / figure / unit".
std::map<std::string, std::vector<std::string>> table_rows(const std::string& out)
{
    std::map<std::string, std::vector<std::string>> rows;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("| ", 0) != 0 || line.rfind("| Measurement", 0) == 0) {
            continue;
        }
        const std::vector<std::string> cells = cells_of(line);
        if (cells.size() == 9) {
            rows[cells[0] + " / " + cells[1] + " / " + cells[2]] = cells;
        }
    }
    return rows;
}

TEST(BenchSmoke, QuickRunPrintsACompleteTableAndCsv)
{
    qotest::TempDir dir;
    const std::string csv = dir.file("bench.csv");
    qotest::Process bench({qotest::program_path("qo3964_bench"), "--quick", "--idle", "1", "--csv", csv}, dir.path());
    ASSERT_EQ(bench.wait_exit(RUN_LIMIT_MS), 0) << bench.out() << bench.err();

    const std::string out = bench.out();
    EXPECT_NE(out.find("| Measurement | Figure | Unit | Measured | Floor (pty) | Overhead × |"), std::string::npos)
        << out;
    const auto rows = table_rows(out);
    // 8 latency, 12 throughput, 5 burst and 14 CPU rows.
    EXPECT_EQ(rows.size(), 39U) << out;

    for (const auto& [key, cells] : rows) {
        SCOPED_TRACE(key);
        EXPECT_TRUE(is_number(cells[3])) << cells[3];
        EXPECT_TRUE(is_number(cells[4])) << cells[4];
        EXPECT_TRUE(is_number(cells[6])) << cells[6];
        EXPECT_GE(std::strtod(cells[3].c_str(), nullptr), 0);
    }
    // The figures measured before the line waited with poll stand beside
    // their new ones, with the ratio.
    const auto idle = rows.find("server CPU time / idle: wakeups / per s");
    ASSERT_NE(idle, rows.end()) << out;
    EXPECT_EQ(idle->second[7], "472");
    EXPECT_TRUE(is_number(idle->second[8])) << idle->second[8];
    // Every send and every telegram of the burst came through once.
    const auto burst = [&rows](const std::string& figure) {
        const auto row = rows.find("receive burst (50 x 16 B) / " + figure + " / telegrams");
        return row == rows.end() ? std::string("missing") : row->second[3];
    };
    EXPECT_EQ(burst("delivered"), "50");
    EXPECT_EQ(burst("lost"), "0");
    EXPECT_EQ(burst("duplicated"), "0");
    // Latencies and rates are positive, so they have an overhead factor.
    for (const std::string key : {"send latency / 16 B p50 / ms", "send latency / 4096 B max / ms",
                                  "application -> partner / 256 B / telegrams/s",
                                  "partner -> application / 4096 B / payload bytes/s"}) {
        const auto row = rows.find(key);
        ASSERT_NE(row, rows.end()) << key << "\n" << out;
        EXPECT_GT(std::strtod(row->second[3].c_str(), nullptr), 0) << key;
        EXPECT_TRUE(is_number(row->second[5])) << key;
    }

    // The CSV holds the same rows, plus its heading.
    const std::string text = qotest::read_file(csv);
    size_t lines = 0;
    for (const char c : text) {
        lines += c == '\n' ? 1 : 0;
    }
    EXPECT_EQ(text.rfind("measurement,figure,unit,measured,floor_pty,overhead,floor_line,before,ratio_to_before\n", 0),
              0U)
        << text;
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
