// SPDX-License-Identifier: MIT
// receive: polls qo3964m_receive for one telegram, a number of them, or
// every telegram until a stop signal.
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

// The server hands over one telegram per pass, about 25 passes a second;
// polling at the library's own pace keeps up with it.
constexpr int32_t POLL_PAUSE_MS = 20;
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
    // No SA_RESTART: the poll's pause ends as soon as the signal comes.
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

// Results after which polling cannot go on: the server has gone, or the
// block holds more than any telegram.
bool ends_polling(int32_t result)
{
    return result == QO3964_ERR_SHUTDOWN || result == QO3964_ERR_TOO_SMALL || result == QO3964_ERR_BAD_HANDLE ||
           result == QO3964_ERR_NOT_ATTACHED;
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
    const int32_t timeout_s = timeout_or(options, options.follow ? 0 : RECEIVE_TIMEOUT_S);

    // Caught from before the attach on, so that whoever sees the tool
    // attached can stop it.
    catch_stop_signals();
    ServerHandle server(options);
    if (server.open() != 0) {
        return EXIT_FAILED;
    }
    DeadlineTimer limit{};
    if (timeout_s > 0) {
        timer_start(&limit, timeout_s * MS_PER_SECOND);
    }
    std::array<uint8_t, TELEGRAM_MAX> buffer{};
    Tally tally;
    for (;;) {
        const int32_t result = qo3964m_receive(server.handle(), buffer.data(), TELEGRAM_MAX);
        if (ends_polling(result)) {
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
        if (timeout_s > 0 && timer_read(&limit) == 0) {
            if (options.follow && wanted == 0) {
                break;
            }
            if (wanted == 1) {
                complain("receive: no telegram within %d s", timeout_s);
            } else {
                complain("receive: %d of %d telegrams within %d s", tally.telegrams, wanted, timeout_s);
            }
            return EXIT_FAILED;
        }
        if (result == 0) {
            sleep_ms(POLL_PAUSE_MS);
        }
    }
    // Following ends well however many errors it showed; a wait for a
    // number of telegrams succeeds only when all of them were good.
    return options.follow || tally.errors == 0 ? EXIT_DONE : EXIT_FAILED;
}

}  // namespace qoctl
