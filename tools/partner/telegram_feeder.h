// SPDX-License-Identifier: MIT
// Feeds the program's telegrams to the partner one after the other: those
// of the command line and file (repeated, with an interval), then those of
// standard input as they come. Waits for each outcome before the next.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "line_bytes.h"
#include "partner.h"

namespace qopartner {

class TelegramFeeder {
public:
    TelegramFeeder(Partner& partner, std::vector<Bytes> telegrams, int repeat, int interval_ms, bool from_stdin);
    ~TelegramFeeder();
    TelegramFeeder(const TelegramFeeder&) = delete;
    TelegramFeeder& operator=(const TelegramFeeder&) = delete;

    void start();
    void stop();  // returns within about 100 ms
    bool done() const { return done_; }
    bool any_failed() const { return failed_; }

private:
    void run();
    bool send_one(const Bytes& telegram);
    bool wait_interval();
    void feed_stdin();
    bool feed_line(const std::string& line);

    Partner& partner_;
    std::vector<Bytes> telegrams_;
    int repeat_;
    int interval_ms_;
    bool from_stdin_;

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable stopped_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    std::atomic<bool> failed_{false};
};

}  // namespace qopartner
