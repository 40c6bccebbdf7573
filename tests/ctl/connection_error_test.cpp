// SPDX-License-Identifier: MIT
// qo3964_ctl when the library cannot reach a server: each command gives
// the reason in one line and exits with 1.
#include <gtest/gtest.h>

#include "ctl_fixture.h"

namespace ctltest {
namespace {

using qotest::TempDir;
using qotest::write_file;

// The commands that need a server, each in a form that would work with one.
const std::vector<std::vector<std::string>> server_commands{
    {"status"}, {"send", "01"}, {"receive", "--timeout", "1"}, {"stop", "--timeout", "1"}};

// The last line of standard error (the library may report a failed
// system call in a line of its own before it).
std::string last_line(const std::string& text)
{
    const std::vector<std::string> lines = lines_of(text);
    return lines.empty() ? "" : lines.back();
}

void expect_failure_for_all(const std::vector<std::string>& global, const std::string& message,
                            const std::string& workdir = "")
{
    for (const std::vector<std::string>& command : server_commands) {
        std::vector<std::string> args = global;
        args.insert(args.end(), command.begin(), command.end());
        const CtlRun run = run_ctl(args, workdir);
        EXPECT_EQ(run.status, 1) << command.front();
        EXPECT_EQ(run.out, "") << command.front();
        EXPECT_EQ(last_line(run.err), "qo3964_ctl: " + message) << command.front();
    }
}

TEST(CtlConnection, MissingRcFileIsNamed)
{
    TempDir dir;
    const std::string rc = dir.file("missing.rc");
    expect_failure_for_all({"--rc", rc}, "rc-file \"" + rc + "\" cannot be opened: -51 qo7_open_shm(): rc-File not found");
    // Without --rc the server's default in the working directory.
    expect_failure_for_all({}, "rc-file \"./qo3964.rc\" cannot be opened: -51 qo7_open_shm(): rc-File not found",
                           dir.path());
}

TEST(CtlConnection, ErrorInRcFileIsNamed)
{
    TempDir dir;
    const std::string rc = dir.file("bad.rc");
    write_file(rc, "SHMNAME " + dir.file("link.shm") + "\nCLIENTDEBUG 11\n");
    const CtlRun run = run_ctl({"-f", rc, "status"});
    EXPECT_EQ(run.status, 1);
    // The library's own report of the line, then the tool's.
    EXPECT_EQ(run.out, "        ERROR >>>>>>> CLIENTDEBUG illegal value 11\n");
    EXPECT_EQ(run.err, "qo3964_ctl: error in rc-file \"" + rc +
                           "\" (see the ERROR line): -52 qo7_open_shm(): error in rc-file\n");
}

TEST(CtlConnection, NoServerTellsWhatToCheck)
{
    TempDir dir;
    const std::string rc = dir.file("qo3964.rc");
    const std::string key_file = dir.file("link.shm");
    write_file(key_file, "");
    write_file(rc, "SHMNAME " + key_file + "\n");
    expect_failure_for_all({"--rc=" + rc},
                           "no server: it is not running, or its SHMNAME/PORT file differs from \"" + key_file +
                               "\": -53 qo7_open_shm(): cannot connect to the shared memory");

    // Without SHMNAME the PORT device is the key file.
    const std::string port = dir.file("ttyS9");
    write_file(rc, "PORT " + port + "\n");
    expect_failure_for_all({"--rc", rc}, "no server: the SHMNAME/PORT file \"" + port + "\" named in \"" + rc +
                                             "\" does not exist: -53 qo7_open_shm(): cannot connect to the shared "
                                             "memory");
}

TEST(CtlConnection, BadHandleGivesTheLibrarysCode)
{
    TempDir dir;
    const std::string rc = dir.file("qo3964.rc");
    write_file(rc, "SHMNAME " + dir.file("link.shm") + "\n");
    for (const char* handle : {"10", "-1"}) {
        expect_failure_for_all({"--rc", rc, "--handle", handle},
                               std::string("bad handle ") + handle +
                                   " (0 to 9 allowed): -50 invalid server number while using a qo512m (= "
                                   "multiserver) call ");
    }
    // With --lang both the German text follows.
    const CtlRun run = run_ctl({"--rc", rc, "--handle", "10", "--lang", "both", "status"});
    EXPECT_EQ(run.err,
              "qo3964_ctl: bad handle 10 (0 to 9 allowed): -50 invalid server number while using a qo512m (= "
              "multiserver) call  | Ungueltige server-Nummer in einem qo512m-..Aufruf\n");
}

}  // namespace
}  // namespace ctltest
