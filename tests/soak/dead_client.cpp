// SPDX-License-Identifier: MIT
#include "dead_client.h"

#include <chrono>
#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qosoak {

bool die_after(const std::function<void()>& stores)
{
    const pid_t child = fork();
    if (child == 0) {
        // Only stores into the shared memory and the signal: the parent has
        // threads, so nothing here may take a lock.
        stores();
        raise(SIGKILL);
        _exit(1);
    }
    if (child < 0) {
        return false;
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child) {
            return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
        }
        if (std::chrono::steady_clock::now() >= end) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace qosoak
