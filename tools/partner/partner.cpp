// SPDX-License-Identifier: MIT
#include "partner.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

#include "block_decoder.h"
#include "block_encoder.h"
#include "hex_text.h"

namespace qopartner {

namespace {

// Thrown inside the loop to leave it from any depth of an exchange.
struct StopRequested {};
struct LineLost {};

// Longest wait for room to write: a pty whose slave nobody reads fills up.
constexpr int WRITE_LIMIT_MS = 2000;

// A line that chatters for long is logged by its first bytes only.
constexpr size_t STRAY_SHOWN = 64;

int ms_until(std::chrono::steady_clock::time_point when)
{
    const auto left = when - std::chrono::steady_clock::now();
    if (left <= left.zero()) {
        return 0;
    }
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

// A telegram in the log: its hex, or "-" for the empty one, so that every
// log line keeps the same number of fields.
std::string telegram_text(const Bytes& telegram)
{
    return telegram.empty() ? "-" : to_hex(telegram);
}

std::string attempt_text(const char* word, int attempts)
{
    return std::string(word) + "=" + std::to_string(attempts);
}

}  // namespace

Partner::Partner(PartnerLine line, PartnerSettings settings)
    : line_(std::move(line)), settings_(std::move(settings)), faults_(settings_.seed)
{
    wake_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake_fd_ < 0) {
        throw std::system_error(errno, std::generic_category(), "cannot create an event descriptor");
    }
    faults_.on_change([this] { wake(); });
}

Partner::~Partner()
{
    stop();
    faults_.on_change(nullptr);
    ::close(wake_fd_);
}

void Partner::set_settings(const PartnerSettings& settings)
{
    settings_ = settings;
    faults_.reseed(settings_.seed);
}

void Partner::start()
{
    if (thread_.joinable() || running_) {
        return;
    }
    stop_requested_ = false;
    drain_wake();
    running_ = true;
    thread_ = std::thread([this] { run(); });
}

void Partner::stop()
{
    request_stop();
    if (thread_.joinable()) {
        thread_.join();
    }
    // A loop running in run() on another thread ends its sends itself.
    if (!running_) {
        fail_unfinished(SendOutcome::stopped);
    }
}

void Partner::run()
{
    running_ = true;
    try {
        loop();
    } catch (const StopRequested&) {
    } catch (const LineLost&) {
        line_lost_ = true;
        log_.line("LINE", "lost");
    }
    fail_unfinished(line_lost_ ? SendOutcome::line_failure : SendOutcome::stopped);
    running_ = false;
}

void Partner::request_stop()
{
    stop_requested_ = true;
    wake();
}

std::future<SendReport> Partner::send(Bytes telegram)
{
    PendingSend pending;
    pending.data = std::move(telegram);
    pending.promise.emplace();
    std::future<SendReport> report = pending.promise->get_future();
    {
        std::lock_guard lock(send_mutex_);
        send_queue_.push_back(std::move(pending));
    }
    wake();
    return report;
}

std::optional<SendReport> Partner::send_and_wait(Bytes telegram, std::chrono::milliseconds timeout)
{
    std::future<SendReport> report = send(std::move(telegram));
    if (report.wait_for(timeout) != std::future_status::ready) {
        return std::nullopt;
    }
    return report.get();
}

std::optional<Bytes> Partner::wait_received(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(received_mutex_);
    if (!received_ready_.wait_for(lock, timeout, [this] { return !received_.empty(); })) {
        return std::nullopt;
    }
    Bytes telegram = std::move(received_.front());
    received_.pop_front();
    return telegram;
}

PartnerStats Partner::stats() const
{
    std::lock_guard lock(stats_mutex_);
    return stats_;
}

// Idle: wait for the other side's STX, start the next own send when the
// line is silent, or inject a stray byte after a quiet spell.
void Partner::loop()
{
    last_activity_ = Clock::now();
    const int stray_quiet_ms = settings_.effective_stray_quiet_ms();
    for (;;) {
        check_stop();
        take_next_send();
        int wait_ms = -1;
        if (current_) {
            wait_ms = ms_until(current_->due);
        } else if (faults_.possible(Fault::stray_byte)) {
            wait_ms = ms_until(last_activity_ + std::chrono::milliseconds(stray_quiet_ms));
        }
        const int c = line_.read_byte(wait_ms, wake_fd_);
        if (c == LINE_WOKEN) {
            drain_wake();
            continue;
        }
        if (c == LINE_CLOSED) {
            throw LineLost{};
        }
        if (c >= 0) {
            on_idle_byte(static_cast<uint8_t>(c));
            last_activity_ = Clock::now();
            // A repetition waits for a quiet line, so that late answers
            // of the other side are not taken for answers to it.
            if (current_ && current_->attempts > 0) {
                current_->due = std::max(current_->due,
                                         last_activity_ + std::chrono::milliseconds(settings_.effective_retry_delay_ms()));
            }
            continue;
        }
        // The line is silent.
        if (current_) {
            if (Clock::now() >= current_->due) {
                attempt_send();
                last_activity_ = Clock::now();
            }
        } else if (faults_.possible(Fault::stray_byte) &&
                   Clock::now() >= last_activity_ + std::chrono::milliseconds(stray_quiet_ms)) {
            if (inject(Fault::stray_byte)) {
                write_control(settings_.stray_byte);
            }
            last_activity_ = Clock::now();
        }
    }
}

void Partner::take_next_send()
{
    if (current_) {
        return;
    }
    std::lock_guard lock(send_mutex_);
    if (send_queue_.empty()) {
        return;
    }
    current_ = std::move(send_queue_.front());
    send_queue_.pop_front();
    current_->due = Clock::now();
}

void Partner::on_idle_byte(uint8_t byte)
{
    if (byte == STX) {
        answer_connection_request(true);
    } else {
        reject_stray(byte);
    }
}

// The other side's STX, read while idle.
void Partner::answer_connection_request(bool conflict_allowed)
{
    if (conflict_allowed && inject(Fault::conflict)) {
        count(&PartnerStats::conflicts);
        if (!current_) {
            // Assigned, not emplaced: clang does not see the default
            // constructor of a nested struct with member initialisers there.
            current_ = PendingSend{};
            current_->data = settings_.conflict_telegram;
        }
        write_control(STX);
        attempt_send(true);
        return;
    }
    if (inject(Fault::silent_to_stx)) {
        return;
    }
    if (inject(Fault::nak_to_stx)) {
        count(&PartnerStats::rejected);
        write_control(NAK);
        return;
    }
    write_control(DLE);
    receive_telegram();
}

// After the DLE answer to STX: collect the block with zvz per character,
// then acknowledge with DLE or refuse with NAK.
void Partner::receive_telegram()
{
    BlockDecoder decoder(settings_.bcc, settings_.max_length);
    for (;;) {
        const int c = read_within(settings_.zvz_ms);
        if (c == LINE_TIMEOUT) {
            count(&PartnerStats::rejected);
            log_.line("RX-NAK", "zvz " + telegram_text(decoder.data()));
            write_control(NAK);
            return;
        }
        if (decoder.take(static_cast<uint8_t>(c))) {
            break;
        }
    }
    const Bytes& telegram = decoder.data();
    if (decoder.verdict() != BlockVerdict::good) {
        count(&PartnerStats::rejected);
        log_.line("RX-NAK", std::string(verdict_name(decoder.verdict())) + " " + telegram_text(telegram));
        write_control(NAK);
        return;
    }
    // A telegram left unacknowledged is not delivered: the other side
    // repeats it, and the repetition is the one that counts.
    if (inject(Fault::silent_to_end)) {
        return;
    }
    if (inject(Fault::nak_to_end)) {
        count(&PartnerStats::rejected);
        write_control(NAK);
        return;
    }
    count(&PartnerStats::received);
    log_.line("RX", telegram_text(telegram));
    // Handed over before the DLE goes out: whoever sees the DLE on the line
    // can rely on the telegram being there.
    deliver(telegram);
    if (settings_.echo) {
        PendingSend echo;
        echo.data = telegram;
        std::lock_guard lock(send_mutex_);
        send_queue_.push_back(std::move(echo));
    }
    write_control(DLE);
}

// Anything but STX while idle: wait until the line has been quiet for zvz,
// then NAK. A NAK itself is not answered: two sides that answer every NAK
// with a NAK would keep the line busy for ever.
void Partner::reject_stray(uint8_t first)
{
    Bytes shown{first};  // the first bytes, for the log
    uint64_t total = 1;
    if (first != NAK) {
        for (;;) {
            const int c = read_within(settings_.zvz_ms);
            if (c == LINE_TIMEOUT) {
                break;
            }
            ++total;
            if (shown.size() < STRAY_SHOWN) {
                shown.push_back(static_cast<uint8_t>(c));
            }
        }
    }
    count(&PartnerStats::stray, total);
    log_.line("STRAY", to_hex(shown) + (total > shown.size() ? " ..." : ""));
    if (first != NAK) {
        write_control(NAK);
    }
}

// One attempt of the current send: STX (unless the conflict fault has just
// written it), wait for DLE, the block, wait for DLE.
void Partner::attempt_send(bool stx_written)
{
    PendingSend& pending = *current_;
    ++pending.attempts;
    count(&PartnerStats::attempts);
    if (!stx_written) {
        write_control(STX);
    }
    const auto connect_end = Clock::now() + std::chrono::milliseconds(settings_.qvz_ms);
    for (;;) {
        const int c = read_within(ms_until(connect_end));
        if (c == DLE) {
            break;
        }
        if (c == STX) {
            // Both sides sent STX at once.
            count(&PartnerStats::conflicts);
            if (settings_.priority == Priority::high) {
                log_.line("CONFLICT", "keep");
                continue;
            }
            log_.line("CONFLICT", "yield");
            --pending.attempts;  // giving way is not a failed attempt
            answer_connection_request(false);
            current_->due = Clock::now();
            return;
        }
        if (c == NAK) {
            count(&PartnerStats::refused);
        }
        attempt_failed(SendOutcome::no_connection);
        return;
    }

    Bytes block = encode_block(pending.data, settings_.bcc);
    if (settings_.bcc && inject(Fault::corrupt_bcc)) {
        block.back() ^= 0xFF;
    }
    count(&PartnerStats::sent);
    bool written = false;
    if (inject(Fault::pause)) {
        written = write_all(Bytes(block.begin(), block.begin() + 1));
        pause_for(settings_.effective_pause_ms());
        written = written && write_all(Bytes(block.begin() + 1, block.end()));
    } else {
        written = write_all(block);
    }
    if (!written) {
        attempt_failed(SendOutcome::line_failure);
        return;
    }

    const int c = read_within(settings_.qvz_ms);
    if (c == DLE) {
        finish_send(SendOutcome::acknowledged);
    } else if (c == NAK) {
        count(&PartnerStats::refused);
        attempt_failed(SendOutcome::refused);
    } else if (c == STX) {
        // The other side gave up on this block and wants to send: answer
        // its request rather than a NAK.
        attempt_failed(SendOutcome::no_acknowledgement, false);
        answer_connection_request(false);
    } else {
        attempt_failed(SendOutcome::no_acknowledgement);
    }
}

void Partner::attempt_failed(SendOutcome outcome, bool nak_on_giving_up)
{
    PendingSend& pending = *current_;
    log_.line("TX-FAIL", std::string(outcome_name(outcome)) + " " + attempt_text("attempt", pending.attempts));
    if (pending.attempts < settings_.send_attempts) {
        pending.due = Clock::now() + std::chrono::milliseconds(settings_.effective_retry_delay_ms());
        return;
    }
    if (nak_on_giving_up) {
        write_control(NAK);  // as the procedure ends a send it gives up
    }
    finish_send(outcome);
}

void Partner::finish_send(SendOutcome outcome)
{
    PendingSend pending = std::move(*current_);
    current_.reset();
    count(outcome == SendOutcome::acknowledged ? &PartnerStats::acknowledged : &PartnerStats::failed);
    log_.line("TX", telegram_text(pending.data) + " " + std::string(outcome_name(outcome)) + " " +
                        attempt_text("attempts", pending.attempts));
    if (pending.promise) {
        pending.promise->set_value(SendReport{outcome, pending.attempts});
    }
}

void Partner::fail_unfinished(SendOutcome outcome)
{
    if (current_) {
        finish_send(outcome);
    }
    std::deque<PendingSend> left;
    {
        std::lock_guard lock(send_mutex_);
        left.swap(send_queue_);
    }
    for (PendingSend& pending : left) {
        if (pending.promise) {
            pending.promise->set_value(SendReport{outcome, 0});
        }
    }
}

void Partner::deliver(const Bytes& telegram)
{
    if (handler_) {
        handler_(telegram);
        return;
    }
    {
        std::lock_guard lock(received_mutex_);
        received_.push_back(telegram);
    }
    received_ready_.notify_all();
}

int Partner::read_within(int timeout_ms)
{
    const auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        check_stop();
        const int c = line_.read_byte(ms_until(end), wake_fd_);
        if (c == LINE_WOKEN) {
            drain_wake();  // a send was queued, or a stop requested
            continue;
        }
        if (c == LINE_CLOSED) {
            throw LineLost{};
        }
        return c;
    }
}

