/* SPDX-License-Identifier: MIT */
/*
 * send_receive: a small application of the qo3964_client library.
 *
 * It attaches to a running qo3964_server, shows the server's
 * identification, sends one telegram to the partner on the serial line,
 * then waits for received telegrams for a few seconds. Every result is
 * printed with its English text.
 *
 *   send_receive [rc-file [handle]]
 *
 * The rc-file is the one the server was started with (default
 * "./qo3964.rc"); the library finds the server's segment through it.
 *
 * Build against an installed library:
 *   cc send_receive.c $(pkg-config --cflags --libs qo3964_client)
 */
#include <stdio.h>
#include <stdlib.h>

#include "qo3964_client.h"

/* Prints a call's result with its English text; returns the result.
 * The texts come from one table for all calls: for the 0 of open, close
 * and identification ("order is still in work") read "done". */
static int report(const char *call, int result)
{
    printf("%-22s %5d  %s\n", call, result, qo3964_errortext_en(result));
    return result;
}

int main(int argc, char **argv)
{
    const char *rcfile = argc > 1 ? argv[1] : "./qo3964.rc";
    const int handle = argc > 2 ? atoi(argv[2]) : 0;
    char version[8];
    struct qo3964_server_info info;
    /* Any bytes up to 4096; a DLE (0x10) is doubled on the line for us. */
    static const unsigned char telegram[] = {0x01, 0x10, 0x02, 'H', 'e', 'l', 'l', 'o'};
    unsigned char received[QO3964_TELEGRAM_MAX];
    int result;
    int round;

    printf("qo3964_client %s\n", qo_version(version));

    /* Attach: reads the rc-file for PORT/SHMNAME and finds the segment. */
    result = report("qo3964m_open_shm", qo3964m_open_shm(handle, rcfile));
    if (result != 0) {
        return EXIT_FAILURE;
    }

    /* The identification block holds "--NONE--" if the call fails. */
    report("qo3964m_svr_info", qo3964m_svr_info(handle, &info));
    printf("server: %s %s of %s, %d bit\n", info.server_name, info.server_version,
           info.server_date, info.word_bits);

    /* Send and wait up to 30 seconds for the partner's acknowledgement:
     * 2 means acknowledged, a negative code tells why not. */
    report("qo3964m_send", qo3964m_send(handle, telegram, (int)sizeof telegram, 30));

    /* Wait for received telegrams, up to a second at a time, for 5
     * seconds in all; the server wakes the wait when one arrives. A result
     * of 0 means nothing came in time (or an empty telegram). */
    for (round = 0; round < 5; ++round) {
        result = qo3964m_receive_wait(handle, received, (int)sizeof received, 1000);
        if (result > 0) {
            /* A positive result is a byte count, not a code. */
            int i;
            printf("%-22s %5d  bytes:", "qo3964m_receive_wait", result);
            for (i = 0; i < result; ++i) {
                printf(" %02X", received[i]);
            }
            printf("\n");
        } else if (result < 0) {
            report("qo3964m_receive_wait", result);
            if (result == QO3964_ERR_SHUTDOWN) {
                break;
            }
        }
    }

    report("qo3964m_close_shm", qo3964m_close_shm(handle));
    return EXIT_SUCCESS;
}
