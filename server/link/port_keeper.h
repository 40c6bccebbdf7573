// SPDX-License-Identifier: MIT
// Keeps the serial port open: when it goes away (EIO, a hang-up, an
// adapter pulled), the port is closed, the console and the runtime log say
// so, and the same path is opened again with the same line settings every
// few seconds until it is back. Meanwhile the server goes on serving its
// segment; only the line is down.
#pragma once

#include <cstdint>

#include "deadline_timer.h"

namespace qo3964 {

inline constexpr int32_t PORT_RETRY_MS = 2000;  // between two attempts to reopen

struct Link;

struct PortKeeper {
    char path[512];
    int32_t baud;
    char parity;
    char flow;
    int32_t down;  // 1 while the port is closed after a loss
    DeadlineTimer retry_timer;
    int64_t down_since_ticks;
};

// Remembers what link_open opened, for reopening it.
void port_remember(Link& link, const char* path, int32_t baud, char parity, char flow);
// The line was lost: closes the port and says so.
void port_lost(Link& link);
// While the port is down: an attempt to reopen it when one is due. True
// when the port is open again.
bool port_retry(Link& link);
// Milliseconds until the next attempt to reopen the port.
int32_t port_retry_due(Link& link);
// True while the port is down.
bool link_line_down(const Link& link);

}  // namespace qo3964
