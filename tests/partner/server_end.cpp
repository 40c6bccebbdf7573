#include "server_end.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

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

bool wait_until(const std::function<bool()>& condition, int timeout_ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
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

}  // namespace partnertest
