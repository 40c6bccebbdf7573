// SPDX-License-Identifier: MIT
// Opening the line: the mode found and the mode set, read back from a
// pseudo-terminal, and the console messages of each step.
#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <termios.h>
#include <unistd.h>

#include "captured_output.h"
#include "serial_line.h"
#include "test_support.h"

using namespace qo3964;

namespace {
// The line under test.
SerialLine serial_line;
}  // namespace

namespace {

// The input speed field of c_cflag, which the new mode keeps as found.
constexpr tcflag_t SAVED_INPUT_SPEED = static_cast<tcflag_t>(B2400) << std::countr_zero(static_cast<tcflag_t>(CIBAUD));

// Puts an unusual mode on the port before the server opens it, so that
// what is kept and what is replaced can be told apart.
termios put_odd_mode(int fd)
{
    termios mode{};
    tcgetattr(fd, &mode);
    mode.c_cflag = (mode.c_cflag & ~(CBAUD | CIBAUD | CSIZE)) | B4800 | SAVED_INPUT_SPEED | CS7 | CSTOPB |
                   PARENB | PARODD | HUPCL | CRTSCTS | CMSPAR;
    mode.c_iflag = IGNPAR | IGNBRK | BRKINT | ISTRIP | ICRNL | IXON;
    mode.c_oflag = OPOST | ONLCR;
    mode.c_lflag = ICANON | ECHO | ISIG;
    mode.c_cc[VINTR] = 0x07;
    mode.c_cc[VMIN] = 1;
    mode.c_cc[VTIME] = 5;
    EXPECT_EQ(tcsetattr(fd, TCSANOW, &mode), 0);
    termios found{};
    tcgetattr(fd, &found);
    return found;
}

termios mode_of(int fd)
{
    termios mode{};
    EXPECT_EQ(tcgetattr(fd, &mode), 0);
    return mode;
}

std::string hex_word(tcflag_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(value));
    return text;
}

struct LineCase {
    int32_t baud;
    speed_t code;
    char parity;
    char flow;
};

// Every speed once; parity and flow cycle so that all six pairs occur.
constexpr LineCase line_cases[] = {
    {1200, B1200, 'E', 'N'},   {2400, B2400, 'O', 'Y'},   {4800, B4800, 'N', 'N'},
    {9600, B9600, 'E', 'Y'},   {19200, B19200, 'O', 'N'}, {38400, B38400, 'N', 'Y'},
    {57600, B57600, 'E', 'N'}, {115200, B115200, 'O', 'Y'},
};

void PrintTo(const LineCase& c, std::ostream* os) { *os << c.baud << ' ' << c.parity << ' ' << c.flow; }

class LineMode : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineMode, ReplacesSpeedParityFlowAndInputHandlingKeepsTheRest)
{
    const LineCase c = GetParam();
    qotest::TempDir dir;
    qotest::PtyPair pty;
    const termios found = put_odd_mode(pty.slave());

    CapturedOutput output(dir);
    const int result = serial_open(serial_line, pty.slave_path().c_str(), c.baud, c.parity, c.flow, 0);
    output.finish();
    ASSERT_EQ(result, 0) << output.err();

    const termios& saved = serial_line.saved_mode;
    EXPECT_EQ(saved.c_cflag, found.c_cflag);
    EXPECT_EQ(saved.c_iflag, found.c_iflag);
    EXPECT_EQ(saved.c_lflag, found.c_lflag);

