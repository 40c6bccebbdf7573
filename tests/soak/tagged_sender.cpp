// SPDX-License-Identifier: MIT
// An application that sends its tagged telegrams through a server, each
// with qo3964m_send, and sends a refused one (-26, another application's
// telegram is in work) again. Prints "sent N" and exits with 0 when every
// telegram was acknowledged; any other result ends it with 1.
//
//     tagged_sender RC-FILE TAG COUNT
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "qo3964_client.h"
#include "tagged_telegram.h"

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: tagged_sender RC-FILE TAG COUNT\n");
        return 2;
    }
    const auto tag = static_cast<uint8_t>(std::atoi(argv[2]));
    const int count = std::atoi(argv[3]);
    if (qo3964m_open_shm(0, argv[1]) != 0) {
        std::fprintf(stderr, "open failed\n");
        return 1;
    }
    for (int number = 0; number < count; ++number) {
        const std::vector<uint8_t> telegram = qosoak::tagged_telegram(tag, static_cast<uint16_t>(number));
        int result = QO3964_ERR_JOB_RUNNING;
        while (result == QO3964_ERR_JOB_RUNNING) {
            result = qo3964m_send(0, telegram.data(), static_cast<int>(telegram.size()), 30);
            if (result == QO3964_ERR_JOB_RUNNING) {
                usleep(1000);
            }
        }
        if (result != QO3964_SEND_DONE) {
            std::printf("telegram %d: %d\n", number, result);
            return 1;
        }
    }
    std::printf("sent %d\n", count);
    qo3964m_close_shm(0);
    return 0;
}
