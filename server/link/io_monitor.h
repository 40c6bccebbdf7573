// SPDX-License-Identifier: MIT
// The live hexadecimal traffic display (rc key IODEBUG ON).
//
// Every byte that passes the serial line is shown in a three-column cell:
// received bytes on the IN row, sent bytes on the OUT row, so the two rows
// read as a time line. A full line scrolls up under a separator and two
// fresh labelled rows. The screen library is used only for set-up, colours
// and cursor moves; the cells are written straight to standard output.
#pragma once

#include <cstdint>

namespace qo3964 {

enum MonitorDirection : int {
    MONITOR_IN = 0,   // received
    MONITOR_OUT = 1,  // sent
};

struct IoMonitor {
    int row_base = 0;   // screen row of the IN line; OUT is the row below
    int width = 0;      // usable width: COLS - 4
    int column = 0;     // column of the byte being shown
    int direction = MONITOR_IN;  // row the cursor stands on
};

extern IoMonitor io_monitor;

// Sets up the screen; false when the terminal cannot be driven (the display
// then stays off).
bool monitor_start();
// Shows one byte on the row of its direction.
void monitor_byte(int direction, uint8_t byte);
// Shows a marked (erroneous) received byte in the error colour.
void monitor_error_byte(uint8_t byte);
void monitor_stop();

}  // namespace qo3964
