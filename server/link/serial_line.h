// The server's one serial port: raw 8-bit mode with parity marking,
// byte reads within a millisecond limit, byte and block writes.
//
// The protocol engine reaches the line only through serial_getc,
// serial_putc and serial_write. Tests may point `line_fd` at any
// descriptor (a pipe, for markings a pty cannot produce).
#pragma once

#include <cstdint>
#include <termios.h>

namespace qo3964 {

struct SerialLine {
    int line_fd = -1;
    termios saved_mode{};  // mode found at open, put back at shutdown
    termios line_mode{};   // mode set by serial_open
    int monitor_on = 0;    // 1: the traffic display is active
    int last_line_error = 0;  // last line error reported; 0 after a good byte
    int held_byte = -1;       // a byte read ahead, returned by the next read
};

extern SerialLine serial_line;

// Opens and configures the device; 0 when ready, -1 otherwise.
int serial_open(const char* path, int32_t baud, char parity, char flow, int32_t monitor);
// One byte (0..255), -55 BREAK, -56 parity/framing, -57 other line error,
// or -1601 when nothing came within ms (the last line error instead, if any).
int serial_getc(int32_t ms);
// Writes one byte; returns what write() returned.
int serial_putc(uint8_t byte);
// Writes a block and waits until it has been transmitted; returns 0.
int serial_write(const uint8_t* bytes, int32_t count);
// Drops the bytes equal to `value` waiting at the front of the input (none
// is waited for); returns how many.
int serial_drop_waiting(uint8_t value);
// Puts the saved mode back, closes the port, ends the traffic display.
void serial_restore();

// The termios speed code of a configured baud rate; 0 for an unknown rate.
speed_t speed_code(int32_t baud);

}  // namespace qo3964
