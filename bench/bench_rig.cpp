// SPDX-License-Identifier: MIT
#include "bench_rig.h"

#include <cmath>
#include <csignal>
#include <exception>

#include "numbered_telegram.h"
#include "qo3964_client.h"

namespace qobench {

namespace {

volatile std::sig_atomic_t interrupt_seen = 0;

void on_interrupt(int)
{
    interrupt_seen = 1;
}

constexpr int START_LIMIT_MS = 20000;
// The orderly shutdown pauses about four seconds.
constexpr int STOP_LIMIT_MS = 20000;

}  // namespace

bool interrupted()
{
    return interrupt_seen != 0;
}

void install_interrupt_handler()
{
    std::signal(SIGINT, on_interrupt);
}

void drop_received()
{
    std::vector<uint8_t> buffer(QO3964_TELEGRAM_MAX);
    // The server holds at most 16 queued telegrams and one in receive_job.
    for (int left = 0; left < 64; ++left) {
        if (qo3964m_receive(BENCH_HANDLE, buffer.data(), static_cast<int>(buffer.size())) == 0) {
            break;
        }
    }
}

int server_qvz_ms(const BenchOptions& options, const LineUnderTest& line)
{
    return options.qvz_ms + static_cast<int>(std::ceil(line.wire_ms(numbered_telegram(0, QO3964_TELEGRAM_MAX))));
}

BenchRig::~BenchRig()
{
    close();
}

bool BenchRig::open(const BenchOptions& options, const LineUnderTest& line, const std::string& server_program,
                    std::string& error)
{
    if (dir_.path().empty()) {
        error = "cannot create a directory under /tmp";
        return false;
    }
    qopartner::PartnerSettings settings;
    settings.bcc = options.bcc_mode != 0;
    settings.zvz_ms = options.zvz_ms;
    settings.qvz_ms = options.qvz_ms;
    try {
        qopartner::PartnerLine pty = qopartner::PartnerLine::open_pty();
        if (line.speed != 0) {
            pty.emulate_speed(line.speed, line.parity);
        }
        partner_ = std::make_unique<qopartner::Partner>(std::move(pty), settings);
    } catch (const std::exception& failure) {
        error = std::string("cannot open a pty for the partner: ") + failure.what();
        return false;
    }
    partner_->on_received([this](const qopartner::Bytes& telegram) {
        const std::optional<uint32_t> number = telegram_number(telegram.data(), telegram.size());
        if (!number) {
            return;
        }
        {
            std::lock_guard lock(numbers_mutex_);
            partner_numbers_.push_back(*number);
        }
        // Queued before the partner's DLE goes out: it sends the answer as
        // soon as the line is its own again.
        const size_t answer = answer_length_;
        if (answer != 0) {
            partner_->send(numbered_telegram(*number, answer));
        }
    });

    const std::string shm_file = dir_.file("link.shm");
    const std::string rc_file = dir_.file("qo3964.rc");
    const std::string rc_text = "# written by qo3964_bench\n"
                                "PORT " + partner_->path() + "\n"
                                "SHMNAME " + shm_file + "\n"
                                "BAUD " + std::to_string(options.baud) + "\n"
                                "PARITY " + std::string(1, options.parity) + "\n"
                                "BCC_MODE " + std::to_string(options.bcc_mode) + "\n"
                                "ZVZ " + std::to_string(options.zvz_ms) + "\n"
                                "QVZ " + std::to_string(server_qvz_ms(options, line)) + "\n";
    if (!write_text_file(shm_file, "") || !write_text_file(rc_file, rc_text)) {
        error = "cannot write the rc-file or the SHMNAME file in " + dir_.path();
        return false;
    }

    // The server is forked before the partner's thread exists.
    server_ = std::make_unique<ServerUnderTest>(server_program, rc_file, shm_file, dir_.file("server.out"));
    if (!server_->start(START_LIMIT_MS, error)) {
        return false;
    }
    partner_->start();
    for (const int handle : {BENCH_HANDLE, DRAIN_HANDLE}) {
        const int opened = qo3964m_open_shm(handle, rc_file.c_str());
        if (opened != 0) {
            error = "qo3964m_open_shm: " + std::to_string(opened) + " " + qo3964_errortext_en(opened);
            return false;
        }
        attached_.push_back(handle);
    }
    return true;
}

void BenchRig::close()
{
    for (const int handle : attached_) {
        qo3964m_close_shm(handle);
    }
    attached_.clear();
    if (server_) {
        server_->stop(STOP_LIMIT_MS);
    }
    if (partner_) {
        partner_->stop();
    }
}

std::vector<uint32_t> BenchRig::take_partner_numbers()
{
    std::lock_guard lock(numbers_mutex_);
    std::vector<uint32_t> numbers;
    numbers.swap(partner_numbers_);
    return numbers;
}

}  // namespace qobench
