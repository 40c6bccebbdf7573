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

void LinkFixture::bring_up(const qopartner::PartnerSettings& settings, bool start_partner)
{
    partner = std::make_unique<qopartner::Partner>(qopartner::PartnerLine::open_pty(), settings);
    server = std::make_unique<qotest::ServerHarness>(link_rc_lines(partner->path()));
    ASSERT_TRUE(server->start(START_LIMIT_MS)) << server->process().out() << server->process().err();
    if (start_partner) {
        partner->start();
    }
    ASSERT_EQ(qo3964m_open_shm(APP_HANDLE, server->rc_file().c_str()), 0);
    view = std::make_unique<SegmentView>(server->shm_file(), true);
    ASSERT_TRUE(view->attached());
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
