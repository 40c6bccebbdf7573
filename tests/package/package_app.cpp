// SPDX-License-Identifier: MIT
// A C++ application built from outside the source tree against the
// installed client library.
#include <iostream>
#include <string>

#include "qo3964_client.h"

int main(int argc, char** argv)
{
    char version[8];
    qo3964_server_info info{};
    const std::string rcfile = argc > 1 ? argv[1] : "/nonexistent/qo3964.rc";
    const int opened = qo3964m_open_shm(0, rcfile.c_str());

    std::cout << "C++ " << qo_version(version) << '\n';
    std::cout << "open " << opened << ' ' << qo3964_errortext_en(opened) << '\n';
    std::cout << "info " << qo3964m_svr_info(0, &info) << ' ' << info.server_name << '\n';
    std::cout << "control " << qo3964m_send_control(0) << '\n';
    return 0;
}
