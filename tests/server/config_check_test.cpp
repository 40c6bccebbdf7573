// SPDX-License-Identifier: MIT
// qo3964_server --check RC-FILE: the rc-file read as a start reads it, what
// the server would use, and whether the files it names are usable; exit
// status 0 or 1, and nothing of a start done.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "server_harness.h"
#include "test_segment.h"

namespace {

using namespace qotest;

struct CheckCase {
    const char* name;
    std::function<std::string(const ServerHarness&)> rc_lines;  // after PORT and SHMNAME
    int status;
    std::vector<std::string> shown;  // lines the check prints
};

TEST(ConfigCheck, TellsAUsableRcFileFromOneThatIsNot)
{
    const std::vector<CheckCase> rows{
        {"usable", [](const ServerHarness& s) { return "BAUD 19200\nTRACEFILE " + s.dir().file("line.trace") + "\n"; },
         0,
         {"line: 19200 baud, parity E, 8 data bits, 1 stop bit, RTS/CTS flow control off",
          "procedure: 3964R (with BCC), ZVZ 220 ms, QVZ 2000 ms, TDS 6, TDR 6, MMODE 0", "result: usable"}},
        {"a refused line", [](const ServerHarness&) { return std::string("BAUD 300\n"); }, 1,
         {"  ERROR line    3: BAUD 300", "  ERROR >>>>>>> BAUD illegal value 300",
          "problem: refused lines (the start would stop with [4])", "result: not usable"}},
        {"no port", [](const ServerHarness& s) { return "PORT " + s.dir().file("tty") + "\n"; }, 1,
         {}},
        {"a port that is no terminal", [](const ServerHarness&) { return std::string("PORT /dev/null\n"); }, 1,
         {"problem: port /dev/null: not a terminal"}},
        {"no key file", [](const ServerHarness& s) { return "SHMNAME " + s.dir().file("none") + "\n"; }, 1, {}},
        {"a trace in no directory",
         [](const ServerHarness& s) { return "TRACEFILE " + s.dir().file("none/line.trace") + "\n"; }, 1, {}},
    };
    for (const CheckCase& row : rows) {
        SCOPED_TRACE(row.name);
        ServerHarness server;
        write_file(server.rc_file(), read_file(server.rc_file()) + row.rc_lines(server));
        Process check({program_path("qo3964_server"), "--check", server.rc_file()});
        EXPECT_EQ(check.wait_exit(15000), row.status) << check.out() << check.err();
        const std::vector<std::string> lines = lines_of(check.out());
        for (const std::string& line : row.shown) {
            EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line << "\n" << check.out();
        }
        if (row.status == 0) {
            EXPECT_NE(check.out().find("port: " + server.pty().slave_path() + ", a terminal this account may open\n"),
                      std::string::npos);
        } else {
            EXPECT_NE(check.out().find("problem: "), std::string::npos) << check.out();
        }
        // Nothing of a start: no lockfile, no segment, no trace file.
        EXPECT_FALSE(file_exists(server.lockfile()));
        EXPECT_FALSE(segment_exists(server.shm_file()));
        EXPECT_FALSE(file_exists(server.dir().file("line.trace")));
    }
}

}  // namespace