    const tcflag_t set = serial_line.line_mode.c_cflag;
    EXPECT_EQ(set & CBAUD, c.code);
    EXPECT_EQ(set & CIBAUD, SAVED_INPUT_SPEED);
    EXPECT_EQ(set & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(set & (CSTOPB | HUPCL), 0U);
    EXPECT_EQ(set & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
    EXPECT_EQ((set & PARENB) != 0, c.parity != 'N');
    EXPECT_EQ((set & PARODD) != 0, c.parity == 'O');
    EXPECT_EQ((set & CRTSCTS) != 0, c.flow == 'Y');
    EXPECT_NE(set & CMSPAR, 0U);
    EXPECT_NE(output.out().find(" New c_cflag is " + hex_word(set) + "\n"), std::string::npos) << output.out();

    // A pseudo-terminal has no parity generator and always drops PARENB;
    // everything else of the new mode must have reached the port.
    const termios now = mode_of(pty.slave());
    EXPECT_EQ(now.c_cflag, set & ~static_cast<tcflag_t>(PARENB));
    EXPECT_EQ(now.c_iflag, static_cast<tcflag_t>(INPCK | PARMRK));
    EXPECT_EQ(now.c_oflag, 0U);
    EXPECT_EQ(now.c_lflag, 0U);
    EXPECT_EQ(now.c_cc[VMIN], 0);
    EXPECT_EQ(now.c_cc[VTIME], 0);
    EXPECT_EQ(now.c_line, found.c_line);
    for (size_t i = 0; i < NCCS; ++i) {
        if (i != VMIN && i != VTIME) {
            EXPECT_EQ(now.c_cc[i], found.c_cc[i]) << "control character " << i;
        }
    }
}

std::string case_name(const ::testing::TestParamInfo<LineCase>& info)
{
    return std::to_string(info.param.baud) + "_" + info.param.parity + "_" + info.param.flow;
}

INSTANTIATE_TEST_SUITE_P(SpeedsParitiesFlows, LineMode, ::testing::ValuesIn(line_cases), case_name);

TEST(LineRestore, PutsTheFoundModeBackAndClosesThePort)
{
    qotest::TempDir dir;
    qotest::PtyPair pty;
    const termios found = put_odd_mode(pty.slave());
    {
        CapturedOutput output(dir);
        ASSERT_EQ(serial_open(serial_line, pty.slave_path().c_str(), 19200, 'E', 'Y', 0), 0);
    }
    const int line_fd = serial_line.line_fd;
    ASSERT_EQ(mode_of(pty.slave()).c_iflag, static_cast<tcflag_t>(INPCK | PARMRK));

    serial_restore(serial_line);

    const termios now = mode_of(pty.slave());
    EXPECT_EQ(now.c_cflag, found.c_cflag);
    EXPECT_EQ(now.c_iflag, found.c_iflag);
    EXPECT_EQ(now.c_oflag, found.c_oflag);
    EXPECT_EQ(now.c_lflag, found.c_lflag);
    for (size_t i = 0; i < NCCS; ++i) {
        EXPECT_EQ(now.c_cc[i], found.c_cc[i]) << "control character " << i;
    }
    EXPECT_EQ(fcntl(line_fd, F_GETFD), -1);
}

TEST(SerialOpenMessages, EachStepAnnouncedAndConfirmedOnStandardOutput)
{
    qotest::TempDir dir;
    qotest::PtyPair pty;
    const std::string path = pty.slave_path();
    const termios found = mode_of(pty.slave());

    CapturedOutput output(dir);
    const int result = serial_open(serial_line, path.c_str(), 9600, 'N', 'N', 0);
    output.finish();

    EXPECT_EQ(result, 0);
    char line_discipline[32];
    std::snprintf(line_discipline, sizeof line_discipline, " Line discipline is %x\n",
                  static_cast<unsigned>(found.c_line));
    EXPECT_EQ(output.out(), "Trying to open " + path + " ... Success.\n" + "Trying to read line mode of " + path +
                                " ... Success.\n" + line_discipline + " New c_cflag is " +
                                hex_word(serial_line.line_mode.c_cflag) + "\n" + "Trying to set new line mode for " +
                                path + " ... Success.\n");
    EXPECT_EQ(output.err(), "");
}

TEST(SerialOpenMessages, MissingDeviceIsRefusedOnStandardError)
{
    qotest::TempDir dir;
    const std::string path = dir.file("ttyMissing");

    CapturedOutput output(dir);
    const int result = serial_open(serial_line, path.c_str(), 9600, 'E', 'N', 0);
    output.finish();

    EXPECT_EQ(result, -1);
    EXPECT_EQ(output.out(), "Trying to open " + path + " ... ");
    EXPECT_EQ(output.err(), "Cannot open this device.\n");
}

TEST(SerialOpenMessages, DeviceWithoutLineModeIsRefusedOnStandardError)
{
    qotest::TempDir dir;
    const std::string path = dir.file("not_a_tty");
    qotest::write_file(path, "");

    CapturedOutput output(dir);
    const int result = serial_open(serial_line, path.c_str(), 9600, 'E', 'N', 0);
    output.finish();

    EXPECT_EQ(result, -1);
    EXPECT_EQ(output.out(), "Trying to open " + path + " ... Success.\nTrying to read line mode of " + path + " ... ");
    EXPECT_EQ(output.err(), "Cannot read this device'ss line mode.\n");
}

// Only the flag value 1 starts the display; a started display would have
// written the terminal's set-up sequences to standard output.
TEST(SerialOpenMessages, MonitorFlagOtherThanOneLeavesTheDisplayOff)
{
    qotest::TempDir dir;
    qotest::PtyPair pty;

    CapturedOutput output(dir);
    const int result = serial_open(serial_line, pty.slave_path().c_str(), 9600, 'N', 'N', 2);
    qotest::write_bytes(pty.master(), {0x41});
    const int byte = serial_getc(serial_line, 2000);
    const int written = serial_putc(serial_line, 0x42);
    output.finish();

    EXPECT_EQ(result, 0);
    EXPECT_EQ(byte, 0x41);
    EXPECT_EQ(written, 1);
    EXPECT_EQ(output.out().find('\x1b'), std::string::npos);
    EXPECT_EQ(output.out().substr(output.out().size() - 9), "Success.\n");
}

// Asked for on a terminal the screen library does not know, the display
// must not end the server (initscr would exit on the spot, leaving the
// segment and the lockfile behind): the line opens without it.
TEST(SerialOpenMessages, UnknownTerminalLeavesTheDisplayOffAndTheLineWorking)
{
    qotest::TempDir dir;
    qotest::PtyPair pty;
    setenv("TERM", "qo3964-no-such-terminal", 1);

    CapturedOutput output(dir);
    const int result = serial_open(serial_line, pty.slave_path().c_str(), 9600, 'N', 'N', 1);
    qotest::write_bytes(pty.master(), {0x41});
    const int byte = serial_getc(serial_line, 2000);
    const int written = serial_putc(serial_line, 0x42);
    serial_restore(serial_line);
    output.finish();

    EXPECT_EQ(result, 0);
    EXPECT_EQ(serial_line.monitor_on, 0);
    EXPECT_EQ(output.err(), "Cannot start the traffic display on this terminal, going on without it.\n");
    EXPECT_EQ(output.out().substr(output.out().size() - 9), "Success.\n");
    EXPECT_EQ(byte, 0x41);
    EXPECT_EQ(written, 1);
    EXPECT_EQ(qotest::hex(qotest::read_bytes(pty.master(), 1, 2000)), "42");
}

}  // namespace
