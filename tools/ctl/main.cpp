// SPDX-License-Identifier: MIT
// qo3964_ctl: status, telegrams and the stop of a running qo3964_server,
// for the people who run it.
#include <cstdio>

#include "commands.h"
#include "ctl_options.h"

int main(int argc, char** argv)
{
    using namespace qoctl;
    // Each line is out at once, also into a pipe or a file: receive
    // --follow is watched while it runs.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    CtlOptions options;
    const int parsed = parse_options(argc, argv, options);
    if (parsed != EXIT_DONE) {
        return parsed;
    }
    if (options.help) {
        print_help();
        return EXIT_DONE;
    }
    if (options.version) {
        print_version();
        return EXIT_DONE;
    }
    switch (options.command) {
    case Command::status:
        return run_status(options);
    case Command::send:
        return run_send(options);
    case Command::receive:
        return run_receive(options);
    case Command::stop:
        return run_stop(options);
    case Command::text:
        return run_text(options);
    case Command::none:
        break;
    }
    return EXIT_USAGE;
}
