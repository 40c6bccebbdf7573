// SPDX-License-Identifier: MIT
#include "link_events.h"

#include <array>

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

void log_attempt_failed(int32_t code, int32_t attempt, int32_t attempts)
{
    log_event(LOG_PRI_INFO, ATTEMPT_KIND, "send attempt %d of %d failed: %d %s", attempt, attempts, code,
              link_code_text(code));
}

void log_send_failed(int32_t code)
{
    log_event(LOG_PRI_WARNING, SEND_KIND, "send failed: %d %s", code, link_code_text(code));
}

void log_line_error(int32_t code, bool send_failed)
{
    log_event(LOG_PRI_WARNING, LINE_KIND, "line error: %d %s, reported to the application%s", code,
              link_code_text(code), send_failed ? "; the pending send failed" : "");
}

void log_partner_silent(int32_t code)
{
    log_change(LOG_PRI_WARNING, PARTNER_KIND, "partner stopped answering: %d %s", code, link_code_text(code));
}

void log_partner_back()
{
    log_change(LOG_PRI_NOTICE, PARTNER_KIND, "partner answers again");
}

void log_reception_failed(int32_t code, int32_t in_a_row)
{
    log_event(LOG_PRI_INFO, RECEPTION_KIND, "reception failed (%d in a row): %d %s; waiting for the repetition",
              in_a_row, code, link_code_text(code));
}

void log_reception_recovered(int32_t failures, int32_t last_code)
{
    log_event(LOG_PRI_NOTICE, RECEPTION_KIND, "telegram received after %d failed reception%s (last %d %s)",
              failures, failures == 1 ? "" : "s", last_code, link_code_text(last_code));
}

void log_reception_reported(int32_t code, int32_t in_a_row)
{
    log_event(LOG_PRI_WARNING, RECEPTION_KIND, "reception failed %d times in a row: %d %s, reported", in_a_row, code,
              link_code_text(code));
}

void log_false_request()
{
    log_event(LOG_PRI_INFO, RECEPTION_KIND, "STX with bytes right behind it: no connection request, rejected");
}

void log_telegram_refused()
{
    log_event(LOG_PRI_WARNING, REFUSAL_KIND, "telegram refused: %d %s", RC_RX_OCCUPIED,
              link_code_text(RC_RX_OCCUPIED));
}

void log_port_lost(const char* path, int32_t retry_s)
{
    log_change(LOG_PRI_ERR, PORT_KIND, "port %s lost: closed, trying to reopen it every %d s", path, retry_s);
}

void log_port_reopened(const char* path, int64_t down_s)
{
    log_change(LOG_PRI_NOTICE, PORT_KIND, "port %s reopened after %lld s; the line is up again", path,
              static_cast<long long>(down_s));
}

void log_port_refused(const char* why)
{
    log_event(LOG_PRI_ERR, PORT_PATH_KIND, "port not reopened: %s; trying again", why);
}

}  // namespace qo3964
