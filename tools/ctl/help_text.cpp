// SPDX-License-Identifier: MIT
#include <array>
#include <cstdio>

#include "ctl_options.h"
#include "qo3964_client.h"
#include "shared_segment.h"

using namespace qo3964;

namespace qoctl {

namespace {

constexpr char HELP_TEXT[] =
    R"(Usage: qo3964_ctl [OPTIONS] COMMAND [ARGUMENTS]

Looks after a running qo3964_server: shows its state, sends and receives
telegrams on its serial line, and stops it. The server is found through the
rc-file it was started with (its SHMNAME line, else its PORT line).

Commands:
  status                  The server's identification, its segment and
                          lockfile (/tmp/qo_ + the SHMNAME path with '/',
                          '.' and blanks as '_' + _A, locked by the server
                          while it runs), the live state of both job blocks
                          (send_job, receive_job: state, length, result,
                          server_busy, client_busy and the mark bytes) and
                          of the stop order shutdown_request; whether its
                          line is up (a port that went away is "down" until
                          the server has opened it again); and whether
                          the server still runs (the segment of a server
                          that was killed stays behind: "abandoned"); the
                          settings it runs with and its counters since its
                          start. Exits with 1 when no server runs.
      --json              The same as one JSON object.
      --prometheus        The same for node_exporter's textfile collector
                          (metrics qo3964_..., label line: the rc-file's
                          name).
  send HEX...             Sends one telegram and waits for the partner's
                          acknowledgement. The bytes are written in hex, two
                          digits each, alone or in groups, separated by
                          blanks, commas or colons, "0x" allowed:
                          01 10 02, "01 10 02", 011002 and 0x01,0x10 are alike.
                          "" sends a telegram of 0 bytes.
  send --file FILE        Sends the raw bytes of FILE as one telegram.
      --timeout SECONDS   Time limit of the send (default: what the server
                          may take by its rc-file, TDS x (QVZ + the
                          telegram's time at BAUD) and a margin).
                          Prints the result code and its text; exits with 0
                          only for 2 (sent and acknowledged). Safe beside
                          applications that send: it takes only its own
                          result (-26 while theirs is in work).
  receive                 Waits for one received telegram and prints it in
                          hex with its length, or the code and text of a
                          receive error.
      --timeout SECONDS   Time limit (default 10).
      --wait MS           Time limit in milliseconds instead.
      --count N           Waits for N telegrams instead of one.
      --follow            Prints every telegram until SIGINT or SIGTERM (or
                          until --count N telegrams or --timeout SECONDS,
                          when given); no time limit by default.
                          A telegram of 0 bytes cannot be told apart from
                          "nothing received" (the library gives 0 for both):
                          it is taken from the server but not shown.
                          Beside applications that fetch too, each telegram
                          reaches exactly one of them, whole.
  stop                    Gives the server the stop order (shutdown_request
                          1) and waits until it has gone: its segment is
                          removed and its process has ended. Its shutdown
                          marks are shown when they are seen.
      --timeout SECONDS   Time limit (default 15).
  text CODE               The English and German texts of a result code.

Options:
  -f, --rc FILE           The rc-file (default ./qo3964.rc, as the server's).
      --handle N          The library handle to use, 0 to 9 (default 0).
      --lang en|de|both   Language of the result texts (default en; text
                          shows both unless --lang is given).
  -h, --help              This text.
  -V, --version           The version of the tool and its client library.
Options may stand before or after the command; --name=value works too,
and so does any unambiguous start of a long name. "--" ends the options.
An argument that begins with "-" and a digit is no option: text -67.
A time limit of 0 seconds waits without limit; at most 3600 are allowed.

Exit status:
  0  success
  1  the server, the client library or the line reported a failure (no
     server, rc-file missing or wrong, bad handle, send not acknowledged,
     time-out, receive error, server shut down); status: no server runs
  2  the command line was refused (unknown command or option, bad hex, a
     telegram over 4096 bytes, a bad number); nothing was done
Messages go to standard error, beginning "qo3964_ctl: ".
)";

}  // namespace

void print_help()
{
    std::fputs(HELP_TEXT, stdout);
}

void print_version()
{
    std::array<char, 8> version{};
    std::printf("qo3964_ctl %s (client library %s)\n", QO3964_VERSION_STRING, qo7_version(version.data()));
}

}  // namespace qoctl
