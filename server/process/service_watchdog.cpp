// SPDX-License-Identifier: MIT
#include "service_watchdog.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "deadline_timer.h"
#include "runtime_log.h"
#include "service_notify.h"

namespace qo3964 {

namespace {

struct Watchdog {
    bool on = false;
    int32_t period_ms = 0;  // between two pings
    DeadlineTimer next{};
};

Watchdog watchdog;

// $WATCHDOG_USEC in ms, when the manager watches this process; 0 otherwise.
int64_t interval_ms()
{
    const char* usec = std::getenv("WATCHDOG_USEC");
    const char* pid = std::getenv("WATCHDOG_PID");
    if (usec == nullptr || (pid != nullptr && std::atol(pid) != static_cast<long>(getpid()))) {
        return 0;
    }
    return std::atoll(usec) / 1000;
}

}  // namespace

void watchdog_start(int32_t longest_gap_ms)
{
    int64_t interval = interval_ms();
    if (interval <= 0) {
        return;
    }
    const int64_t needed = 2 * static_cast<int64_t>(longest_gap_ms);
    if (interval < needed) {
        char request[64];
        std::snprintf(request, sizeof request, "WATCHDOG_USEC=%lld", static_cast<long long>(needed) * 1000);
        if (notify_service(request)) {
            log_event(LOG_PRI_NOTICE, "watchdog",
                      "watchdog interval %lld ms is shorter than two of the loop's longest gaps between pings; "
                      "asked for %lld ms",
                      static_cast<long long>(interval), static_cast<long long>(needed));
            interval = needed;
        }
    }
    watchdog.on = true;
    watchdog.period_ms = static_cast<int32_t>(std::clamp<int64_t>(interval / 3, 1, timer_max_ms()));
    timer_start(&watchdog.next, 0);
    watchdog_ping();
}

void watchdog_ping()
{
    if (!watchdog.on || timer_read(&watchdog.next) > 0) {
        return;
    }
    notify_service("WATCHDOG=1");
    timer_start(&watchdog.next, watchdog.period_ms);
}

int32_t watchdog_due_ms()
{
    return watchdog.on ? timer_read(&watchdog.next) : -1;
}

}  // namespace qo3964
