// SPDX-License-Identifier: MIT
// The traffic display as it appears in a real terminal of 80 x 24 cells:
// monitor_driver passes a script of bytes through a line with the display
// on, and the test reads the screen back from tmux.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"
#include "tmux_screen.h"

namespace {

using Rows = std::vector<std::string>;

constexpr int SEPARATOR_ROW = 21;
constexpr int IN_ROW = 22;
constexpr int OUT_ROW = 23;
constexpr int WAIT_MS = 10000;
const std::string SEPARATOR(76, '-');

struct Cell {
    int column;
    std::string text;
};

// A display row as it should read: label, then the cells at their columns.
std::string row_of(const std::string& label, const std::vector<Cell>& cells)
{
    std::string line(TmuxScreen::COLUMNS, ' ');
    line.replace(0, label.size(), label);
    for (const Cell& cell : cells) {
        line.replace(static_cast<size_t>(cell.column), cell.text.size(), cell.text);
    }
    line.erase(line.find_last_not_of(' ') + 1);
    return line;
}

std::string hex_byte(int value)
{
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value);
    return text;
}

std::string dump(const Rows& rows)
{
    std::string text = "\nscreen:\n";
    for (const std::string& row : rows) {
        text += "|" + row + "\n";
    }
    return text;
}

class TrafficDisplay : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (TmuxScreen::tmux_program().empty()) {
            GTEST_SKIP() << "tmux is not installed";
        }
    }

    // Runs the script and returns the screen once the driver has finished
    // and `last` shows at its place.
    Rows show(const std::vector<std::string>& steps, int row, const Cell& last)
    {
        const std::string done = dir_.file("done");
        std::vector<std::string> command{qotest::program_path("monitor_driver"), done};
        command.insert(command.end(), steps.begin(), steps.end());
        screen_ = std::make_unique<TmuxScreen>(dir_, command);
        EXPECT_TRUE(screen_->started());
        return screen_->rows_when(
            [&](const Rows& rows) {
                return qotest::file_exists(done) && cell_text(rows, row, last.column) == last.text;
            },
            WAIT_MS);
    }

    std::vector<std::vector<ScreenCell>> colours() const { return screen_->cells(); }

private:
    qotest::TempDir dir_;
    std::unique_ptr<TmuxScreen> screen_;
};

TEST_F(TrafficDisplay, FirstByteDrawsSeparatorAndLabelsOnTheLastRows)
{
    const Rows rows = show({"i41"}, IN_ROW, {5, "41"});
    EXPECT_EQ(rows[SEPARATOR_ROW], SEPARATOR) << dump(rows);
    EXPECT_EQ(rows[IN_ROW], " IN: 41") << dump(rows);
    EXPECT_EQ(rows[OUT_ROW], "OUT:") << dump(rows);
}

TEST_F(TrafficDisplay, SentByteAfterReceivedTakesTheNextCellOnTheOutRow)
{
    const Rows rows = show({"i00", "o01", "i02", "o03", "i04", "iFF", "o06", "w101003"}, OUT_ROW, {32, "03"});
    EXPECT_EQ(rows[IN_ROW], row_of(" IN: ", {{5, "00"}, {11, "02"}, {17, "04"}, {20, "FF"}})) << dump(rows);
    EXPECT_EQ(rows[OUT_ROW], row_of("OUT: ", {{8, "01"}, {14, "03"}, {23, "06"}, {26, "10"}, {29, "10"}, {32, "03"}}))
        << dump(rows);
    EXPECT_EQ(cell_text(rows, IN_ROW, 23), "  ");
}

// 24 cells from column 5 to column 74 fill a row of an 80-column screen;
// the 25th byte scrolls the block up by a separator and two fresh rows.
std::vector<Cell> full_row()
{
    std::vector<Cell> cells;
    for (int i = 0; i < 24; ++i) {
        cells.push_back({5 + 3 * i, hex_byte(0x10 + i)});
    }
    return cells;
}

std::vector<std::string> full_row_steps(char direction)
{
    std::vector<std::string> steps;
    for (const Cell& cell : full_row()) {
        steps.push_back(direction + cell.text);
    }
    return steps;
}

TEST_F(TrafficDisplay, ByteAfterColumn74StartsANewBlockFromTheInRow)
{
    std::vector<std::string> steps = full_row_steps('i');
    steps.push_back("o28");
    const Rows rows = show(steps, OUT_ROW, {5, "28"});
    EXPECT_EQ(full_row().back().column, 74);
    EXPECT_EQ(rows[SEPARATOR_ROW - 3], SEPARATOR) << dump(rows);
    EXPECT_EQ(rows[IN_ROW - 3], row_of(" IN: ", full_row())) << dump(rows);
    EXPECT_EQ(rows[OUT_ROW - 3], "OUT:") << dump(rows);
    EXPECT_EQ(rows[SEPARATOR_ROW], SEPARATOR) << dump(rows);
    EXPECT_EQ(rows[IN_ROW], " IN:") << dump(rows);
    EXPECT_EQ(rows[OUT_ROW], "OUT: 28") << dump(rows);
}

TEST_F(TrafficDisplay, ByteAfterColumn74StartsANewBlockFromTheOutRow)
{
    std::vector<std::string> steps = full_row_steps('o');
    steps.push_back("i28");
    const Rows rows = show(steps, IN_ROW, {5, "28"});
    EXPECT_EQ(rows[SEPARATOR_ROW - 3], SEPARATOR) << dump(rows);
    EXPECT_EQ(rows[IN_ROW - 3], " IN:") << dump(rows);
    EXPECT_EQ(rows[OUT_ROW - 3], row_of("OUT: ", full_row())) << dump(rows);
    EXPECT_EQ(rows[SEPARATOR_ROW], SEPARATOR) << dump(rows);
    EXPECT_EQ(rows[IN_ROW], " IN: 28") << dump(rows);
    EXPECT_EQ(rows[OUT_ROW], "OUT:") << dump(rows);
}

TEST_F(TrafficDisplay, MarkedByteShowsBlackOnRedBetweenBlackOnCyanCells)
{
    constexpr int BLACK = 0;
    constexpr int RED = 1;
    constexpr int CYAN = 6;
    const Rows rows = show({"i41", "p55", "i42", "o43"}, OUT_ROW, {14, "43"});
    EXPECT_EQ(rows[IN_ROW], " IN: 41 55 42") << dump(rows);
    const auto cells = colours();
    const auto colour_at = [&](int row, int column) {
        const ScreenCell& cell = cells[static_cast<size_t>(row)][static_cast<size_t>(column)];
        return std::make_pair(cell.foreground, cell.background);
    };
    const auto normal = std::make_pair(BLACK, CYAN);
    const auto error = std::make_pair(BLACK, RED);
    EXPECT_EQ(colour_at(IN_ROW, 5), normal);
    EXPECT_EQ(colour_at(IN_ROW, 7), normal);
    EXPECT_EQ(colour_at(IN_ROW, 8), error);
    EXPECT_EQ(colour_at(IN_ROW, 9), error);
    EXPECT_EQ(colour_at(IN_ROW, 10), error);
    EXPECT_EQ(colour_at(IN_ROW, 11), normal);
    EXPECT_EQ(colour_at(OUT_ROW, 14), normal);
}

}  // namespace
