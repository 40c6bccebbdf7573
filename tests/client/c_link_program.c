// SPDX-License-Identifier: MIT
/* A C program that uses the client library through its header alone.
 * Built by the C compiler and linked without the C++ runtime. */
#include <stdio.h>
#include <string.h>

#include "qo3964_client.h"

int main(int argc, char **argv)
{
    char version[8];
    struct qo3964_server_info info;
    unsigned char buffer[4];
    const char *missing_rcfile = argc > 1 ? argv[1] : "/nonexistent/qo3964.rc";

    printf("version %s\n", qo_version(version));
    printf("shm_size %d debug %d\n", shm_size, debug);
    printf("open %d\n", qo3964m_open_shm(0, missing_rcfile));
    printf("svr_info %d %s\n", qo3964m_svr_info(QO3964_MAX_HANDLES, &info), info.server_name);
    printf("receive %d\n", qo3964m_receive(1, buffer, (int)sizeof buffer));
    printf("send %d\n", qo3964m_send(1, buffer, 1, 1));
    printf("text %s|%s\n", qo3964_errortext(QO3964_ERR_TIMEOUT), qo3964_errortext_en(QO3964_ERR_TIMEOUT));
    printf("clinit%s", clinit_result(0));
    return strcmp(version, "V 1.0.1") == 0 ? 0 : 1;
}
