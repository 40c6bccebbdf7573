// SPDX-License-Identifier: MIT
#include "partner_line.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>

namespace qopartner {

namespace {

struct SpeedCode {
    int baud;
    speed_t code;
};

// The rates the server accepts.
constexpr std::array<SpeedCode, 8> speed_codes = {{
    {1200, B1200},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
}};

[[noreturn]] void fail(const std::string& what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

using Clock = std::chrono::steady_clock;

// poll until `until`, to the microsecond (a character at 115200 baud
// takes less than one millisecond). Result and errors as poll's.
int poll_until(pollfd* watch, nfds_t count, Clock::time_point until)
{
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(until - Clock::now());
    timespec limit{};
    if (left.count() > 0) {
        limit.tv_sec = static_cast<time_t>(left.count() / 1000000000);
        limit.tv_nsec = static_cast<long>(left.count() % 1000000000);
    }
    return ppoll(watch, count, &limit, nullptr);
}

int ms_left(Clock::time_point end)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

PartnerLine PartnerLine::open_pty()
{
    PartnerLine line;
    line.fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (line.fd_ < 0) {
        fail("cannot create a pseudo-terminal");
    }
    char name[128] = {};
    if (grantpt(line.fd_) != 0 || unlockpt(line.fd_) != 0 || ptsname_r(line.fd_, name, sizeof name) != 0) {
        fail("cannot unlock the pseudo-terminal");
    }
    line.path_ = name;
    line.slave_fd_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (line.slave_fd_ < 0) {
        fail("cannot open " + line.path_);
    }
    termios raw{};
    if (tcgetattr(line.slave_fd_, &raw) != 0) {
        fail("cannot read the line mode of " + line.path_);
    }
    cfmakeraw(&raw);
    cfsetspeed(&raw, B9600);
    raw.c_cflag |= CLOCAL | CREAD;
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(line.slave_fd_, TCSANOW, &raw) != 0) {
        fail("cannot set the line mode of " + line.path_);
    }
    return line;
}

PartnerLine PartnerLine::open_device(const std::string& path, int baud, char parity)
{
    const SpeedCode* speed = nullptr;
    for (const SpeedCode& entry : speed_codes) {
        if (entry.baud == baud) {
            speed = &entry;
        }
    }
    if (speed == nullptr) {
        throw std::invalid_argument("unsupported baud rate " + std::to_string(baud));
    }
    if (parity != 'E' && parity != 'O' && parity != 'N') {
        throw std::invalid_argument(std::string("unsupported parity ") + parity);
    }
    PartnerLine line;
    line.path_ = path;
    line.fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (line.fd_ < 0) {
        fail("cannot open " + path);
    }
    if (tcgetattr(line.fd_, &line.saved_mode_) != 0) {
        fail("cannot read the line mode of " + path);
    }
    termios raw = line.saved_mode_;
    cfmakeraw(&raw);
    raw.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | PARODD | CRTSCTS | HUPCL);
    raw.c_cflag |= CS8 | CREAD | CLOCAL;
    if (parity != 'N') {
        raw.c_cflag |= PARENB;
        // A character with a parity error arrives as 0x00: the block check
        // or the DLE sequence then refuses the telegram.
        raw.c_iflag |= INPCK;
    }
    if (parity == 'O') {
        raw.c_cflag |= PARODD;
    }
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    cfsetspeed(&raw, speed->code);
    if (tcsetattr(line.fd_, TCSANOW, &raw) != 0) {
        fail("cannot set the line mode of " + path);
    }
    line.restore_mode_ = true;
    tcflush(line.fd_, TCIOFLUSH);
    return line;
}

PartnerLine::PartnerLine(PartnerLine&& other) noexcept
{
    *this = std::move(other);
}

PartnerLine& PartnerLine::operator=(PartnerLine&& other) noexcept
{
    if (this != &other) {
        close_all();
        fd_ = std::exchange(other.fd_, -1);
        slave_fd_ = std::exchange(other.slave_fd_, -1);
        restore_mode_ = std::exchange(other.restore_mode_, false);
        saved_mode_ = other.saved_mode_;
        path_ = std::move(other.path_);
        std::copy(std::begin(other.buffer_), std::end(other.buffer_), std::begin(buffer_));
        buffer_pos_ = std::exchange(other.buffer_pos_, 0);
        buffer_len_ = std::exchange(other.buffer_len_, 0);
        buffer_arrival_ = other.buffer_arrival_;
        wire_ = other.wire_;
    }
    return *this;
}

PartnerLine::~PartnerLine()
{
    close_all();
}

void PartnerLine::close_all()
{
    if (fd_ >= 0) {
        if (restore_mode_) {
            tcsetattr(fd_, TCSADRAIN, &saved_mode_);
        }
        ::close(fd_);
        fd_ = -1;
    }
    if (slave_fd_ >= 0) {
        ::close(slave_fd_);
        slave_fd_ = -1;
    }
}

int PartnerLine::read_byte(int timeout_ms, int wake_fd)
{
    const bool endless = timeout_ms < 0;
    const auto end = Clock::now() + std::chrono::milliseconds(endless ? 0 : timeout_ms);
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (buffer_pos_ < buffer_len_) {
            const Clock::time_point seen = wire_.instant() ? now : wire_.seen_at(buffer_arrival_);
            if (seen <= now) {
                wire_.take_seen(seen);
                return buffer_[buffer_pos_++];
            }
            // Still on its way over the emulated line.
            if (!endless && now >= end) {
                return LINE_TIMEOUT;
            }
            pollfd watch{wake_fd, POLLIN, 0};
            if (poll_until(&watch, 1, endless ? seen : std::min(seen, end)) > 0) {
                return LINE_WOKEN;
            }
            continue;
        }
        // A wake descriptor of -1 is ignored by poll.
        pollfd watch[2] = {{fd_, POLLIN, 0}, {wake_fd, POLLIN, 0}};
        const int ready = endless ? ppoll(watch, 2, nullptr, nullptr) : poll_until(watch, 2, end);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return LINE_CLOSED;
        }
        if (ready == 0) {
            if (endless || Clock::now() < end) {
                continue;
            }
            return LINE_TIMEOUT;
        }
        if (watch[0].revents & POLLIN) {
            const ssize_t n = ::read(fd_, buffer_, sizeof buffer_);
            if (n > 0) {
                buffer_len_ = static_cast<size_t>(n);
                buffer_pos_ = 0;
                buffer_arrival_ = Clock::now();
                continue;
            }
            if ((n < 0 && errno != EAGAIN && errno != EINTR) || (n == 0 && (watch[0].revents & POLLHUP))) {
                return LINE_CLOSED;
            }
        } else if (watch[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            return LINE_CLOSED;
        }
        if (watch[1].revents != 0) {
            return LINE_WOKEN;
        }
    }
}

