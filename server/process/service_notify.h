// SPDX-License-Identifier: MIT
// Readiness, stopping, a failed start and the watchdog, told to the
// service manager (systemd's Type=notify) through the datagram socket
// named in $NOTIFY_SOCKET, as sd_notify(3) describes. Without that
// variable nothing is sent. The few lines of the protocol are written here
// rather than linked from libsystemd, so that the 32-bit and cross-built
// servers behave alike without the library of their architecture.
#pragma once

namespace qo3964 {

// Sends one state text such as "READY=1"; false when there is no service
// manager to tell or the message could not be sent.
bool notify_service(const char* state);

// READY=1, once start-up is done.
void notify_ready();
// Before a stop: when start-up never got to READY=1, the reason (STATUS=)
// and the system's error number (ERRNO=, when `error` is not 0), so that
// the manager shows why the start failed.
void notify_start_failed(const char* status, int error);

}  // namespace qo3964
