// SPDX-License-Identifier: MIT
#include "io_monitor.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <curses.h>
#include <poll.h>
#include <term.h>
#include <unistd.h>

#include "console_output.h"

namespace qo3964 {

IoMonitor io_monitor;

namespace {

constexpr short PAIR_NORMAL = 48;  // black on cyan
constexpr short PAIR_ERROR = 8;    // black on red
constexpr char HEX_DIGITS[] = "0123456789ABCDEF";
constexpr int LABEL_WIDTH = 5;     // " IN: " and "OUT: "
constexpr int CELL_WIDTH = 3;

// What one byte puts on the screen (a cell, and a new block when the row
// is full), gathered and written in one piece through the console, which
// never lets the link wait for the terminal. The cursor moves and colours
// come from the terminal's description, as the screen library would send
// them, but go the same way.
struct ScreenText {
    std::array<char, 4096> text{};
    size_t length = 0;
};
ScreenText screen;

int put(int c)
{
    if (screen.length < screen.text.size()) {
        screen.text[screen.length++] = static_cast<char>(c);
    }
    return c;
}

void put_text(const char* text)
{
    for (; *text != '\0'; ++text) {
        put(*text);
    }
}

void write_screen()
{
    console_write(CONSOLE_OUT, screen.text.data(), screen.length);
    screen.length = 0;
}

void set_colour(short pair)
{
    vidputs(static_cast<chtype>(COLOR_PAIR(pair)), put);
}

void move_to(int row, int column)
{
    tputs(tiparm(cursor_address, row, column), 1, put);
}

void new_block()
{
    if (io_monitor.direction == MONITOR_IN) {
        put('\n');
    }
    put_text("\n\r");
    for (int i = 0; i < io_monitor.width; ++i) {
        put('-');
    }
    put_text("\n\r IN: ");
    put_text("\n\rOUT: ");
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
        move_to(io_monitor.row_base + direction, io_monitor.column);
    }
}

void put_cell(uint8_t byte)
{
    put(HEX_DIGITS[byte >> 4]);
    put(HEX_DIGITS[byte & 0x0F]);
    put(' ');
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
    std::fflush(stdout);
    vidattr(static_cast<chtype>(COLOR_PAIR(PAIR_NORMAL)));
    // A block is drawn with line feeds and assumes that they scroll, which
    // leaves its two labelled rows at the bottom where the cursor moves
    // address them. After a short start-up the cursor may still stand high
    // on the screen, so it is put on the last row first.
    mvcur(-1, -1, LINES - 1, 0);
    std::fflush(stdout);
    return true;
}

void monitor_byte(int direction, uint8_t byte)
{
    monitor_position(direction);
    put_cell(byte);
    write_screen();
}

void monitor_error_byte(uint8_t byte)
{
    monitor_position(MONITOR_IN);
    set_colour(PAIR_ERROR);
    put_cell(byte);
    set_colour(PAIR_NORMAL);
    write_screen();
}

void monitor_stop()
{
    // The screen library writes its last texts itself and would wait for a
    // terminal that takes nothing: left out then.
    console_settle(1000);
    pollfd terminal{STDOUT_FILENO, POLLOUT, 0};
    if (poll(&terminal, 1, 0) == 1 && (terminal.revents & POLLOUT) != 0) {
        endwin();
    }
}

}  // namespace qo3964
