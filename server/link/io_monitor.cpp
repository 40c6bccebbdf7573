// SPDX-License-Identifier: MIT
#include "io_monitor.h"

#include <cstdio>
#include <cstdlib>
#include <curses.h>
#include <term.h>
#include <unistd.h>

namespace qo3964 {

IoMonitor io_monitor;

namespace {

constexpr short PAIR_NORMAL = 48;  // black on cyan
constexpr short PAIR_ERROR = 8;    // black on red
constexpr char HEX_DIGITS[] = "0123456789ABCDEF";
constexpr int LABEL_WIDTH = 5;     // " IN: " and "OUT: "
constexpr int CELL_WIDTH = 3;

void set_colour(short pair)
{
    std::fflush(stdout);  // keep the attribute between the cells around it
    vidattr(static_cast<chtype>(COLOR_PAIR(pair)));
    std::fflush(stdout);
}

void new_block()
{
    if (io_monitor.direction == MONITOR_IN) {
        std::putchar('\n');
    }
    std::fputs("\n\r", stdout);
    for (int i = 0; i < io_monitor.width; ++i) {
        std::putchar('-');
    }
    std::fputs("\n\r IN: ", stdout);
    std::fputs("\n\rOUT: ", stdout);
    std::fflush(stdout);
    io_monitor.column = LABEL_WIDTH;
    io_monitor.direction = MONITOR_OUT;
}

void monitor_position(int direction)
{
    io_monitor.column += CELL_WIDTH;
    if (io_monitor.column >= io_monitor.width) {
        new_block();
    }
    if (direction != io_monitor.direction) {
        io_monitor.direction = direction;
        std::fflush(stdout);
        mvcur(-1, -1, io_monitor.row_base + direction, io_monitor.column);
        std::fflush(stdout);
    }
}

void put_cell(uint8_t byte)
{
    std::putchar(HEX_DIGITS[byte >> 4]);
    std::putchar(HEX_DIGITS[byte & 0x0F]);
    std::putchar(' ');
}

}  // namespace

bool monitor_start()
{
    // initscr ends the whole process on a terminal type it does not know,
    // bypassing the server's orderly stop that restores the port and removes
    // the segment and the lockfile; so the type is looked up first.
    int lookup = 0;
    if (setupterm(nullptr, STDOUT_FILENO, &lookup) != OK) {
        return false;
    }
    del_curterm(cur_term);
    initscr();
    nocbreak();
    if (has_colors()) {
        start_color();
    }
    for (short background = 0; background < 8; ++background) {
        for (short foreground = 0; foreground < 8; ++foreground) {
            init_pair(static_cast<short>(8 * background + foreground), foreground, background);
        }
    }
    nl();
    if (std::system("stty onlcr") != 0) {
        // Without onlcr the rows only start further right; nothing else.
    }
    io_monitor.row_base = LINES - 2;
    io_monitor.width = COLS - 4;
    io_monitor.column = COLS - 4;  // the first byte starts a new block
    io_monitor.direction = MONITOR_IN;
    set_colour(PAIR_NORMAL);
    // A block is drawn with line feeds and assumes that they scroll, which
    // leaves its two labelled rows at the bottom where the cursor moves
    // address them. After a short start-up the cursor may still stand high
    // on the screen, so it is put on the last row first.
    std::fflush(stdout);
    mvcur(-1, -1, LINES - 1, 0);
    std::fflush(stdout);
    return true;
}

void monitor_byte(int direction, uint8_t byte)
{
    monitor_position(direction);
    put_cell(byte);
    std::fflush(stdout);
}

void monitor_error_byte(uint8_t byte)
{
    monitor_position(MONITOR_IN);
    set_colour(PAIR_ERROR);
    put_cell(byte);
    set_colour(PAIR_NORMAL);
    std::fflush(stdout);
}

void monitor_stop()
{
    std::fflush(stdout);
    endwin();
}

}  // namespace qo3964
