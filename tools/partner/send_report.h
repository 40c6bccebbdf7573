// SPDX-License-Identifier: MIT
// How one of the partner's own telegrams ended.
#pragma once

#include <string_view>

namespace qopartner {

enum class SendOutcome {
    acknowledged,        // the other side answered the closing block with DLE
    no_connection,       // STX not answered with DLE within qvz (silence, NAK or another byte)
    refused,             // the closing block was answered with NAK
    no_acknowledgement,  // the closing block got no answer within qvz, or another byte
    line_failure,        // the bytes could not be written
    stopped,             // the partner stopped before the send ended
};

std::string_view outcome_name(SendOutcome outcome);

struct SendReport {
    SendOutcome outcome = SendOutcome::stopped;
    int attempts = 0;  // connection requests made (a yielded conflict does not count)
};

}  // namespace qopartner
