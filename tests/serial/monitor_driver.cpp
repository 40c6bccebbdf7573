// SPDX-License-Identifier: MIT
// Drives the traffic display in the terminal it runs in: opens a
// pseudo-terminal of its own as the serial line (display on), plays the
// partner on the master side, and passes the bytes of a script through the
// line in the order given. When the script is done it creates the done file
// and waits to be killed, so that the screen stays as the display left it.
//
// Usage: monitor_driver <done-file> <step>...
//   iXX        the partner sends byte XX; serial_getc receives it (IN row)
//   oXX        serial_putc sends byte XX (OUT row)
//   wXXYY...   serial_write_some sends the bytes as one block (OUT row)
//   pXX        byte XX arrives marked with a parity error (IN row, red)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include "serial_line.h"

using namespace qo3964;

namespace {
// The line under test.
SerialLine serial_line;
}  // namespace

namespace {

constexpr int WAIT_MS = 2000;

int partner_fd = -1;
int marking_pipe[2] = {-1, -1};

int fail(const char* what, const char* step)
{
    std::fprintf(stderr, "\nmonitor_driver: %s: %s\n", what, step);
    return 2;
}

int hex_value(const char* text)
{
    char digits[3] = {text[0], text[0] != '\0' ? text[1] : '\0', '\0'};
    char* end = nullptr;
    const long value = std::strtol(digits, &end, 16);
    return (end == digits + 2) ? static_cast<int>(value) : -1;
}

bool put_all(int fd, const uint8_t* bytes, size_t count)
{
    return write(fd, bytes, count) == static_cast<ssize_t>(count);
}

// Takes what the server side wrote off the master, so the queue stays empty.
bool partner_takes(size_t count)
{
    size_t taken = 0;
    while (taken < count) {
        pollfd p{partner_fd, POLLIN, 0};
        if (poll(&p, 1, WAIT_MS) <= 0) {
            return false;
        }
        uint8_t buffer[256];
        const ssize_t n = read(partner_fd, buffer, sizeof buffer);
        if (n <= 0) {
            return false;
        }
        taken += static_cast<size_t>(n);
    }
    return true;
}

int run_step(const char* step)
{
    const char kind = step[0];
    const char* digits = step + 1;
    uint8_t bytes[256];
    size_t count = 0;
    while (digits[2 * count] != '\0' && count < sizeof bytes) {
        const int value = hex_value(digits + 2 * count);
        if (value < 0) {
            return fail("bad byte", step);
        }
        bytes[count++] = static_cast<uint8_t>(value);
    }
    if (count == 0 || (kind != 'w' && count != 1)) {
        return fail("bad step", step);
    }
    switch (kind) {
    case 'i':
        if (!put_all(partner_fd, bytes, 1) || serial_getc(serial_line, WAIT_MS) != bytes[0]) {
            return fail("not received", step);
        }
        return 0;
    case 'o':
        if (serial_putc(serial_line, bytes[0]) != 1 || !partner_takes(1)) {
            return fail("not sent", step);
        }
        return 0;
    case 'w':
        serial_write_some(serial_line, bytes, static_cast<int32_t>(count));
        return partner_takes(count) ? 0 : fail("not sent", step);
    case 'p': {
        // A pseudo-terminal cannot make parity errors: the marking comes
        // through a pipe put in place of the line for this one read.
        const uint8_t marking[3] = {0xFF, 0x00, bytes[0]};
        const int line_fd = serial_line.line_fd;
        serial_line.line_fd = marking_pipe[0];
        const bool marked = put_all(marking_pipe[1], marking, sizeof marking);
        const int result = serial_getc(serial_line, WAIT_MS);
        serial_line.line_fd = line_fd;
        return (marked && result == -56) ? 0 : fail("not marked", step);
    }
    default:
        return fail("unknown step", step);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: monitor_driver <done-file> <step>...\n");
        return 2;
    }
    int slave_fd = -1;
    char slave_path[256] = {};
    if (openpty(&partner_fd, &slave_fd, slave_path, nullptr, nullptr) != 0 ||
        pipe2(marking_pipe, O_NONBLOCK) != 0) {
        std::perror("monitor_driver");
        return 2;
    }
    if (serial_open(serial_line, slave_path, 9600, 'N', 'N', 1) != 0) {
        return fail("cannot open", slave_path);
    }
    for (int i = 2; i < argc; ++i) {
        const int result = run_step(argv[i]);
        if (result != 0) {
            return result;
        }
    }
    std::fflush(stdout);
    const int done = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (done < 0) {
        return fail("cannot create", argv[1]);
    }
    close(done);
    // The screen is read while the display stands; the test ends the
    // terminal, and with it this program.
    for (;;) {
        pause();
    }
}
