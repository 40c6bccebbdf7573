// SPDX-License-Identifier: MIT
// qo3964_ctl without a server: help, version, result texts, and command
// lines that are refused before anything is done.
#include <gtest/gtest.h>

#include "ctl_fixture.h"

namespace ctltest {
namespace {

using qotest::TempDir;
using qotest::write_file;

TEST(CtlCommandLine, HelpExplainsEveryCommandAndOption)
{
    const CtlRun run = run_ctl({"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind("Usage: qo3964_ctl", 0), 0u);
    for (const char* word : {"status", "send HEX", "send --file FILE", "receive", "--follow", "--count N", "stop",
                             "text CODE", "--timeout SECONDS", "--rc FILE", "-f, --rc", "./qo3964.rc", "--handle N",
                             "--lang", "--help", "--version", "0 bytes", "shutdown_request", "/tmp/qo_", "SIGTERM",
                             "Exit status", "4096"}) {
        EXPECT_NE(run.out.find(word), std::string::npos) << word;
    }
    EXPECT_EQ(run.err, "");
    // Help wins wherever it stands, also behind a command.
    EXPECT_EQ(run_ctl({"status", "-h"}).out, run.out);
}

TEST(CtlCommandLine, VersionNamesToolAndLibrary)
{
    const CtlRun run = run_ctl({"--version"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "qo3964_ctl " QO3964_PROJECT_VERSION " (client library V 1.0.1)\n");
}

TEST(CtlCommandLine, TextGivesEnglishAndGermanTexts)
{
    CtlRun run = run_ctl({"text", "-67"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out,
              "en: Timeout on sending in serial communication\n"
              "de: Timeout Senden Kommunikationsschicht seriell\n");

    run = run_ctl({"text", "-81"});
    EXPECT_EQ(run.out, "en: 3964: buffer-overflow on receive\nde: 3964: Buffer-\xC3\x9C" "berlauf Empfang\n");
    // Trailing blanks are part of the texts.
    EXPECT_EQ(run_ctl({"text", "-44"}).out,
              "en: IP-link error: undefined S7com error \n"
              "de: IP-Kopplung: unspezifizierter Fehler in S7-Kommunikation \n");
    EXPECT_EQ(run_ctl({"text", "-1601"}).out, "en: unknow error code\nde: Unbekannte Fehlernummer\n");
    EXPECT_EQ(run_ctl({"--lang", "de", "text", "4"}).out, "de: idle, bereit fuer neuen Auftrag\n");
    EXPECT_EQ(run_ctl({"text", "2", "--lang=en"}).out, "en: Write terminated without error\n");
}

TEST(CtlCommandLine, DoubleDashEndsTheOptions)
{
    EXPECT_EQ(run_ctl({"text", "--", "-67"}).out, run_ctl({"text", "-67"}).out);
    const CtlRun run = run_ctl({"--", "status", "--help"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "qo3964_ctl: the command status takes no argument, not \"--help\"\n");
}

// Each refused command line: exit status 2, one line on standard error,
// nothing on standard output.
void expect_refused(const std::vector<std::string>& args, const std::string& message, const std::string& workdir = "")
{
    const CtlRun run = run_ctl(args, workdir);
    std::string shown;
    for (const std::string& arg : args) {
        shown += arg.size() > 40 ? arg.substr(0, 40) + "... " : arg + " ";
    }
    EXPECT_EQ(run.status, 2) << shown;
    EXPECT_EQ(run.out, "") << shown;
    EXPECT_EQ(run.err, "qo3964_ctl: " + message + "\n") << shown;
}

TEST(CtlCommandLine, UnknownCommandsAndOptionsAreRefused)
{
    expect_refused({}, "no command given; see qo3964_ctl --help");
    expect_refused({"start"}, "unknown command \"start\"; the commands are status, send, receive, stop and text");
    expect_refused({"--bogus", "status"}, "unknown option \"--bogus\"; see qo3964_ctl --help");
    expect_refused({"status", "-x"}, "unknown option \"-x\"; see qo3964_ctl --help");
    expect_refused({"status", "--follow"}, "option --follow does not belong to the command status");
    expect_refused({"--timeout", "5", "text", "2"}, "option --timeout does not belong to the command text");
    expect_refused({"stop", "now"}, "the command stop takes no argument, not \"now\"");
    expect_refused({"status", "--help=yes"}, "option --help takes no value");
    expect_refused({"status", "--rc"}, "option --rc needs a value");
}

TEST(CtlCommandLine, BadNumbersAreRefused)
{
    expect_refused({"--handle", "one", "status"}, "option --handle needs a whole number, not \"one\"");
    expect_refused({"receive", "--timeout", "3601"},
                   "option --timeout needs whole seconds from 0 (no limit) to 3600, not \"3601\"");
    expect_refused({"receive", "--timeout", "-1"},
                   "option --timeout needs whole seconds from 0 (no limit) to 3600, not \"-1\"");
    expect_refused({"receive", "--timeout", " 5"},
                   "option --timeout needs whole seconds from 0 (no limit) to 3600, not \" 5\"");
    expect_refused({"receive", "--count", "0"}, "option --count needs a number of telegrams from 1 on, not \"0\"");
    expect_refused({"--lang", "fr", "text", "1"}, "option --lang needs en, de or both, not \"fr\"");
    expect_refused({"text"}, "text needs one result code (e.g. qo3964_ctl text -67)");
    expect_refused({"text", "-67x"}, "text needs a whole number as the result code, not \"-67x\"");
    expect_refused({"text", "2147483648"}, "text needs a whole number as the result code, not \"2147483648\"");
}

TEST(CtlCommandLine, BadHexNamesTheArgument)
{
    expect_refused({"send"}, "send needs the telegram: hex bytes (e.g. 01 10 02) or --file FILE");
    expect_refused({"send", "01", "1G", "02"}, "send: argument 2 \"1G\" is not hex: bad character 'G'");
    expect_refused({"send", "01 10 0"}, "send: argument 1 \"01 10 0\" is not hex: two digits make a byte");
    expect_refused({"send", "0x"}, "send: argument 1 \"0x\" is not hex: two digits make a byte");
    expect_refused({"send", "01", "10\x01"}, "send: argument 2 \"10\x01\" is not hex: bad character 0x01");
    expect_refused({"send", "--file", "/x", "01"}, "send takes either hex bytes or --file, not both");
}

TEST(CtlCommandLine, TelegramOverFourKilobytesIsRefusedBeforeTheServerIsAsked)
{
    // No rc-file here: the refusal must come before the library is asked.
    TempDir dir;
    expect_refused({"send", std::string(2 * 4097, 'A')}, "send: the telegram is longer than 4096 bytes", dir.path());
    expect_refused({"send", std::string(2 * 4096, 'A'), "00"}, "send: the telegram is longer than 4096 bytes",
                   dir.path());
    const std::string file = dir.file("big.bin");
    write_file(file, std::string(4097, '\x10'));
    expect_refused({"send", "--file", file}, "send: \"" + file + "\" is longer than 4096 bytes, the longest telegram",
                   dir.path());
    expect_refused({"send", "--file", dir.file("none.bin")},
                   "send: cannot read \"" + dir.file("none.bin") + "\": No such file or directory", dir.path());
}

}  // namespace
}  // namespace ctltest
