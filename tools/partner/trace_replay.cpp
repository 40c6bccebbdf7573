// SPDX-License-Identifier: MIT
#include "trace_replay.h"

#include <algorithm>
#include <chrono>
#include <termios.h>
#include <thread>

#include "hex_text.h"

namespace qopartner {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int SLICE_MS = 50;  // a stop is noticed within this

std::string shown(const Bytes& bytes)
{
    return bytes.empty() ? "-" : to_hex(bytes);
}

std::string where(const TraceLine& line)
{
    return "line " + std::to_string(line.number);
}

}  // namespace

TraceReplay::TraceReplay(PartnerLine& line, std::vector<TraceLine> lines, ReplaySettings settings, TrafficLog& log)
    : line_(line), lines_(std::move(lines)), settings_(settings), log_(log)
{
}

bool TraceReplay::wait_for_server(const std::atomic<bool>& stop)
{
    // The slave's mode, which a pty's master reads too: the server sets
    // parity marking; the partner's own raw mode has none.
    termios mode{};
    while (line_.is_pty() && !stop && (tcgetattr(line_.fd(), &mode) != 0 || (mode.c_iflag & PARMRK) == 0)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(SLICE_MS));
    }
    const auto due = Clock::now() + std::chrono::milliseconds(settings_.after_ms);
    while (Clock::now() < due && !stop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(SLICE_MS));
    }
    if (!stop) {
        log_.line("REPLAY-START", std::to_string(lines_.size()) + " lines");
    }
    return !stop;
}

ReplayResult TraceReplay::run(const std::atomic<bool>& stop)
{
    if (!wait_for_server(stop)) {
        result_.stopped = true;
        return result_;
    }
    for (size_t i = 0; i < lines_.size() && !stop && !result_.line_lost; ++i) {
        const TraceLine& line = lines_[i];
        if (line.from_server) {
            play_server_line(line, stop);
            continue;
        }
        const int64_t pause = i == 0 ? 0 : std::clamp<int64_t>(line.time_ms - lines_[i - 1].time_ms, 0,
                                                               settings_.pause_max_ms);
        play_partner_line(line, pause, stop);
    }
    result_.stopped = stop;
    return result_;
}

// Waits for as many bytes as the server wrote then, and compares.
void TraceReplay::play_server_line(const TraceLine& line, const std::atomic<bool>& stop)
{
    const auto end = Clock::now() + std::chrono::milliseconds(settings_.wait_ms);
    Bytes got;
    while (got.size() < line.bytes.size() && Clock::now() < end && !stop) {
        const int c = line_.read_byte(SLICE_MS);
        if (c == LINE_CLOSED) {
            result_.line_lost = true;
            log_.line("REPLAY-LOST", where(line));
            return;
        }
        if (c >= 0) {
            got.push_back(static_cast<uint8_t>(c));
        }
    }
    if (got == line.bytes) {
        ++result_.matched;
        log_.line("REPLAY-OUT", where(line) + " " + shown(got));
    } else if (got.size() < line.bytes.size()) {
        ++result_.missing;
        log_.line("REPLAY-MISSING", where(line) + " expected " + shown(line.bytes) + " got " + shown(got));
    } else {
        ++result_.differed;
        log_.line("REPLAY-DIFFERS", where(line) + " expected " + shown(line.bytes) + " got " + shown(got));
    }
}

// Keeps the pause the trace shows before the line, then writes it.
void TraceReplay::play_partner_line(const TraceLine& line, int64_t pause_ms, const std::atomic<bool>& stop)
{
    if (!line.line_error.empty()) {
        ++result_.skipped;
        log_.line("REPLAY-SKIP", where(line) + " " + line.line_error + " (the line cannot carry it)");
        return;
    }
    const auto due = Clock::now() + std::chrono::milliseconds(pause_ms);
    while (Clock::now() < due && !stop) {
        std::this_thread::sleep_for(std::min<Clock::duration>(due - Clock::now(), std::chrono::milliseconds(SLICE_MS)));
    }
    if (stop) {
        return;
    }
    if (!line_.write(line.bytes)) {
        result_.line_lost = true;
        log_.line("REPLAY-LOST", where(line));
        return;
    }
    ++result_.written;
    log_.line("REPLAY-IN", where(line) + " " + shown(line.bytes));
}

}  // namespace qopartner