bool PartnerLine::write(const Bytes& bytes, int timeout_ms)
{
    size_t done = 0;
    return write_from(bytes, done, timeout_ms) == LINE_WRITTEN;
}

int PartnerLine::write_from(const Bytes& bytes, size_t& done, int timeout_ms, int wake_fd)
{
    return wire_.instant() ? write_at_once(bytes, done, timeout_ms, wake_fd)
                           : write_paced(bytes, done, timeout_ms, wake_fd);
}

int PartnerLine::wait_for_room(Clock::time_point end, int wake_fd)
{
    if (Clock::now() >= end) {
        return LINE_TIMEOUT;
    }
    pollfd watch[2] = {{fd_, POLLOUT, 0}, {wake_fd, POLLIN, 0}};
    poll_until(watch, 2, end);
    return watch[1].revents != 0 ? LINE_WOKEN : ROOM_MAYBE;
}

int PartnerLine::write_at_once(const Bytes& bytes, size_t& done, int timeout_ms, int wake_fd)
{
    const auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return LINE_CLOSED;
        }
        const int waited = wait_for_room(end, wake_fd);
        if (waited != ROOM_MAYBE) {
            return waited;
        }
    }
    return LINE_WRITTEN;
}

// Each byte is handed to the pseudo-terminal once it has come across the
// emulated line, so the other end reads it no earlier than a real line
// would deliver it. The times are reckoned on the line's own clock, not
// from when the last write happened to return, so late wake-ups do not add
// up over a long telegram: the bytes due by then go together.
int PartnerLine::write_paced(const Bytes& bytes, size_t& done, int timeout_ms, int wake_fd)
{
    Clock::time_point ready = Clock::now();
    while (done < bytes.size()) {
        const Clock::time_point now = Clock::now();
        const long left = static_cast<long>(bytes.size() - done);
        long due = 0;
        while (due < left && wire_.arrival_of(ready, due + 1) <= now) {
            ++due;
        }
        if (due == 0) {
            pollfd watch{wake_fd, POLLIN, 0};
            if (poll_until(&watch, 1, wire_.arrival_of(ready, 1)) > 0) {
                return LINE_WOKEN;
            }
            continue;
        }
        const ssize_t n = ::write(fd_, bytes.data() + done, static_cast<size_t>(due));
        if (n > 0) {
            for (ssize_t i = 0; i < n; ++i) {
                wire_.send_one(ready);
            }
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return LINE_CLOSED;
        }
        const int waited = wait_for_room(now + std::chrono::milliseconds(timeout_ms), wake_fd);
        if (waited != ROOM_MAYBE) {
            return waited;
        }
        ready = Clock::now();  // the line stood still while the other end read nothing
    }
    return LINE_WRITTEN;
}

bool PartnerLine::wait_drained(int timeout_ms)
{
    if (!is_pty()) {
        return tcdrain(fd_) == 0;
    }
    // The slave's input queue is shared by all its descriptors, ours too.
    // Written bytes pass the kernel's flip buffer before they are counted,
    // so the queue must be found empty twice, a little apart.
    const auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    int empty_seen = 0;
    while (Clock::now() < end) {
        int unread = 0;
        if (ioctl(slave_fd_, FIONREAD, &unread) != 0) {
            return false;
        }
        empty_seen = unread == 0 ? empty_seen + 1 : 0;
        if (empty_seen == 2) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

Bytes PartnerLine::read_bytes(size_t count, int timeout_ms)
{
    const auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    Bytes bytes;
    while (bytes.size() < count) {
        const int c = read_byte(ms_left(end));
        if (c < 0) {
            break;
        }
        bytes.push_back(static_cast<uint8_t>(c));
    }
    return bytes;
}

Bytes PartnerLine::read_until_quiet(int quiet_ms, int limit_ms)
{
    const auto end = Clock::now() + std::chrono::milliseconds(limit_ms);
    Bytes bytes;
    for (;;) {
        const int left = ms_left(end);
        if (left <= 0) {
            break;
        }
        const int c = read_byte(std::min(quiet_ms, left));
        if (c < 0) {
            break;
        }
        bytes.push_back(static_cast<uint8_t>(c));
    }
    return bytes;
}

void PartnerLine::discard_input()
{
    buffer_pos_ = buffer_len_ = 0;
    while (read_byte(0) >= 0) {
        buffer_pos_ = buffer_len_;
    }
}

}  // namespace qopartner