void Partner::pause_for(int ms)
{
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        check_stop();
        const int left = ms_until(end);
        if (left <= 0) {
            return;
        }
        pollfd watch{wake_fd_, POLLIN, 0};
        if (poll(&watch, 1, left) > 0) {
            drain_wake();
        }
    }
}

void Partner::check_stop() const
{
    if (stop_requested_) {
        throw StopRequested{};
    }
}

void Partner::write_control(uint8_t byte)
{
    write_all(Bytes{byte});
}

// A telegram on an emulated slow line takes seconds: a stop request is
// heard meanwhile, a queued send only wakes the loop.
bool Partner::write_all(const Bytes& bytes)
{
    size_t done = 0;
    for (;;) {
        const int result = line_.write_from(bytes, done, WRITE_LIMIT_MS, wake_fd_);
        if (result != LINE_WOKEN) {
            return result == LINE_WRITTEN;
        }
        drain_wake();
        check_stop();
    }
}

void Partner::wake()
{
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(wake_fd_, &one, sizeof one);
}

void Partner::drain_wake()
{
    uint64_t value = 0;
    [[maybe_unused]] const ssize_t ignored = ::read(wake_fd_, &value, sizeof value);
}

bool Partner::inject(Fault fault)
{
    if (!faults_.fires(fault)) {
        return false;
    }
    {
        std::lock_guard lock(stats_mutex_);
        ++stats_.faults[static_cast<size_t>(fault)];
    }
    log_.line("FAULT", fault_name(fault));
    return true;
}

void Partner::count(uint64_t PartnerStats::*field, uint64_t amount)
{
    std::lock_guard lock(stats_mutex_);
    stats_.*field += amount;
}

}  // namespace qopartner
