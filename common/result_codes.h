// SPDX-License-Identifier: MIT
// Result codes shared by server, segment and client library. Negative
// values are errors; their texts are in the client library.
#pragma once

#include <cstdint>

namespace qo3964 {

enum ResultCode : int32_t {
    RC_SEND_IDLE = 4,        // no send outstanding
    RC_SEND_DONE = 2,        // send acknowledged by the partner
    RC_OK = 1,               // server status of a good send or reception; send handed over
    RC_IN_WORK = 0,          // send under way, or nothing received

    RC_TOO_LONG = -11,       // telegram over 4096 bytes, buffer too small, bad length
    RC_JOB_RUNNING = -26,    // send_job still holds a send
    RC_BAD_HANDLE = -50,
    RC_NO_RCFILE = -51,
    RC_RCFILE_ERROR = -52,
    RC_NO_SEGMENT = -53,
    RC_BREAK = -55,          // BREAK on the line
    RC_PARITY = -56,         // parity or framing error
    RC_LINE_ERROR = -57,     // other line error
    RC_NO_ACK = -67,         // no DLE after the closing block
    RC_RX_OVERFLOW = -81,    // more than 4096 data bytes received
    RC_RX_BCC = -82,         // BCC error or line error inside a telegram
    RC_RX_OCCUPIED = -83,    // receive buffer occupied, telegram refused
    RC_NO_CONNECT = -84,     // STX not answered by DLE
    RC_RX_ZVZ = -85,         // character delay time exceeded
    RC_RX_NO_BCC = -86,      // BCC not received in time
    RC_NOT_ATTACHED = -98,
    RC_TIMEOUT = -99,
    RC_SHUTDOWN = -100,

    RC_SILENCE = -1601,      // no byte within a read's limit; never leaves the server
};

}  // namespace qo3964
