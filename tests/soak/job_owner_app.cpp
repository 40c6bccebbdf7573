// SPDX-License-Identifier: MIT
// An application beside another one on the same server, for the tests of
// who owns a job: "fetch" fetches as fast as it can until SIGTERM, one
// line per telegram ("TAG NUMBER", or "torn");
// "hold TAG" hands telegram 0 of TAG over with the library's steps, but
// stops itself (SIGSTOP) in the midst of the copy. Says "open" on standard
// error once it is attached.
//
//     job_owner_app RC-FILE fetch|hold TAG
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sched.h>

#include "block_claim.h"
#include "qo3964_client.h"
#include "send_handover.h"
#include "tagged_telegram.h"

namespace {

volatile std::sig_atomic_t stopping = 0;

extern "C" void on_term(int)
{
    stopping = 1;
}

int fetch_telegrams()
{
    std::vector<uint8_t> buffer(QO3964_TELEGRAM_MAX);
    while (stopping == 0) {
        const int length = qo3964m_receive(0, buffer.data(), QO3964_TELEGRAM_MAX);
        if (length > 0) {
            const std::vector<uint8_t> telegram(buffer.begin(), buffer.begin() + length);
            const std::optional<uint16_t> number = qosoak::whole_telegram_of(telegram[0], telegram);
            number ? std::printf("%u %u\n", telegram[0], *number) : std::printf("torn\n");
            std::fflush(stdout);
        }
        sched_yield();  // the two fetchers meet often
    }
    return 0;
}

int hold_in_the_copy(uint8_t tag)
{
    using namespace qo3964::client;
    volatile qo3964::JobBlock& job = connection_for(0)->segment->send_job;
    const std::vector<uint8_t> telegram = qosoak::tagged_telegram(tag, 0);
    const uint8_t claim = claim_block(job);
    for (size_t i = 0; claim != 0 && i < telegram.size(); ++i) {
        if (i == telegram.size() / 2) {
            raise(SIGSTOP);
        }
        job.data[i] = telegram[i];
    }
    const bool handed = claim != 0 && publish_send(job, static_cast<int32_t>(telegram.size()), new_job_owner());
    release_block(job, claim);
    return handed ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    struct sigaction action {};
    action.sa_handler = on_term;
    sigaction(SIGTERM, &action, nullptr);
    if (argc < 3 || qo3964m_open_shm(0, argv[1]) != 0) {
        return 2;
    }
    std::fputs("open\n", stderr);
    if (std::strcmp(argv[2], "fetch") == 0) {
        return fetch_telegrams();
    }
    return argc == 4 ? hold_in_the_copy(static_cast<uint8_t>(std::atoi(argv[3]))) : 2;
}
