#include "serial_line.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "deadline_timer.h"
#include "io_monitor.h"
#include "result_codes.h"

namespace qo3964 {

SerialLine serial_line;

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

// Reads one byte if one is there; -1 when none.
int read_byte()
{
    if (serial_line.held_byte >= 0) {
        const int held = serial_line.held_byte;
        serial_line.held_byte = -1;
        return held;
    }
    uint8_t byte = 0;
    if (read(serial_line.line_fd, &byte, 1) == 1) {
        return byte;
    }
    return -1;
}

// The next byte of a marking sequence: one retry after 1 ms.
int read_marking_byte()
{
    int byte = read_byte();
    if (byte < 0) {
        sleep_ms(1);
        byte = read_byte();
    }
    return byte;
}

void show(int direction, uint8_t byte)
{
    if (serial_line.monitor_on == 1) {
        monitor_byte(direction, byte);
    }
}

int fail(const char* message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", message);
    return -1;
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

int serial_open(const char* path, int32_t baud, char parity, char flow, int32_t monitor)
{
    serial_line.monitor_on = monitor;
    serial_line.held_byte = -1;
    std::printf("Trying to open %s ... ", path);
    std::fflush(stdout);
    // O_NOCTTY: the port must never become the server's controlling
    // terminal, or a hang-up on it would kill the server without its
    // orderly stop.
    serial_line.line_fd = open(path, O_RDWR | O_EXCL | O_NONBLOCK | O_NOCTTY);
    if (serial_line.line_fd < 0) {
        return fail("Cannot open this device.");
    }
    std::printf("Success.\n");
    std::printf("Trying to read line mode of %s ... ", path);
    if (tcgetattr(serial_line.line_fd, &serial_line.saved_mode) != 0) {
        return fail("Cannot read this device'ss line mode.");
    }
    std::printf("Success.\n");

    tcflag_t parity_bits = 0;
    if (parity == 'E') {
        parity_bits = PARENB;
    } else if (parity == 'O') {
        parity_bits = PARENB | PARODD;
    }
    const tcflag_t flow_bit = (flow == 'Y') ? CRTSCTS : 0;

    termios& mode = serial_line.line_mode;
    mode = serial_line.saved_mode;
    std::printf(" Line discipline is %x\n", static_cast<unsigned>(serial_line.saved_mode.c_line));
    constexpr tcflag_t replaced = CBAUD | CBAUDEX | CSIZE | CSTOPB | PARENB | PARODD | HUPCL | CRTSCTS;
    mode.c_cflag = (serial_line.saved_mode.c_cflag & ~replaced) | CS8 | CREAD | CLOCAL |
                   speed_code(baud) | parity_bits | flow_bit;
    std::printf(" New c_cflag is %x\n", static_cast<unsigned>(mode.c_cflag));
    mode.c_iflag = INPCK | PARMRK;
    mode.c_oflag = 0;
    mode.c_lflag = 0;
    mode.c_cc[VMIN] = 0;
    mode.c_cc[VTIME] = 0;

    std::printf("Trying to set new line mode for %s ... ", path);
    if (tcsetattr(serial_line.line_fd, TCSANOW, &mode) != 0) {
        return fail("Cannot set new tty line mode\n");
    }
    std::printf("Success.\n");
    if (serial_line.monitor_on == 1 && !monitor_start()) {
        // The display is a debugging aid: the link runs without it.
        std::fprintf(stderr, "%s\n", "Cannot start the traffic display on this terminal, going on without it.");
        serial_line.monitor_on = 0;
    }
    return 0;
}

int serial_getc(int32_t ms)
{
    DeadlineTimer limit;
    timer_start(&limit, ms);
    int byte = read_byte();
    while (byte < 0) {
        if (timer_read(&limit) == 0) {
            return serial_line.last_line_error != 0 ? serial_line.last_line_error : RC_SILENCE;
        }
        sleep_ms(1);
        byte = read_byte();
    }
    if (byte != MARK) {
        serial_line.last_line_error = 0;
        show(MONITOR_IN, static_cast<uint8_t>(byte));
        return byte;
    }

    // PARMRK: 0xFF 0xFF is a data byte 0xFF, 0xFF 0x00 0x00 a BREAK,
    // 0xFF 0x00 c a character c received with a parity or framing error.
    const int second = read_marking_byte();
    if (second < 0) {
        serial_line.last_line_error = RC_LINE_ERROR;
        return RC_LINE_ERROR;
    }
    if (second == MARK) {
        show(MONITOR_IN, MARK);
        serial_line.last_line_error = 0;
        return MARK;
    }
    const int third = read_marking_byte();
    if (serial_line.monitor_on == 1) {
        monitor_error_byte(static_cast<uint8_t>(third >= 0 ? third : second));
    }
    int code = RC_PARITY;
    if (third < 0 || second != 0) {
        code = RC_LINE_ERROR;
    } else if (third == 0) {
        code = RC_BREAK;
    }
    serial_line.last_line_error = code;
    return code;
}

int serial_drop_waiting(uint8_t value)
{
    int dropped = 0;
    int byte = read_byte();
    while (byte == value) {
        show(MONITOR_IN, value);
        ++dropped;
        byte = read_byte();
    }
    serial_line.held_byte = byte;
    return dropped;
}

int serial_putc(uint8_t byte)
{
    show(MONITOR_OUT, byte);
    return static_cast<int>(write(serial_line.line_fd, &byte, 1));
}

int serial_write(const uint8_t* bytes, int32_t count)
{
    for (int32_t i = 0; i < count; ++i) {
        show(MONITOR_OUT, bytes[i]);
    }
    // The closing block must leave whole: when the non-blocking output
    // queue is full, wait for room (bounded) instead of dropping its tail.
    int32_t written = 0;
    int waits = 0;
    while (written < count) {
        const ssize_t n = write(serial_line.line_fd, bytes + written, static_cast<size_t>(count - written));
        if (n > 0) {
            written += static_cast<int32_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            break;
        }
        pollfd room{serial_line.line_fd, POLLOUT, 0};
        if (++waits > 100 || poll(&room, 1, 10) < 0) {
            break;
        }
    }
    tcdrain(serial_line.line_fd);
    return 0;
}

void serial_restore()
{
    tcsetattr(serial_line.line_fd, TCSADRAIN, &serial_line.saved_mode);
    close(serial_line.line_fd);
    serial_line.line_fd = -1;
    if (serial_line.monitor_on == 1) {
        monitor_stop();
    }
}

}  // namespace qo3964
