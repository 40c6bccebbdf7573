// SPDX-License-Identifier: MIT
// What the link layer tells the runtime log: failed sends and why, line
// errors, a partner that stopped answering and its return, receptions the
// partner's repetition recovered, and the port lost and reopened. Each
// kind of event is rate-limited on its own by the log. Every event is also
// counted (link_counters.h).
#pragma once

#include <cstdint>

namespace qo3964 {

// A short English text for a link-layer result code.
const char* link_code_text(int32_t code);

// A telegram the partner acknowledged, and one received and acknowledged.
void log_telegram_sent(int32_t length);
void log_telegram_received(int32_t length);
// The byte that ended a send attempt as failed (NAK: the partner refused;
// silence or anything else: no answer).
void log_failed_answer(int byte);
// One attempt of a send failed; the send goes on.
void log_attempt_failed(int32_t code, int32_t attempt, int32_t attempts);
// A send ended for good with a negative code.
void log_send_failed(int32_t code, bool port_down);
// A BREAK or a parity/framing error read while the line was idle.
void log_line_error(int32_t code, bool send_failed);
// The partner answered nothing to a whole send (false: not taken for
// silence, as after its refusal or with the port down), and later
// answered again.
bool log_partner_silent(int32_t code, bool port_down);
void log_partner_back();
// A reception failed and was not reported (the partner repeats it), a
// telegram arrived after such failures, and the row reached tdr.
void log_reception_failed(int32_t code, int32_t in_a_row);
void log_reception_recovered(int32_t failures, int32_t last_code);
void log_reception_reported(int32_t code, int32_t in_a_row);
// An STX that did not stand alone, rejected as noise.
void log_false_request();
// A telegram refused because the receive ring stayed full.
void log_telegram_refused();
// The port went away and was closed; it is back.
void log_port_lost(const char* path, int32_t retry_s);
void log_port_reopened(const char* path, int64_t down_s);
// The port's path could lead elsewhere by another account's doing: not reopened.
void log_port_refused(const char* why);

}  // namespace qo3964
