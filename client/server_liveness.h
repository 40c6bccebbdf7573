// SPDX-License-Identifier: MIT
// Whether the server behind a handle is still there.
//
// A server that ends in order marks its segment first, and every call then
// reports -100. A server killed without that (SIGKILL, a crash, power cut
// of a container) leaves the marks at 0, and a call waiting for it would
// wait for ever. So the calls that wait, or that an application polls
// while it waits, also look at the segment itself, about once a second:
// marked for removal, or its creating process (the server) no longer
// alive, means the server is gone. A zombie is not alive, nor is a later
// process that got the server's ID: the segment holds the server's start
// time.
#pragma once

#include "client_connection.h"

namespace qo3964::client {

inline constexpr int64_t LIVENESS_PERIOD_MS = 1000;

// The server's shutdown mark in `job`, or the server already known to be
// gone: every call on the block then reports -100.
bool server_stopped(const ClientConnection& connection, const volatile JobBlock& job);

// True once the server is known to be gone (it stays so until the handle
// is opened again). Looks at most once per LIVENESS_PERIOD_MS.
bool server_gone(ClientConnection& connection);

}  // namespace qo3964::client
