// SPDX-License-Identifier: MIT
#include "link_events.h"

#include <array>

#include "link_counters.h"
#include "protocol_engine.h"
#include "result_codes.h"
#include "runtime_log.h"

namespace qo3964 {

namespace {

// Event kinds: the rate limiter tells them apart by these addresses.
constexpr char SEND_KIND[] = "send";
constexpr char ATTEMPT_KIND[] = "send attempt";
constexpr char LINE_KIND[] = "line error";
constexpr char PARTNER_KIND[] = "partner";
constexpr char RECEPTION_KIND[] = "reception";
constexpr char REFUSAL_KIND[] = "refusal";
constexpr char PORT_KIND[] = "port";
constexpr char PORT_PATH_KIND[] = "port path";
constexpr char TELEGRAM_KIND[] = "telegram";

// What the partner answered lately, for the words of the next lines.
struct PartnerAnswer {
    bool refused = false;       // the failed attempt ended in its NAK
    bool send_refused = false;  // the send that failed just now ended so
    bool silence_said = false;  // "stopped answering" was written last
};
PartnerAnswer answer{};

bool take_refusal()
{
    const bool refused = answer.refused;
    answer.refused = false;
    return refused;
}

struct CodeText {
    int32_t code;
    const char* text;
};

constexpr std::array<CodeText, 11> code_texts{{
    {RC_BREAK, "BREAK on the line"},
    {RC_PARITY, "parity or framing error"},
    {RC_LINE_ERROR, "unknown line marking"},
    {RC_NO_ACK, "no DLE after the closing block, or the line took no data"},
    {RC_RX_OVERFLOW, "more than 4096 data bytes"},
    {RC_RX_BCC, "BCC error or line error inside the telegram"},
    {RC_RX_OCCUPIED, "receive ring full, telegram refused"},
    {RC_NO_CONNECT, "STX not answered by DLE"},
    {RC_RX_ZVZ, "character delay time exceeded"},
    {RC_RX_NO_BCC, "BCC not received in time"},
    {RC_TOO_LONG, "telegram longer than 4096 bytes"},
}};

}  // namespace

const char* link_code_text(int32_t code)
{
    for (const CodeText& entry : code_texts) {
        if (entry.code == code) {
            return entry.text;
        }
    }
    return "unknown code";
}

void log_telegram_sent(int32_t length)
{
    count(&ServerCounters::telegrams_sent);
    count(&ServerCounters::bytes_sent, static_cast<uint64_t>(length));
    count_time(&ServerCounters::last_sent_ms);
    log_event(LOG_PRI_DEBUG, TELEGRAM_KIND, "telegram of %d bytes sent", length);
}

void log_telegram_received(int32_t length)
{
    count(&ServerCounters::telegrams_received);
    count(&ServerCounters::bytes_received, static_cast<uint64_t>(length));
    count_time(&ServerCounters::last_received_ms);
    log_event(LOG_PRI_DEBUG, TELEGRAM_KIND, "telegram of %d bytes received", length);
}

void log_failed_answer(int byte)
{
    answer.refused = byte == NAK;
}

void log_attempt_failed(int32_t code, int32_t attempt, int32_t attempts)
{
    count(&ServerCounters::attempts_failed);
    if (take_refusal()) {
        count(&ServerCounters::attempts_refused);
        log_event(LOG_PRI_INFO, ATTEMPT_KIND, "send attempt %d of %d failed: %d, the partner refused it (NAK)",
                  attempt, attempts, code);
        return;
    }
    log_event(LOG_PRI_INFO, ATTEMPT_KIND, "send attempt %d of %d failed: %d %s", attempt, attempts, code,
              link_code_text(code));
}

void log_send_failed(int32_t code, bool port_down)
{
    count_send_failed(code);
    answer.send_refused = false;
    if (port_down) {
        // No STX went out: the partner is not to blame.
        log_event(LOG_PRI_WARNING, SEND_KIND, "send failed: %d, the port is down", code);
        return;
    }
    if (code == RC_NO_CONNECT || code == RC_NO_ACK) {
        count(&ServerCounters::attempts_failed);  // the last attempt
        answer.send_refused = take_refusal();
    }
    if (answer.send_refused) {
        count(&ServerCounters::attempts_refused);
        log_event(LOG_PRI_WARNING, SEND_KIND, "send failed: %d, the partner refused it (NAK)", code);
        return;
    }
    log_event(LOG_PRI_WARNING, SEND_KIND, "send failed: %d %s", code, link_code_text(code));
}

void log_line_error(int32_t code, bool send_failed)
{
    count(code == RC_BREAK ? &ServerCounters::line_breaks : &ServerCounters::line_parity_errors);
    if (send_failed) {
        count_send_failed(code);
    }
    log_event(LOG_PRI_WARNING, LINE_KIND, "line error: %d %s, reported to the application%s", code,
              link_code_text(code), send_failed ? "; the pending send failed" : "");
}

// A partner that refuses is there, and a send that failed on a lost port
// says nothing about the partner: neither is reported as silence.
bool log_partner_silent(int32_t code, bool port_down)
{
    if (port_down || answer.send_refused) {
        return false;
    }
    answer.silence_said = true;
    count(&ServerCounters::partner_silent);
    log_change(LOG_PRI_WARNING, PARTNER_KIND, "partner stopped answering: %d %s", code, link_code_text(code));
    return true;
}

void log_partner_back()
{
    if (!answer.silence_said) {
        return;
    }
    answer.silence_said = false;
    count(&ServerCounters::partner_back);
    log_change(LOG_PRI_NOTICE, PARTNER_KIND, "partner answers again");
}

void log_reception_failed(int32_t code, int32_t in_a_row)
{
    count(&ServerCounters::receptions_refused);
    log_event(LOG_PRI_INFO, RECEPTION_KIND, "reception failed (%d in a row): %d %s; waiting for the repetition",
              in_a_row, code, link_code_text(code));
}

void log_reception_recovered(int32_t failures, int32_t last_code)
{
    count(&ServerCounters::receptions_repeated);
    log_event(LOG_PRI_NOTICE, RECEPTION_KIND, "telegram received after %d failed reception%s (last %d %s)",
              failures, failures == 1 ? "" : "s", last_code, link_code_text(last_code));
}

void log_reception_reported(int32_t code, int32_t in_a_row)
{
    count(&ServerCounters::receptions_refused);
    count(&ServerCounters::receptions_reported);
    log_event(LOG_PRI_WARNING, RECEPTION_KIND, "reception failed %d times in a row: %d %s, reported", in_a_row, code,
              link_code_text(code));
}

void log_false_request()
{
    log_event(LOG_PRI_INFO, RECEPTION_KIND, "STX with bytes right behind it: no connection request, rejected");
}

void log_telegram_refused()
{
    count(&ServerCounters::telegrams_lost);
    log_event(LOG_PRI_WARNING, REFUSAL_KIND, "telegram refused: %d %s", RC_RX_OCCUPIED,
              link_code_text(RC_RX_OCCUPIED));
}

void log_port_lost(const char* path, int32_t retry_s)
{
    count(&ServerCounters::port_lost);
    log_change(LOG_PRI_ERR, PORT_KIND, "port %s lost: closed, trying to reopen it every %d s", path, retry_s);
}

void log_port_reopened(const char* path, int64_t down_s)
{
    count(&ServerCounters::port_back);
    log_change(LOG_PRI_NOTICE, PORT_KIND, "port %s reopened after %lld s; the line is up again", path,
               static_cast<long long>(down_s));
}

void log_port_refused(const char* why)
{
    log_event(LOG_PRI_ERR, PORT_PATH_KIND, "port not reopened: %s; trying again", why);
}

}  // namespace qo3964
