// SPDX-License-Identifier: MIT
#include "port_keeper.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "console_output.h"
#include "link.h"
#include "link_events.h"

namespace qo3964 {

namespace {

constexpr char PROGRESS[] = "\n++++++ qo3964_server";

// The console's line for a change of the port. Under the journal the
// runtime log's line says it, with its priority: each event one entry.
void tell_console(const char* format, ...) __attribute__((format(printf, 1, 2)));
void tell_console(const char* format, ...)
{
    if (console_is_journal(CONSOLE_OUT)) {
        return;
    }
    char text[700];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    console_write(CONSOLE_OUT, text, static_cast<size_t>(std::min(length, static_cast<int>(sizeof text) - 1)));
}

int64_t seconds_down(const PortKeeper& port_keeper)
{
    // Unsigned, so that a roll-over of the tick counter gives the right difference.
    const int64_t ticks = static_cast<uint32_t>(tick_source()) - static_cast<uint32_t>(port_keeper.down_since_ticks);
    return ticks * ms_per_tick() / 1000;
}

}  // namespace

void port_remember(Link& link, const char* path, int32_t baud, char parity, char flow)
{
    PortKeeper& port_keeper = link.port;
    std::snprintf(port_keeper.path, sizeof port_keeper.path, "%s", path);
    port_keeper.baud = baud;
    port_keeper.parity = parity;
    port_keeper.flow = flow;
    port_keeper.down = 0;
}

void port_lost(Link& link)
{
    PortKeeper& port_keeper = link.port;
    serial_close(link.line);
    port_keeper.down = 1;
    port_keeper.down_since_ticks = tick_source();
    timer_start(&port_keeper.retry_timer, PORT_RETRY_MS);
    tell_console("%s: lost port %s, closed it; trying to reopen it every %d s\n", PROGRESS, port_keeper.path,
                 PORT_RETRY_MS / 1000);
    log_port_lost(port_keeper.path, PORT_RETRY_MS / 1000);
}

bool port_retry(Link& link)
{
    PortKeeper& port_keeper = link.port;
    if (timer_read(&port_keeper.retry_timer) > 0) {
        return false;
    }
    timer_start(&port_keeper.retry_timer, PORT_RETRY_MS);
    if (serial_reopen(link.line, port_keeper.path, port_keeper.baud, port_keeper.parity, port_keeper.flow) != 0) {
        if (link.line.path_refusal[0] != '\0') {
            log_port_refused(link.line.path_refusal);
        }
        return false;
    }
    port_keeper.down = 0;
    tell_console("%s: port %s reopened, the line is up again\n", PROGRESS, port_keeper.path);
    log_port_reopened(port_keeper.path, seconds_down(port_keeper));
    return true;
}

int32_t port_retry_due(Link& link)
{
    return timer_read(&link.port.retry_timer);
}

bool link_line_down(const Link& link)
{
    return link.port.down != 0;
}

}  // namespace qo3964
