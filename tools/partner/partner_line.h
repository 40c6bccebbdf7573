// SPDX-License-Identifier: MIT
// The partner's end of the serial line: either a pseudo-terminal pair that
// it creates itself (the server opens the slave) or a real device set to a
// raw 8-bit mode. Reads and writes wait with bounds; they can also be cut
// short by a second descriptor (the partner's wake-up event). On a
// pseudo-terminal the line can take a real line's time (emulate_speed).
#pragma once

#include <chrono>
#include <string>
#include <termios.h>

#include "line_bytes.h"
#include "wire_timing.h"

namespace qopartner {

// Results of `read_byte` besides a byte 0..255.
inline constexpr int LINE_TIMEOUT = -1;  // nothing within the limit
inline constexpr int LINE_WOKEN = -2;    // the wake descriptor became readable
inline constexpr int LINE_CLOSED = -3;   // the device failed or hung up
// Result of `write_from` when every byte went out.
inline constexpr int LINE_WRITTEN = 1;

class PartnerLine {
public:
    // Creates a pseudo-terminal pair in raw mode with a non-blocking master.
    // The slave stays open here too, so the master never sees a hang-up
    // while the server is not (yet) attached. Throws std::system_error.
    static PartnerLine open_pty();
    // Opens a serial device (e.g. one end of a null-modem cable) and sets
    // it raw: 8 data bits, 1 stop bit, the given speed (1200 ... 115200)
    // and parity 'E', 'O' or 'N'. Throws std::system_error or
    // std::invalid_argument. The device's mode is restored at close.
    static PartnerLine open_device(const std::string& path, int baud, char parity);

    PartnerLine(PartnerLine&& other) noexcept;
    PartnerLine& operator=(PartnerLine&& other) noexcept;
    PartnerLine(const PartnerLine&) = delete;
    PartnerLine& operator=(const PartnerLine&) = delete;
    ~PartnerLine();

    // The path the server is to open: the pty slave, or the device.
    const std::string& path() const { return path_; }
    bool is_pty() const { return slave_fd_ >= 0; }
    int fd() const { return fd_; }

    // From now on the line takes the time a real line at `baud` with
    // `parity` takes (see wire_timing.h): own bytes go out one character
    // time apart, the other side's are read once they have come across.
    // For a pseudo-terminal; a device has its own speed.
    void emulate_speed(int baud, char parity) { wire_ = WireTiming(character_time(baud, parity)); }

    // One byte, or LINE_TIMEOUT after `timeout_ms` (0: only what is there
    // already; negative: no limit), or LINE_WOKEN when `wake_fd` (if not
    // -1) is readable, or LINE_CLOSED.
    int read_byte(int timeout_ms, int wake_fd = -1);
    // Writes all bytes, waiting at most `timeout_ms` for room; false when
    // they did not all go out. With an emulated speed the bound applies
    // to each wait for room, not to the line's own time.
    bool write(const Bytes& bytes, int timeout_ms = 2000);
    // As write, from bytes[done] on, counting in `done` what went out; the
    // result is LINE_WRITTEN, LINE_TIMEOUT (no room in time), LINE_CLOSED,
    // or LINE_WOKEN when `wake_fd` became readable meanwhile (call again
    // to go on).
    int write_from(const Bytes& bytes, size_t& done, int timeout_ms, int wake_fd = -1);

    // Waits until what was written has left: on a pty until the server has
    // read it (closing the master hangs the slave up and drops unread
    // bytes), on a device until it has been transmitted. False when
    // `timeout_ms` passed first.
    bool wait_drained(int timeout_ms);

    // Scripted use (tests, tools): exact bytes with bounds.
    // Up to `count` bytes, waiting at most `timeout_ms` in all.
    Bytes read_bytes(size_t count, int timeout_ms);
    // Whatever arrives until the line has been quiet for `quiet_ms`, or
    // `limit_ms` passed in all.
    Bytes read_until_quiet(int quiet_ms, int limit_ms);
    // Drops what has been received and not read yet.
    void discard_input();

private:
    PartnerLine() = default;
    void close_all();
    // Waits for room to write until `end`: ROOM_MAYBE (look again),
    // LINE_TIMEOUT or LINE_WOKEN.
    int wait_for_room(std::chrono::steady_clock::time_point end, int wake_fd);
    static constexpr int ROOM_MAYBE = 0;
    int write_at_once(const Bytes& bytes, size_t& done, int timeout_ms, int wake_fd);
    int write_paced(const Bytes& bytes, size_t& done, int timeout_ms, int wake_fd);

    int fd_ = -1;
    int slave_fd_ = -1;
    bool restore_mode_ = false;
    termios saved_mode_{};
    std::string path_;
    // Bytes read from the device but not handed out yet.
    uint8_t buffer_[512] = {};
    size_t buffer_pos_ = 0;
    size_t buffer_len_ = 0;
    // When the buffered bytes were read (with an emulated speed).
    std::chrono::steady_clock::time_point buffer_arrival_{};
    WireTiming wire_;
};

}  // namespace qopartner
