// SPDX-License-Identifier: MIT
// The server's console, standard output and standard error, as the
// running link writes it.
//
// Start-up and shutdown print their texts as a console program does. Once
// the main loop runs, nothing the server writes there may hold the link:
// a reader that stopped taking output (a stalled journal, a pager, a
// terminal held with Ctrl-S) must not stop the serial line. From
// console_stop_waiting on, a write that the reader cannot take at once is
// dropped and counted; a line the reader took only in part has its rest
// kept and written first next time, so that lines stay whole. When writing
// works again, the runtime log says once how many were dropped.
//
// To write without waiting, each of the two streams gets a description of
// its own: a pipe, FIFO or terminal is opened anew (through /proc/self/fd)
// with O_NONBLOCK, so the flag never reaches the shell or the program
// that shares the original one; a socket (the journal's stream) is
// written with MSG_DONTWAIT; a regular file never holds a writer for
// long and is written as it is.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qo3964 {

enum ConsoleStream : int {
    CONSOLE_OUT = 1,  // standard output: the console texts
    CONSOLE_ERR = 2,  // standard error: the runtime log
};

// From now on no console write waits. Flushes what the C library holds
// for standard output first.
void console_stop_waiting();

// Writes `length` bytes (a line, or a cell of the traffic display) to the
// stream. Before console_stop_waiting it waits as a console program would;
// after it, it never waits. False when the text was dropped.
bool console_write(ConsoleStream stream, const char* text, size_t length);

// Waits at most limit_ms for the output kept back (a line's rest, and what
// the C library holds for standard output) to go out; then drops it.
// For the stop, whose texts should reach a slow reader.
void console_settle(int32_t limit_ms);

// True when the stream is the journal's (systemd's JOURNAL_STREAM names
// its device and inode): lines there are journal entries, and a line
// may lead with a priority prefix such as "<3>".
bool console_is_journal(ConsoleStream stream);

// Writes dropped since the start, both streams together.
uint64_t console_dropped();

}  // namespace qo3964
