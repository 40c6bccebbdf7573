// SPDX-License-Identifier: MIT
/* An application built from outside the source tree against the installed
 * client library. */
#include <stdio.h>

#include "qo3964_client.h"

int main(int argc, char **argv)
{
    char version[8];
    struct qo3964_server_info info;
    const char *rcfile = argc > 1 ? argv[1] : "/nonexistent/qo3964.rc";

    int opened = qo3964m_open_shm(0, rcfile);

    printf("C %s\n", qo7_version(version));
    printf("open %d %s\n", opened, qo3964_errortext_en(opened));
    printf("info %d %s\n", qo3964m_svr_info(0, &info), info.server_name);
    printf("control %d\n", qo3964m_send_control(0));
    return 0;
}
