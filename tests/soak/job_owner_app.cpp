// SPDX-License-Identifier: MIT
// An application beside another one on the same server, for the tests of
// who owns a job:
//
//     job_owner_app RC-FILE poll       polls qo3964m_send_control until
//                                      SIGTERM; prints "polls N, other M"
//                                      (M: results other than 4) and exits
//                                      with 0 when M is 0
//     job_owner_app RC-FILE fetch      fetches until SIGTERM; prints one
//                                      line per telegram: "TAG NUMBER", or
//                                      "torn" with its length
//     job_owner_app RC-FILE hold TAG   hands telegram 0 of TAG over as the
//                                      library does, but stops itself
//                                      (SIGSTOP) in the midst of the copy
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "block_claim.h"
#include "client_connection.h"
#include "qo3964_client.h"
#include "send_handover.h"
#include "tagged_telegram.h"

namespace {

constexpr useconds_t POLL_PAUSE_US = 2000;

volatile std::sig_atomic_t stopping = 0;

extern "C" void on_term(int)
{
    stopping = 1;
}

int poll_results()
{
    long polls = 0;
    long other = 0;
    while (stopping == 0) {
        const int result = qo3964m_send_control(0);
        ++polls;
        if (result != QO3964_TASK_IDLE) {
            ++other;
            std::printf("collected %d\n", result);
        }
        usleep(POLL_PAUSE_US);
    }
    std::printf("polls %ld, other %ld\n", polls, other);
    return other == 0 ? 0 : 1;
}

int fetch_telegrams()
{
    std::vector<uint8_t> buffer(QO3964_TELEGRAM_MAX);
    while (stopping == 0) {
        const int result = qo3964m_receive(0, buffer.data(), QO3964_TELEGRAM_MAX);
        if (result <= 0) {
            usleep(POLL_PAUSE_US);
            continue;
        }
        const std::vector<uint8_t> telegram(buffer.begin(), buffer.begin() + result);
        const std::optional<uint16_t> number = qosoak::whole_telegram_of(telegram[0], telegram);
        if (number) {
            std::printf("%u %u\n", telegram[0], *number);
        } else {
            std::printf("torn %d\n", result);
        }
        std::fflush(stdout);
    }
    return 0;
}

// The library's hand-over (claim, copy, state 1, release), with a stop
// after the first half of the copy.
int hold_in_the_copy(uint8_t tag)
{
    using namespace qo3964::client;
    volatile qo3964::JobBlock& job = connection_for(0)->segment->send_job;
    const std::vector<uint8_t> telegram = qosoak::tagged_telegram(tag, 0);
    const uint8_t claim = claim_block(job);
    if (claim == 0) {
        std::printf("no claim\n");
        return 1;
    }
    const size_t half = telegram.size() / 2;
    for (size_t i = 0; i < telegram.size(); ++i) {
        if (i == half) {
            raise(SIGSTOP);
        }
        job.data[i] = telegram[i];
    }
    const bool handed = publish_send(job, static_cast<int32_t>(telegram.size()), new_job_owner());
    release_block(job, claim);
    std::printf(handed ? "handed over\n" : "refused\n");
    return handed ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: job_owner_app RC-FILE poll|fetch|hold TAG\n");
        return 2;
    }
    struct sigaction action {};
    action.sa_handler = on_term;
    sigaction(SIGTERM, &action, nullptr);
    if (qo3964m_open_shm(0, argv[1]) != 0) {
        std::fprintf(stderr, "open failed\n");
        return 1;
    }
    const char* mode = argv[2];
    int status = 2;
    if (std::strcmp(mode, "poll") == 0) {
        status = poll_results();
    } else if (std::strcmp(mode, "fetch") == 0) {
        status = fetch_telegrams();
    } else if (std::strcmp(mode, "hold") == 0 && argc == 4) {
        status = hold_in_the_copy(static_cast<uint8_t>(std::atoi(argv[3])));
    }
    qo3964m_close_shm(0);
    return status;
}
