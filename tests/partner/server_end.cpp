// SPDX-License-Identifier: MIT
#include "server_end.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "hex_text.h"

namespace partnertest {

ServerEnd::ServerEnd(const std::string& path)
{
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) {
        std::perror(path.c_str());
        std::abort();
    }
    termios raw{};
    tcgetattr(fd_, &raw);
    cfmakeraw(&raw);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    tcsetattr(fd_, TCSANOW, &raw);
}

ServerEnd::~ServerEnd()
{
    close(fd_);
}

long elapsed_ms(std::chrono::steady_clock::time_point start)
{
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
}

qopartner::PartnerSettings fast_settings()
{
    qopartner::PartnerSettings settings;
    settings.zvz_ms = 100;
    settings.qvz_ms = 400;
    settings.send_attempts = 3;
    return settings;
}

void PartnerTest::start(const qopartner::PartnerSettings& settings, bool run)
{
    partner = std::make_unique<qopartner::Partner>(qopartner::PartnerLine::open_pty(), settings);
    server = std::make_unique<ServerEnd>(partner->path());
    if (run) {
        partner->start();
    }
}

void PartnerTest::accept_block(const std::string& block)
{
    SCOPED_TRACE("accepting " + block);
    EXPECT_EQ(server->read(1), "02");
    server->write({0x10});
    EXPECT_EQ(server->read(qopartner::parse_hex(block)->size()), block);
    server->write({0x10});
}

void PartnerTest::send_block(const std::string& block)
{
    SCOPED_TRACE("sending " + block);
    server->write({0x02});
    EXPECT_EQ(server->read(1), "10");
    server->write(*qopartner::parse_hex(block));
    EXPECT_EQ(server->read(1), "10");
}

qopartner::SendReport PartnerTest::outcome(std::future<qopartner::SendReport>& report)
{
    if (report.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        ADD_FAILURE() << "no outcome within 5 s";
        return {};
    }
    return report.get();
}

}  // namespace partnertest
