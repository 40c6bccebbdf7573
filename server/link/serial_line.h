// SPDX-License-Identifier: MIT
// The server's one serial port: raw 8-bit mode with parity marking,
// byte reads within a millisecond limit, byte and block writes.
//
// The protocol engine reaches the line only through serial_getc,
// serial_putc, serial_write_some and serial_write. Reads wait for the port
// with poll (through the wait seam of the deadline timers), take what the
// line holds in one read into a small buffer and hand it out byte by byte.
// Tests may point the line at any descriptor with serial_use (a pipe or a
// socket, for markings a pty cannot produce).
#pragma once

#include <cstdint>
#include <termios.h>

namespace qo3964 {

inline constexpr int32_t SERIAL_INPUT_SIZE = 256;

struct SerialLine {
    int line_fd = -1;
    termios saved_mode{};  // mode found at open, put back at shutdown
    termios line_mode{};   // mode set by serial_open
    int monitor_on = 0;    // 1: the traffic display is active
    int last_line_error = 0;  // last line error reported; 0 after a good byte
    // 1 once the port failed or hung up (EIO, a hang-up, a vanished
    // device); every read then ends at once as silence and every write
    // fails, until the port is opened again.
    int line_lost = 0;
    int32_t baud = 0;  // the line's speed, for the pace of draining
    // Why the last open refused the port's path (another account could
    // change where it leads); empty when it did not.
    char path_refusal[384] = "";
    // Asked while the server waits for its output to drain: true when the
    // server is to stop, so that no drain outlasts a stop at a low baud
    // rate. None: the drain runs to its limit.
    bool (*stop_requested)() = nullptr;
    // Read from the port and not handed out yet.
    uint8_t input[SERIAL_INPUT_SIZE];
    int32_t input_pos = 0;
    int32_t input_len = 0;
};

extern SerialLine serial_line;

// Opens and configures the device; 0 when ready, -1 otherwise.
int serial_open(const char* path, int32_t baud, char parity, char flow, int32_t monitor);
// Opens the device again after it was lost, with the same settings and
// without the start-up messages; drops what waits in its input. 0 when
// ready, -1 otherwise (the line stays closed).
int serial_reopen(const char* path, int32_t baud, char parity, char flow);
// Closes a lost port (its mode is put back as far as it still can be);
// the traffic display stays.
void serial_close();
// One byte (0..255), -55 BREAK, -56 parity/framing, -57 other line error,
// or -1601 when nothing came within ms (or the line is lost).
int serial_getc(int32_t ms);
// Writes one byte; returns what write() returned.
int serial_putc(uint8_t byte);
// Writes as many of the bytes as the line takes now, in as few writes as
// it accepts; returns how many (0 when it takes none), or -1 when a write
// failed with an error other than EAGAIN or EINTR.
int serial_write_some(const uint8_t* bytes, int32_t count);
// Writes a block and waits until it has been transmitted, giving up when
// the line has taken nothing for limit_ms, or when the output has not left
// within its own time on the wire plus limit_ms, or on a stop; 0 when it
// left, -1 otherwise.
int serial_write(const uint8_t* bytes, int32_t count, int32_t limit_ms = 2000);
// Drops the bytes equal to `value` waiting at the front of the input (none
// is waited for); returns how many.
int serial_drop_waiting(uint8_t value);
// True when a byte is waiting, or arrives within ms; nothing is taken.
bool serial_byte_waiting(int32_t ms);
// Milliseconds that `chars` characters take on the wire at the line's
// speed, rounded up.
int32_t serial_wire_ms(int32_t chars);
// Drops everything that has arrived and not been read.
void serial_flush_input();
// Drops what was written and still waits in the driver to be sent.
void serial_flush_output();
// Bytes read from the port and not handed out yet.
int32_t serial_input_held();
// Points the line at another descriptor, with an empty input (tests).
void serial_use(int fd);
// Puts the saved mode back, closes the port, ends the traffic display.
void serial_restore();

// The termios speed code of a configured baud rate; 0 for an unknown rate.
speed_t speed_code(int32_t baud);

}  // namespace qo3964
