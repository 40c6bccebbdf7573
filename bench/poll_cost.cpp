// SPDX-License-Identifier: MIT
#include "poll_cost.h"

#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <pty.h>
#include <sys/times.h>
#include <unistd.h>

namespace qobench {

namespace {

double thread_cpu_us()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

}  // namespace

PollCost measure_poll_cost(int rounds)
{
    PollCost cost;
    int master = -1;
    int slave = -1;
    if (rounds <= 0 || openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        return cost;
    }
    fcntl(slave, F_SETFL, fcntl(slave, F_GETFL) | O_NONBLOCK);
    const auto wall_start = std::chrono::steady_clock::now();
    const double cpu_start = thread_cpu_us();
    for (int i = 0; i < rounds; ++i) {
        unsigned char byte = 0;
        [[maybe_unused]] const ssize_t got = read(slave, &byte, 1);
        tms buffer{};
        [[maybe_unused]] const clock_t ticks = times(&buffer);
        usleep(1000);
    }
    const double cpu_end = thread_cpu_us();
    const double wall_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wall_start).count();
    close(slave);
    close(master);
    cost.cpu_us = (cpu_end - cpu_start) / rounds;
    cost.period_ms = wall_ms / rounds;
    cost.measured = true;
    return cost;
}

}  // namespace qobench
