// SPDX-License-Identifier: MIT
#include "server_options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config_check.h"
#include "shared_segment.h"

namespace qo3964 {

namespace {

constexpr char HELP_TEXT[] = R"(Usage: qo3964_server [RC-FILE]
       qo3964_server --check RC-FILE
       qo3964_server -v | --help | --version

Couples the programs attached to its shared memory segment to a partner
device on one serial line that speaks the 3964 / 3964R procedure. The
rc-file (default ./qo3964.rc) names the port, the line and the procedure.

  RC-FILE          start the server with this rc-file; it runs until SIGINT,
                   SIGTERM or the stop order of qo3964_ctl stop
  --check RC-FILE  read the rc-file as a start would, show what the server
                   would use, and check the port and the other files it
                   names, without starting: no lockfile, no segment, the
                   port not set up; exit status 0 when the rc-file is
                   usable, 1 when not
  -v               the banner and the server's usage text
  --help           this text
  --version        the version
)";

}  // namespace

void answer_options(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(HELP_TEXT, stdout);
        std::exit(0);
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("qo3964_server %s vom %s (qo3964 %s)\n", SERVER_VERSION, SERVER_DATE, QO3964_VERSION);
        std::exit(0);
    }
    if (argc == 3 && std::strcmp(argv[1], "--check") == 0) {
        std::exit(check_configuration(argv[2]));
    }
}

}  // namespace qo3964
