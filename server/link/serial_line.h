// SPDX-License-Identifier: MIT
// The server's one serial port: raw 8-bit mode with parity marking,
// byte reads, byte and block writes.
//
// The protocol engine reaches the line only through the serial_* calls
// and never waits in them: it reads what the line holds (in one read into
// a small buffer, handed out byte by byte) and writes what the line takes;
// the server's loop waits for the descriptor. Tests may point the line at
// any descriptor with serial_use (a socket, for markings a pty cannot
// produce).
#pragma once

#include <cstdint>
#include <termios.h>

namespace qo3964 {

inline constexpr int32_t SERIAL_INPUT_SIZE = 256;

struct SerialLine {
    int line_fd = -1;
    // Where reads come from when not from line_fd: a test that writes the
    // line into a pipe of its own reads from another (-1: line_fd).
    int input_fd = -1;
    termios saved_mode{};  // mode found at open, put back at shutdown
    termios line_mode{};   // mode set by serial_open
    int monitor_on = 0;    // 1: the traffic display is active
    int last_line_error = 0;  // last line error reported; 0 after a good byte
    // 1 once the port failed or hung up (EIO, a hang-up, a vanished
    // device); every read then ends at once as silence and every write
    // fails, until the port is opened again.
    int line_lost = 0;
    int32_t baud = 0;  // the line's speed: character times, the pace of draining
    // Why the last open refused the port's path (another account could
    // change where it leads); empty when it did not.
    char path_refusal[384] = "";
    // 0 after a wait that watched the line for input and saw none: the
    // engine's next look costs no read (1 otherwise, also without waits).
    int input_expected = 1;
    int32_t last_read = 0;  // bytes the last read that took any brought
    // Read from the port and not handed out yet.
    uint8_t input[SERIAL_INPUT_SIZE];
    int32_t input_pos = 0;
    int32_t input_len = 0;
};

// Opens and configures the device; 0 when ready, -1 otherwise.
int serial_open(SerialLine& line, const char* path, int32_t baud, char parity, char flow, int32_t monitor);
// Opens the device again after it was lost, with the same settings and
// without the start-up messages; drops what waits in its input. 0 when
// ready, -1 otherwise (the line stays closed).
int serial_reopen(SerialLine& line, const char* path, int32_t baud, char parity, char flow);
// Closes a lost port (its mode is put back as far as it still can be);
// the traffic display stays.
void serial_close(SerialLine& line);
// One byte (0..255), -55 BREAK, -56 parity/framing, -57 other line error,
// or -1601 when nothing came within ms (0: only what is there now) or the
// line is lost.
int serial_getc(SerialLine& line, int32_t ms);
// Writes one byte; returns what write() returned.
int serial_putc(SerialLine& line, uint8_t byte);
// Writes as many of the bytes as the line takes now, in as few writes as
// it accepts; returns how many (0 when it takes none), or -1 when a write
// failed with an error other than EAGAIN or EINTR.
int serial_write_some(SerialLine& line, const uint8_t* bytes, int32_t count);
// Characters written and not yet sent by the port (0 for anything but a
// terminal); -1 when the port is gone.
int32_t serial_output_queued(SerialLine& line);
// Drops the bytes equal to `value` waiting at the front of the input (none
// is waited for); returns how many.
int serial_drop_waiting(SerialLine& line, uint8_t value);
// True when a byte is waiting now; nothing is taken.
bool serial_byte_waiting(SerialLine& line);
// The next byte as it came from the port (a marking's 0xFF too), or -1
// when none is waiting; nothing is taken.
int serial_peek(SerialLine& line);
// Milliseconds that `chars` characters take on the wire at the line's
// speed, rounded up.
int32_t serial_wire_ms(const SerialLine& line, int32_t chars);
// Drops everything that has arrived and not been read.
void serial_flush_input(SerialLine& line);
// Drops what was written and still waits in the driver to be sent.
void serial_flush_output(SerialLine& line);
// Bytes read from the port and not handed out yet.
int32_t serial_input_held(const SerialLine& line);
// What a wait that watched the descriptor for `watched` saw: a hang-up
// loses the line, and no byte to read saves the next read.
void serial_note_events(SerialLine& line, int16_t watched, int16_t revents);
// Points the line at another descriptor, with an empty input (tests).
void serial_use(SerialLine& line, int fd);
// Puts the saved mode back, closes the port, ends the traffic display;
// what the port has not sent within a short limit is dropped.
void serial_restore(SerialLine& line);

// The termios speed code of a configured baud rate; 0 for an unknown rate.
speed_t speed_code(int32_t baud);

}  // namespace qo3964
