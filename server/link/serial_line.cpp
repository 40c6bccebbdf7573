// SPDX-License-Identifier: MIT
#include "serial_line.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <unistd.h>

#include "deadline_timer.h"
#include "io_monitor.h"
#include "line_trace.h"
#include "port_claim.h"
#include "port_path_check.h"
#include "result_codes.h"

namespace qo3964 {

namespace {

struct SpeedEntry {
    int32_t baud;
    speed_t code;
};

constexpr std::array<SpeedEntry, 8> speed_table{{
    {1200, B1200},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
}};

// The marking the terminal driver puts before a BREAK or a bad character.
constexpr int MARK = 0xFF;
// How long a marking's next byte is waited for.
constexpr int32_t MARKING_WAIT_MS = 1;
// Bits of one character on the line (start, 8 data, parity, stop), for
// the pace of draining.
constexpr int32_t BITS_PER_CHAR = 11;
constexpr int32_t DRAIN_PAUSE_MAX_MS = 20;
// The stop gives what is still queued this long to leave, then drops it.
constexpr int32_t STOP_DRAIN_MS = 2000;

void drop_input(SerialLine& line)
{
    line.input_pos = 0;
    line.input_len = 0;
}

// Errors after which the port is gone rather than busy.
bool port_gone(int error)
{
    return error == EIO || error == ENXIO || error == ENODEV || error == EBADF || error == EPIPE;
}

void lose_line(SerialLine& line)
{
    line.line_lost = 1;
    drop_input(line);
}

// Fills the input with what the line holds, in one read; false when
// nothing is there. A read that ends in EOF after the port reported input,
// or with EIO, means the port is gone.
bool fill_input(SerialLine& line, bool reported_ready)
{
    // A wait that watched the line and saw nothing to read saves the read.
    if (line.line_lost != 0 || (line.input_expected == 0 && !reported_ready)) {
        return false;
    }
    const ssize_t n = read(line.input_fd >= 0 ? line.input_fd : line.line_fd, line.input, sizeof line.input);
    if (n > 0) {
        line.input_pos = 0;
        line.input_len = static_cast<int32_t>(n);
        line.last_read = static_cast<int32_t>(n);
        // Less than the buffer holds: the driver had no more just now, so
        // the next look waits for the line rather than reading in vain.
        if (n < static_cast<ssize_t>(sizeof line.input)) {
            line.input_expected = 0;
        }
        return true;
    }
    if ((n == 0 && reported_ready) || (n < 0 && port_gone(errno))) {
        lose_line(line);
    }
    return false;
}

// The next byte of the input if one is there; -1 when none.
int peek_byte(SerialLine& line, bool reported_ready = false)
{
    if (line.input_pos >= line.input_len && !fill_input(line, reported_ready)) {
        return -1;
    }
    return line.input[line.input_pos];
}

int read_byte(SerialLine& line, bool reported_ready = false)
{
    const int byte = peek_byte(line, reported_ready);
    if (byte >= 0) {
        line.input_pos += 1;
    }
    return byte;
}

// Waits at most ms for input, then reads; -1 when none came. A hang-up
// seen by the wait with nothing left to read loses the line.
int await_byte(SerialLine& line, int32_t ms)
{
    int16_t seen = 0;
    const int ready = wait_fd(line.line_fd, POLLIN, ms, &seen);
    if (ready == 0 || (ready < 0 && errno == EINTR)) {
        return -1;
    }
    const int byte = read_byte(line, ready > 0);
    if (byte < 0 && (ready < 0 || (seen & (POLLHUP | POLLERR | POLLNVAL)) != 0)) {
        lose_line(line);
    }
    return byte;
}

// How long to wait when the limit reads `left` ms in whole ticks: the
// deadline falls somewhere within the last of them, so the wait stops half
// a tick short and the limit is read again. A silent read thus ends on
// average a quarter tick after its deadline, with one or two waits.
int32_t wait_span(int32_t left)
{
    const int32_t half_tick = ms_per_tick() / 2;
    return left > half_tick ? left - half_tick : left;
}

// The next byte of a marking sequence: waited for at most 1 ms.
int read_marking_byte(SerialLine& line)
{
    const int byte = read_byte(line);
    return byte >= 0 ? byte : await_byte(line, MARKING_WAIT_MS);
}

void show(const SerialLine& line, int direction, uint8_t byte)
{
    if (line.monitor_on == 1) {
        monitor_byte(direction, byte);
    }
    trace_byte(direction, byte);
}

void show_all(const SerialLine& line, const uint8_t* bytes, int32_t count)
{
    for (int32_t i = 0; i < count; ++i) {
        show(line, MONITOR_OUT, bytes[i]);
    }
}

int fail(const char* message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", message);
    return -1;
}

// One write; the count taken, 0 when the line takes nothing now, -1 on a
// failure (which loses the line when the port is gone).
ssize_t write_once(SerialLine& line, const uint8_t* bytes, int32_t count)
{
    if (line.line_lost != 0) {
        errno = EIO;
        return -1;
    }
    const ssize_t n = write(line.line_fd, bytes, static_cast<size_t>(count));
    if (n >= 0) {
        return n;
    }
    if (errno == EAGAIN || errno == EINTR) {
        return 0;
    }
    if (port_gone(errno)) {
        lose_line(line);
    }
    return -1;
}

// Milliseconds the line needs for `queued` characters, within 1 to 20.
int32_t drain_pause(const SerialLine& line, int32_t queued)
{
    const int32_t baud = line.baud > 0 ? line.baud : 9600;
    const int64_t ms = static_cast<int64_t>(queued) * BITS_PER_CHAR * 1000 / baud;
    return static_cast<int32_t>(std::clamp<int64_t>(ms, 1, DRAIN_PAUSE_MAX_MS));
}

void ignore_alarm(int) {}

// tcdrain also waits for the port's own buffer, which a USB adapter keeps
// while CTS is low, and has no limit of its own: an interval timer breaks
// it off after limit_ms (and again every limit_ms, should the first alarm
// come before tcdrain has begun).
bool drain_port_buffer(SerialLine& line, int32_t limit_ms)
{
    struct sigaction quiet {};
    quiet.sa_handler = ignore_alarm;  // no SA_RESTART: tcdrain ends with EINTR
    sigemptyset(&quiet.sa_mask);
    struct sigaction previous {};
    sigaction(SIGALRM, &quiet, &previous);
    limit_ms = std::max(limit_ms, int32_t{1});  // 0 would disarm the timer
    itimerval timer{};
    timer.it_value.tv_sec = limit_ms / 1000;
    timer.it_value.tv_usec = (limit_ms % 1000) * 1000;
    timer.it_interval = timer.it_value;
    setitimer(ITIMER_REAL, &timer, nullptr);
    const int drained = tcdrain(line.line_fd);
    const itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &previous, nullptr);
    return drained == 0;
}

// Waits until the output has left the port, or gives up after limit_ms:
// the stop's last drain, which must not outlast the service manager's
// patience at a low baud rate. Only a terminal has an output queue;
// anything else counts as drained.
bool drain_output(SerialLine& line, int32_t limit_ms)
{
    if (line.line_lost != 0) {
        return false;
    }
    if (isatty(line.line_fd) == 0) {
        return true;
    }
    DeadlineTimer limit{};
    timer_start(&limit, limit_ms);
    for (;;) {
        int queued = 0;
        if (ioctl(line.line_fd, TIOCOUTQ, &queued) != 0) {
            return false;
        }
        if (queued == 0) {
            break;
        }
        if (timer_read(&limit) == 0) {
            return false;
        }
        sleep_ms(drain_pause(line, queued));
    }
    // What the driver has handed to the port leaves within a few
    // character times, unless the port is held.
    return drain_port_buffer(line, limit_ms);
}

// A port that cannot be opened or is held by another process: closed
// again, errno kept for the caller's report.
int refuse_port(SerialLine& line, bool announce)
{
    const int error = errno;
    if (line.line_fd >= 0) {
        close(line.line_fd);
        line.line_fd = -1;
    }
    const int result = announce ? fail("Cannot open this device.") : -1;
    errno = error;
    return result;
}

// Opens the device and sets the line mode; `announce` prints the steps.
int open_device(SerialLine& line, const char* path, int32_t baud, char parity, char flow, bool announce)
{
    if (announce) {
        std::printf("Trying to open %s ... ", path);
        std::fflush(stdout);
    }
    drop_input(line);
    line.baud = baud;
    if (!port_path_trusted(path, line.path_refusal, sizeof line.path_refusal)) {
        errno = EPERM;
        return announce ? fail("Cannot open this device.") : -1;
    }
    // O_NOCTTY: the port must never become the server's controlling
    // terminal, or a hang-up on it would kill the server without its
    // orderly stop.
    line.line_fd = open(path, O_RDWR | O_EXCL | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (line.line_fd < 0 || port_claim(line.line_fd) != 0) {
        return refuse_port(line, announce);
    }
    if (announce) {
        std::printf("Success.\n");
        std::printf("Trying to read line mode of %s ... ", path);
    }
    // The mode found at the first open is the one put back at the stop;
    // a reopen (the device replugged) only starts from the mode it finds.
    termios found{};
    if (tcgetattr(line.line_fd, &found) != 0) {
        return announce ? fail("Cannot read this device'ss line mode.") : -1;
    }
    if (announce) {
        line.saved_mode = found;
        std::printf("Success.\n");
    }

    tcflag_t parity_bits = 0;
    if (parity == 'E') {
        parity_bits = PARENB;
    } else if (parity == 'O') {
        parity_bits = PARENB | PARODD;
    }
    const tcflag_t flow_bit = (flow == 'Y') ? CRTSCTS : 0;

    termios& mode = line.line_mode;
    mode = found;
    if (announce) {
        std::printf(" Line discipline is %x\n", static_cast<unsigned>(found.c_line));
    }
    constexpr tcflag_t replaced = CBAUD | CBAUDEX | CSIZE | CSTOPB | PARENB | PARODD | HUPCL | CRTSCTS;
    mode.c_cflag = (found.c_cflag & ~replaced) | CS8 | CREAD | CLOCAL | speed_code(baud) | parity_bits |
                   flow_bit;
    mode.c_iflag = INPCK | PARMRK;
    mode.c_oflag = 0;
    mode.c_lflag = 0;
    mode.c_cc[VMIN] = 0;
    mode.c_cc[VTIME] = 0;
    if (announce) {
        std::printf(" New c_cflag is %x\n", static_cast<unsigned>(mode.c_cflag));
        std::printf("Trying to set new line mode for %s ... ", path);
    }
    if (tcsetattr(line.line_fd, TCSANOW, &mode) != 0) {
        return announce ? fail("Cannot set new tty line mode\n") : -1;
    }
    if (announce) {
        std::printf("Success.\n");
    }
    line.line_lost = 0;
    return 0;
}

}  // namespace

speed_t speed_code(int32_t baud)
{
    for (const SpeedEntry& entry : speed_table) {
        if (entry.baud == baud) {
            return entry.code;
        }
    }
    return 0;
}

int serial_open(SerialLine& line, const char* path, int32_t baud, char parity, char flow, int32_t monitor)
{
    line.monitor_on = monitor;
    if (open_device(line, path, baud, parity, flow, true) != 0) {
        return -1;
    }
    if (line.monitor_on == 1 && !monitor_start()) {
        // The display is a debugging aid: the link runs without it.
        std::fprintf(stderr, "%s\n", "Cannot start the traffic display on this terminal, going on without it.");
        line.monitor_on = 0;
    }
    return 0;
}

int serial_reopen(SerialLine& line, const char* path, int32_t baud, char parity, char flow)
{
    if (open_device(line, path, baud, parity, flow, false) != 0) {
        if (line.line_fd >= 0) {
            close(line.line_fd);
            line.line_fd = -1;
        }
        return -1;
    }
    serial_flush_input(line);
    return 0;
}

void serial_close(SerialLine& line)
{
    if (line.line_fd >= 0) {
        tcflush(line.line_fd, TCIOFLUSH);
        tcsetattr(line.line_fd, TCSANOW, &line.saved_mode);
        close(line.line_fd);
        line.line_fd = -1;
    }
    line.line_lost = 1;
    drop_input(line);
}

int serial_getc(SerialLine& line, int32_t ms)
{
    // A byte already read costs no system call; the limit is armed only
    // when the reader has to wait.
    int byte = read_byte(line);
    if (byte < 0 && ms <= 0) {
        return RC_SILENCE;
    }
    if (byte < 0) {
        DeadlineTimer limit;
        timer_start(&limit, ms);
        while (byte < 0) {
            const int32_t left = timer_read(&limit);
            if (left == 0 || line.line_lost != 0) {
                return RC_SILENCE;
            }
            byte = await_byte(line, wait_span(left));
        }
    }
    if (byte != MARK) {
        line.last_line_error = 0;
        show(line, MONITOR_IN, static_cast<uint8_t>(byte));
        return byte;
    }

    // PARMRK: 0xFF 0xFF is a data byte 0xFF, 0xFF 0x00 0x00 a BREAK,
    // 0xFF 0x00 c a character c received with a parity or framing error.
    const int second = read_marking_byte(line);
    if (second < 0) {
        trace_line_error(RC_LINE_ERROR, MARK);
        line.last_line_error = RC_LINE_ERROR;
        return RC_LINE_ERROR;
    }
    if (second == MARK) {
        show(line, MONITOR_IN, MARK);
        line.last_line_error = 0;
        return MARK;
    }
    const int third = read_marking_byte(line);
    if (line.monitor_on == 1) {
        monitor_error_byte(static_cast<uint8_t>(third >= 0 ? third : second));
    }
    int code = RC_PARITY;
    if (third < 0 || second != 0) {
        code = RC_LINE_ERROR;
    } else if (third == 0) {
        code = RC_BREAK;
    }
    trace_line_error(code, static_cast<uint8_t>(third >= 0 ? third : second));
    line.last_line_error = code;
    return code;
}

int serial_drop_waiting(SerialLine& line, uint8_t value)
{
    int dropped = 0;
    while (peek_byte(line) == value) {
        line.input_pos += 1;
        show(line, MONITOR_IN, value);
        ++dropped;
    }
    return dropped;
}

void serial_flush_input(SerialLine& line)
{
    tcflush(line.line_fd, TCIFLUSH);
    drop_input(line);
}

void serial_flush_output(SerialLine& line)
{
    // Only what still waits in the driver: a pseudo-terminal counts what
    // its reader has not read yet as sent, and so it is.
    int queued = 0;
    if (line.line_lost == 0 && isatty(line.line_fd) == 1 && ioctl(line.line_fd, TIOCOUTQ, &queued) == 0 &&
        queued > 0) {
        tcflush(line.line_fd, TCOFLUSH);
    }
}

bool serial_byte_waiting(SerialLine& line)
{
    return peek_byte(line) >= 0;
}

int serial_peek(SerialLine& line)
{
    return peek_byte(line);
}

int32_t serial_output_queued(SerialLine& line)
{
    if (line.line_lost != 0) {
        return -1;
    }
    int queued = 0;
    if (isatty(line.line_fd) == 0) {
        return 0;
    }
    if (ioctl(line.line_fd, TIOCOUTQ, &queued) != 0) {
        lose_line(line);
        return -1;
    }
    return queued;
}

void serial_note_events(SerialLine& line, int16_t watched, int16_t revents)
{
    line.input_expected = (watched & POLLIN) == 0 || (revents & POLLIN) != 0 ? 1 : 0;
    // A hang-up or an error on the descriptor with nothing left to read:
    // the port is gone (a pulled adapter, the pty's other side closed).
    if (line.line_fd >= 0 && (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 && peek_byte(line, true) < 0) {
        lose_line(line);
    }
}

int32_t serial_wire_ms(const SerialLine& line, int32_t chars)
{
    const int32_t baud = line.baud > 0 ? line.baud : 9600;
    const int64_t ms = (static_cast<int64_t>(chars) * BITS_PER_CHAR * 1000 + baud - 1) / baud;
    return static_cast<int32_t>(std::min<int64_t>(ms, INT32_MAX / 2));
}

int32_t serial_input_held(const SerialLine& line)
{
    return line.input_len - line.input_pos;
}

void serial_use(SerialLine& line, int fd)
{
    line.line_fd = fd;
    line.line_lost = 0;
    line.last_line_error = 0;
    drop_input(line);
}

int serial_putc(SerialLine& line, uint8_t byte)
{
    show(line, MONITOR_OUT, byte);
    if (line.line_lost != 0) {
        return -1;
    }
    const ssize_t n = write(line.line_fd, &byte, 1);
    if (n < 0 && port_gone(errno)) {
        lose_line(line);
    }
    return static_cast<int>(n);
}

int serial_write_some(SerialLine& line, const uint8_t* bytes, int32_t count)
{
    int32_t written = 0;
    while (written < count) {
        ssize_t n = write_once(line, bytes + written, count - written);
        if (n == 0 && written == 0 && count > 1) {
            // A terminal takes what fits; a line that takes whole writes
            // only (a pipe) still gets the bytes one by one.
            n = write_once(line, bytes, 1);
        }
        if (n < 0) {
            show_all(line, bytes, written);
            return -1;
        }
        if (n == 0) {
            break;
        }
        written += static_cast<int32_t>(n);
    }
    show_all(line, bytes, written);
    return written;
}

void serial_restore(SerialLine& line)
{
    if (line.line_fd >= 0) {
        // A line that cannot get its output out (held by CTS) must not
        // hold the stop: what is left is dropped.
        if (line.line_lost != 0 || !drain_output(line, STOP_DRAIN_MS)) {
            tcflush(line.line_fd, TCOFLUSH);
        }
        // Drained or flushed just now: TCSADRAIN could only wait, without a
        // limit, for a port held by CTS.
        tcsetattr(line.line_fd, TCSANOW, &line.saved_mode);
        close(line.line_fd);
        line.line_fd = -1;
    }
    drop_input(line);
    if (line.monitor_on == 1) {
        monitor_stop();
    }
}

}  // namespace qo3964
