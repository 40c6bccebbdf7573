// SPDX-License-Identifier: MIT
#include "link_fixture.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "qo3964_client.h"

namespace qosoak {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto FETCH_PAUSE = std::chrono::milliseconds(5);
constexpr int START_LIMIT_MS = 10000;

}  // namespace

qopartner::PartnerSettings link_partner_settings()
{
    qopartner::PartnerSettings settings;
    settings.zvz_ms = LINK_ZVZ_MS;
    settings.qvz_ms = LINK_QVZ_MS;
    settings.send_attempts = LINK_ATTEMPTS;
    return settings;
}

std::string link_rc_lines(const std::string& port)
{
    const std::string attempts = std::to_string(LINK_ATTEMPTS);
    return "PORT " + port + "\nZVZ " + std::to_string(LINK_ZVZ_MS) + "\nQVZ " + std::to_string(LINK_QVZ_MS) +
           "\nTDS " + attempts + "\nTDR " + attempts + "\nBAUD 115200\n";
}

void LinkFixture::bring_up(const qopartner::PartnerSettings& settings, bool start_partner,
                           const std::string& rc_lines)
{
    new_partner(settings);
    server = std::make_unique<qotest::ServerHarness>(link_rc_lines(port_path_) + rc_lines);
    ASSERT_TRUE(server->start(START_LIMIT_MS)) << server->process().out() << server->process().err();
    if (start_partner) {
        partner->start();
    }
    ASSERT_EQ(qo3964m_open_shm(APP_HANDLE, server->rc_file().c_str()), 0);
    view = std::make_unique<SegmentView>(server->shm_file(), true);
    ASSERT_TRUE(view->attached());
}

void LinkFixture::drop_partner()
{
    if (partner) {
        partner->stop();
        partner.reset();
    }
}

void LinkFixture::new_partner(const qopartner::PartnerSettings& settings)
{
    drop_partner();
    partner = std::make_unique<qopartner::Partner>(qopartner::PartnerLine::open_pty(), settings);
    std::string error;
    ASSERT_TRUE(port_link_.create(port_path_, partner->path(), error)) << error;
}

bool LinkFixture::both_ways(int timeout_ms)
{
    static int round = 0;
    ++round;
    const Bytes out = {'o', 'u', 't', static_cast<uint8_t>(round)};
    const Bytes in = {'i', 'n', static_cast<uint8_t>(round)};
    const auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    const auto left = [&] {
        return static_cast<int>(
            std::max<int64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count(), 0));
    };
    const int sent = qo3964m_send(APP_HANDLE, out.data(), static_cast<int>(out.size()), (timeout_ms + 999) / 1000);
    if (sent != QO3964_SEND_DONE) {
        ADD_FAILURE() << "the application's send ended with " << sent;
        return false;
    }
    for (;;) {
        const std::optional<Bytes> got = partner->wait_received(std::chrono::milliseconds(left()));
        if (!got) {
            ADD_FAILURE() << "the partner did not get the application's telegram";
            return false;
        }
        if (*got == out) {
            break;
        }
    }
    if (!partner_sends(in, left())) {
        ADD_FAILURE() << "the partner's telegram was not acknowledged";
        return false;
    }
    std::vector<AppEntry> before;
    const bool fetched = fetch_telegram(in, left(), &before);
    EXPECT_TRUE(fetched) << "the partner's telegram did not reach the application";
    expect_status_entries_only(before);
    return fetched && Clock::now() <= end;
}

void LinkFixture::TearDown()
{
    qo3964m_close_shm(APP_HANDLE);
    view.reset();
    if (partner) {
        partner->stop();
    }
    server.reset();
    partner.reset();
}

std::optional<AppEntry> LinkFixture::fetch(int timeout_ms)
{
    const auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    Bytes buffer(QO3964_TELEGRAM_MAX);
    for (;;) {
        if (const std::optional<WaitingEntry> waiting = view->waiting_entry()) {
            const int result = qo3964m_receive(APP_HANDLE, buffer.data(), static_cast<int>(buffer.size()));
            EXPECT_EQ(result, waiting->result < 0 ? waiting->result : waiting->length);
            const int32_t length = std::clamp(waiting->length, 0, QO3964_TELEGRAM_MAX);
            return AppEntry{waiting->length, waiting->result, Bytes(buffer.begin(), buffer.begin() + length)};
        }
        if (Clock::now() >= end) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(FETCH_PAUSE);
    }
}

bool LinkFixture::fetch_telegram(const Bytes& telegram, int timeout_ms, std::vector<AppEntry>* before)
{
    const auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        const std::optional<AppEntry> entry = fetch(static_cast<int>(std::max<int64_t>(left, 0)));
        if (!entry) {
            return false;
        }
        if (entry->length > 0 && entry->data == telegram) {
            return true;
        }
        if (before != nullptr) {
            before->push_back(*entry);
        }
    }
}

bool LinkFixture::partner_sends(const Bytes& telegram, int timeout_ms)
{
    const std::optional<qopartner::SendReport> report =
        partner->send_and_wait(telegram, std::chrono::milliseconds(timeout_ms));
    return report && report->outcome == qopartner::SendOutcome::acknowledged;
}

void expect_status_entries_only(const std::vector<AppEntry>& entries)
{
    for (const AppEntry& entry : entries) {
        EXPECT_EQ(entry.length, 0) << "a telegram nobody sent: " << log_hex(entry.data);
        EXPECT_TRUE(entry.status == -81 || entry.status == -82 || entry.status == -85 || entry.status == -86)
            << "status " << entry.status;
    }
}

}  // namespace qosoak
