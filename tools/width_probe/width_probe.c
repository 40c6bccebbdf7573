// SPDX-License-Identifier: MIT
/*
 * width_probe: an application of the client library for the tests across
 * word widths. It attaches to a server, shows its identification, sends
 * the telegrams given in hex, then waits for telegrams from the partner,
 * and prints every result on a line of its own:
 *
 *   width_probe <rc-file> <receive-count> [telegram ...]
 *
 * A telegram is written as hex bytes without blanks ("0110FF"); "-" is the
 * empty telegram. Output:
 *
 *   open <result>
 *   info <result> <name> <version> <date> <word_bits> <info_code>
 *   send <result>                      (one line per telegram)
 *   receive <result> [<hex>]           (hex when the result is a length > 0)
 *   close <result>
 *
 * Each receive waits up to 20 seconds for something other than 0. Exit
 * status 0 once every step ran, 1 when open failed, 2 on bad arguments.
 */
#define _POSIX_C_SOURCE 200809L

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "qo3964_client.h"

enum { HANDLE = 0, SEND_TIMEOUT_S = 30, RECEIVE_POLLS = 2000, POLL_MS = 10 };

static unsigned char telegram[QO3964_TELEGRAM_MAX];
static unsigned char received[QO3964_TELEGRAM_MAX];

static int hex_digit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

/* The byte count, or -1 for text that is not an even run of hex digits
 * or is longer than a telegram. */
static int parse_hex(const char *text, unsigned char *out)
{
    size_t length = strlen(text);
    size_t i;
    if (strcmp(text, "-") == 0) {
        return 0;
    }
    if (length % 2 != 0 || length / 2 > QO3964_TELEGRAM_MAX) {
        return -1;
    }
    for (i = 0; i < length; i += 2) {
        int high = hex_digit(text[i]);
        int low = hex_digit(text[i + 1]);
        if (high < 0 || low < 0) {
            return -1;
        }
        out[i / 2] = (unsigned char)(high * 16 + low);
    }
    return (int)(length / 2);
}

static void pause_ms(long ms)
{
    struct timespec pause;
    pause.tv_sec = ms / 1000;
    pause.tv_nsec = (ms % 1000) * 1000000L;
    nanosleep(&pause, NULL);
}

static void print_received(int result)
{
    int i;
    printf("receive %d", result);
    if (result > 0) {
        printf(" ");
        for (i = 0; i < result; ++i) {
            printf("%02X", received[i]);
        }
    }
    printf("\n");
    fflush(stdout);
}

int main(int argc, char **argv)
{
    struct qo3964_server_info info;
    int receive_count;
    int result;
    int i;

    if (argc < 3) {
        fprintf(stderr, "usage: width_probe <rc-file> <receive-count> [telegram ...]\n");
        return 2;
    }
    receive_count = atoi(argv[2]);

    result = qo3964m_open_shm(HANDLE, argv[1]);
    printf("open %d\n", result);
    fflush(stdout);
    if (result != 0) {
        return 1;
    }

    result = qo3964m_svr_info(HANDLE, &info);
    printf("info %d %s %s %s %u %u\n", result, info.server_name, info.server_version, info.server_date,
           (unsigned)info.word_bits, (unsigned)info.info_code);
    fflush(stdout);

    for (i = 3; i < argc; ++i) {
        int length = parse_hex(argv[i], telegram);
        if (length < 0) {
            fprintf(stderr, "not a telegram: %s\n", argv[i]);
            return 2;
        }
        printf("send %d\n", qo3964m_send(HANDLE, telegram, length, SEND_TIMEOUT_S));
        fflush(stdout);
    }

    for (i = 0; i < receive_count; ++i) {
        int poll;
        result = 0;
        for (poll = 0; poll < RECEIVE_POLLS && result == 0; ++poll) {
            result = qo3964m_receive(HANDLE, received, (int)sizeof received);
            if (result == 0) {
                pause_ms(POLL_MS);
            }
        }
        print_received(result);
    }

    printf("close %d\n", qo3964m_close_shm(HANDLE));
    return 0;
}
