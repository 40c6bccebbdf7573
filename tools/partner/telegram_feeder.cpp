// SPDX-License-Identifier: MIT
#include "telegram_feeder.h"

#include <chrono>
#include <iostream>
#include <poll.h>
#include <string>
#include <unistd.h>

#include "partner_options.h"

namespace qopartner {

namespace {

constexpr auto POLL_SLICE = std::chrono::milliseconds(50);

}  // namespace

TelegramFeeder::TelegramFeeder(Partner& partner, std::vector<Bytes> telegrams, int repeat, int interval_ms,
                               bool from_stdin)
    : partner_(partner),
      telegrams_(std::move(telegrams)),
      repeat_(repeat),
      interval_ms_(interval_ms),
      from_stdin_(from_stdin)
{
}

TelegramFeeder::~TelegramFeeder()
{
    stop();
}

void TelegramFeeder::start()
{
    thread_ = std::thread([this] { run(); });
}

void TelegramFeeder::stop()
{
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    stopped_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void TelegramFeeder::run()
{
    bool going = true;
    for (int round = 0; going && !telegrams_.empty() && (repeat_ == 0 || round < repeat_); ++round) {
        for (const Bytes& telegram : telegrams_) {
            going = send_one(telegram) && wait_interval();
            if (!going) {
                break;
            }
        }
    }
    if (going && from_stdin_) {
        feed_stdin();
    }
    done_ = true;
}

bool TelegramFeeder::send_one(const Bytes& telegram)
{
    std::future<SendReport> report = partner_.send(telegram);
    while (report.wait_for(POLL_SLICE) != std::future_status::ready) {
        if (stop_) {
            return false;  // the partner's stop ends the send
        }
    }
    if (report.get().outcome != SendOutcome::acknowledged) {
        failed_ = true;
    }
    return !stop_;
}

bool TelegramFeeder::wait_interval()
{
    std::unique_lock lock(mutex_);
    return !stopped_.wait_for(lock, std::chrono::milliseconds(interval_ms_), [this] { return stop_.load(); });
}

// Reads standard input in slices, so that a stop is noticed while no line comes.
void TelegramFeeder::feed_stdin()
{
    std::string pending;
    char chunk[4096];
    while (!stop_) {
        pollfd watch{STDIN_FILENO, POLLIN, 0};
        if (poll(&watch, 1, static_cast<int>(POLL_SLICE.count())) <= 0) {
            continue;
        }
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0) {
            break;  // end of input
        }
        pending.append(chunk, static_cast<size_t>(n));
        size_t end = 0;
        while ((end = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!feed_line(line)) {
                return;
            }
        }
    }
    if (!stop_ && !pending.empty()) {
        feed_line(pending);
    }
}

bool TelegramFeeder::feed_line(const std::string& line)
{
    bool skip = false;
    const std::optional<Bytes> telegram = parse_telegram_line(line, skip);
    if (skip) {
        return true;
    }
    if (!telegram) {
        std::cerr << "qo3964_partner: bad hex telegram on standard input, skipped: '" << line << "'" << std::endl;
        return true;
    }
    return send_one(*telegram) && wait_interval();
}

}  // namespace qopartner
