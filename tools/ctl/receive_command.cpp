// SPDX-License-Identifier: MIT
// receive: waits with qo3964m_receive_wait for one telegram, a number of
// them, or every telegram until a stop signal.
#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>

#include "commands.h"
#include "ctl_report.h"
#include "deadline_timer.h"
#include "hex_telegram.h"
#include "qo3964_client.h"
#include "server_handle.h"

using namespace qo3964;

namespace qoctl {

namespace {

// One wait of the library at the most: the time limit and a stop signal
// are looked at after it (a signal also ends it at once).
constexpr int32_t WAIT_SLICE_MS = 500;
constexpr int32_t MS_PER_SECOND = 1000;

volatile std::sig_atomic_t stop_signal = 0;

extern "C" void on_stop_signal(int)
{
    stop_signal = 1;
}

void catch_stop_signals()
{
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: the library's wait ends as soon as the signal comes.
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void print_telegram(const uint8_t* data, int32_t length)
{
    std::printf("received %d byte%s: ", length, length == 1 ? "" : "s");
    put_hex(stdout, data, length);
    std::putchar('\n');
}

// Results after which waiting cannot go on: the server has gone, or the
// block holds more than any telegram.
bool ends_waiting(int32_t result)
{
    return result == QO3964_ERR_SHUTDOWN || result == QO3964_ERR_TOO_SMALL || result == QO3964_ERR_BAD_HANDLE ||
           result == QO3964_ERR_NOT_ATTACHED;
}

// The time limit as it was given: "10 s", or "250 ms" with --wait.
const char* time_limit_text(const CtlOptions& options, int32_t timeout_ms)
{
    static char text[32];
    if (options.wait_ms != NOT_GIVEN) {
        std::snprintf(text, sizeof text, "%d ms", timeout_ms);
    } else {
        std::snprintf(text, sizeof text, "%d s", timeout_ms / MS_PER_SECOND);
    }
    return text;
}

struct Tally {
    int32_t telegrams = 0;  // good ones and receive errors
    int32_t errors = 0;
};

}  // namespace

int run_receive(const CtlOptions& options)
{
    // 0: no number to reach, follow until stopped.
    const int32_t wanted = options.count != NOT_GIVEN ? options.count : (options.follow ? 0 : 1);
    const int32_t timeout_ms = options.wait_ms != NOT_GIVEN
                                   ? options.wait_ms
                                   : timeout_or(options, options.follow ? 0 : RECEIVE_TIMEOUT_S) * MS_PER_SECOND;

    // Caught from before the attach on, so that whoever sees the tool
    // attached can stop it.
    catch_stop_signals();
    ServerHandle server(options);
    if (server.open() != 0) {
        return EXIT_FAILED;
    }
    DeadlineTimer limit{};
    if (timeout_ms > 0) {
        timer_start(&limit, timeout_ms);
    }
    std::array<uint8_t, TELEGRAM_MAX> buffer{};
    Tally tally;
    for (;;) {
        const int32_t slice = timeout_ms > 0 ? std::min(timer_read(&limit), WAIT_SLICE_MS) : WAIT_SLICE_MS;
        const int32_t result = qo3964m_receive_wait(server.handle(), buffer.data(), TELEGRAM_MAX, slice);
        if (ends_waiting(result)) {
            complain("receive: %d %s", result, qo3964_errortext_en(result));
            return EXIT_FAILED;
        }
        // A telegram that has been taken is always shown, signal or not.
        if (result > 0) {
            print_telegram(buffer.data(), result);
            ++tally.telegrams;
        } else if (result < 0) {
            print_result("receive error", result, options.language);
            ++tally.telegrams;
            ++tally.errors;
        }
        if (wanted > 0 && tally.telegrams >= wanted) {
            break;
        }
        if (stop_signal != 0) {
            if (options.follow) {
                break;
            }
            complain("receive: interrupted");
            return EXIT_FAILED;
        }
        if (timeout_ms > 0 && timer_read(&limit) == 0) {
            if (options.follow && wanted == 0) {
                break;
            }
            if (wanted == 1) {
                complain("receive: no telegram within %s", time_limit_text(options, timeout_ms));
            } else {
                complain("receive: %d of %d telegrams within %s", tally.telegrams, wanted,
                         time_limit_text(options, timeout_ms));
            }
            return EXIT_FAILED;
        }
    }
    // Following ends well however many errors it showed; a wait for a
    // number of telegrams succeeds only when all of them were good.
    return options.follow || tally.errors == 0 ? EXIT_DONE : EXIT_FAILED;
}

}  // namespace qoctl
