// SPDX-License-Identifier: MIT
// The qo3964_partner program, run as a child process.
#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

#include "hex_text.h"
#include "server_end.h"

namespace partnertest {
namespace {

using qopartner::parse_hex;
using qotest::Process;

const std::string program = qotest::program_path("qo3964_partner");

std::vector<std::string> command(std::vector<std::string> args)
{
    args.insert(args.begin(), program);
    return args;
}

// The path from the first line "PTY <path>" (or "DEVICE <path>").
std::string line_path(const Process& partner, const std::string& word)
{
    if (!partner.wait_for_output("\n", 5000)) {
        return "";
    }
    const std::string out = partner.out();
    const std::string first = out.substr(0, out.find('\n'));
    if (first.rfind(word + " ", 0) != 0) {
        return "";
    }
    return first.substr(word.size() + 1);
}

TEST(PartnerProgram, HelpExplainsEveryOption)
{
    Process partner(command({"--help"}));
    ASSERT_EQ(partner.wait_exit(5000), 0);
    const std::string out = partner.out();
    EXPECT_EQ(out.rfind("Usage: qo3964_partner", 0), 0u);
    for (const char* word :
         {"--device", "--baud", "--parity", "--line-speed", "--link", "--3964", "--zvz", "--qvz", "--attempts", "--priority", "--echo",
          "--send", "--file", "--stdin", "--repeat", "--interval", "--quit-after-send", "--fault", "--fault-rate",
          "--seed", "--pause-ms", "--stray-byte", "--count", "--duration", "SIGINT", "PTY <path>"}) {
        EXPECT_NE(out.find(word), std::string::npos) << word;
    }
    for (std::string_view kind : qopartner::fault_names) {
        EXPECT_NE(out.find(std::string(kind)), std::string::npos) << kind;
    }
}

TEST(PartnerProgram, VersionIsTheProjectVersion)
{
    Process partner(command({"--version"}));
    ASSERT_EQ(partner.wait_exit(5000), 0);
    EXPECT_EQ(partner.out(), "qo3964_partner " QO3964_PROJECT_VERSION "\n");
}

TEST(PartnerProgram, BadOptionsAndBadHexExitWithTwo)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"01 0g"}, "bad hex telegram on the command line: '01 0g'"},
        {{"--send", "123"}, "bad hex telegram of --send: '123'"},
        {{"--zvz", "ten"}, "--zvz needs a whole number"},
        {{"--zvz", "500", "--qvz", "400"}, "--qvz must be greater than --zvz"},
        {{"--priority", "middle"}, "--priority must be high or low"},
        {{"--fault", "nak"}, "unknown fault 'nak'"},
        {{"--fault-rate", "pause=2"}, "--fault-rate pause needs a number from"},
        {{"--baud", "9600"}, "--baud and --parity apply to --device only"},
        {{"--device", "/dev/null", "--baud", "300"}, "--baud must be 1200"},
        {{"--device", "/dev/null", "--line-speed", "9600"}, "--line-speed applies to the pseudo-terminal only"},
        {{"--file", "/nonexistent/telegrams"}, "cannot read the telegram file"},
        {{"--zvz"}, "--zvz needs a value"},
        {{"--", "--help"}, "bad hex telegram on the command line: '--help'"},
    };
    for (const auto& [args, message] : cases) {
        Process partner(command(args));
        EXPECT_EQ(partner.wait_exit(5000), 2) << args[0];
        EXPECT_NE(partner.err().find(message), std::string::npos) << partner.err();
        EXPECT_EQ(partner.out(), "") << args[0];
    }
}

TEST(PartnerProgram, BadLineOfATelegramFileIsNamed)
{
    qotest::TempDir dir;
    qotest::write_file(dir.file("telegrams"), "# two telegrams\n01 02\n\nzz\n");
    Process partner(command({"--file", dir.file("telegrams")}));
    EXPECT_EQ(partner.wait_exit(5000), 2);
    EXPECT_NE(partner.err().find("line 4: 'zz'"), std::string::npos) << partner.err();
}

TEST(PartnerProgram, ReceivesOnItsPtyLogsAndStopsAfterCount)
{
    Process partner(command({"--zvz", "100", "--qvz", "400", "--count", "1"}));
    const std::string path = line_path(partner, "PTY");
    ASSERT_FALSE(path.empty()) << partner.out() << partner.err();
    ServerEnd server(path);
    server.write({0x02});
    EXPECT_EQ(server.read(1), "10");
    server.write(*parse_hex("01 10 10 02 10 03 10"));
    EXPECT_EQ(server.read(1), "10");
    ASSERT_EQ(partner.wait_exit(5000), 0) << partner.err();
    const std::string out = partner.out();
    EXPECT_NE(out.find(" RX 01 10 02\n"), std::string::npos) << out;
    EXPECT_NE(out.find("STATS received=1 "), std::string::npos) << out;
}

TEST(PartnerProgram, SendsItsTelegramsAndQuits)
{
    qotest::TempDir dir;
    qotest::write_file(dir.file("telegrams"), "# from a file\n-\n  AA BB  \n");
    Process partner(command({"--zvz", "100", "--qvz", "400", "--quit-after-send", "011002", "--file",
                             dir.file("telegrams")}));
    const std::string path = line_path(partner, "PTY");
    ASSERT_FALSE(path.empty()) << partner.out() << partner.err();
    ServerEnd server(path);
    for (const char* block : {"01 10 10 02 10 03 10", "10 03 13", "AA BB 10 03 02"}) {
        EXPECT_EQ(server.read(1), "02");
        server.write({0x10});
        EXPECT_EQ(server.read(qopartner::parse_hex(block)->size()), block);
        server.write({0x10});
    }
    ASSERT_EQ(partner.wait_exit(5000), 0) << partner.err();
    const std::string out = partner.out();
    EXPECT_NE(out.find(" TX 01 10 02 acknowledged attempts=1\n"), std::string::npos) << out;
    EXPECT_NE(out.find(" TX - acknowledged attempts=1\n"), std::string::npos) << out;
    EXPECT_NE(out.find(" TX AA BB acknowledged attempts=1\n"), std::string::npos) << out;
    EXPECT_NE(out.find("STATS received=0 rejected=0 attempts=3 sent=3 acknowledged=3 "), std::string::npos) << out;
}

TEST(PartnerProgram, RepeatsWithAnInterval)
{
    Process partner(command({"--zvz", "100", "--qvz", "400", "--quit-after-send", "--repeat", "2", "--interval", "300",
                             "01"}));
    const std::string path = line_path(partner, "PTY");
    ASSERT_FALSE(path.empty());
    ServerEnd server(path);
    EXPECT_EQ(server.read(1), "02");
    server.write({0x10});
    EXPECT_EQ(server.read(4), "01 10 03 12");
    server.write({0x10});
    const auto acknowledged = std::chrono::steady_clock::now();
    EXPECT_EQ(server.read(1), "02");
    EXPECT_GE(elapsed_ms(acknowledged), 280);
    server.write({0x10});
    EXPECT_EQ(server.read(4), "01 10 03 12");
    server.write({0x10});
    EXPECT_EQ(partner.wait_exit(5000), 0);
}

TEST(PartnerProgram, SendsLinesOfStandardInputAndSkipsBadOnes)
{
    // The shell feeds standard input; the program's output is the shell's.
    Process partner({"/bin/sh", "-c",
                     "printf '# comment\\nzz\\n\\n0A 0B\\n' | " + program +
                         " --zvz 100 --qvz 400 --stdin --quit-after-send"});
    const std::string path = line_path(partner, "PTY");
    ASSERT_FALSE(path.empty()) << partner.err();
    ServerEnd server(path);
    EXPECT_EQ(server.read(1), "02");
    server.write({0x10});
    EXPECT_EQ(server.read(5), "0A 0B 10 03 12");
    server.write({0x10});
    EXPECT_EQ(partner.wait_exit(5000), 0);
    EXPECT_NE(partner.err().find("bad hex telegram on standard input, skipped: 'zz'"), std::string::npos)
        << partner.err();
    EXPECT_NE(partner.out().find(" TX 0A 0B acknowledged attempts=1\n"), std::string::npos) << partner.out();
}

TEST(PartnerProgram, FailedSendGivesExitThree)
{
    Process partner(command({"--zvz", "50", "--qvz", "200", "--attempts", "1", "--quit-after-send", "01"}));
    const std::string path = line_path(partner, "PTY");
    ASSERT_FALSE(path.empty());
    ServerEnd server(path);
    EXPECT_EQ(server.read(1), "02");
    EXPECT_EQ(server.read(1), "15");
    EXPECT_EQ(partner.wait_exit(5000), 3);
    EXPECT_NE(partner.out().find(" TX 01 no-connection attempts=1\n"), std::string::npos) << partner.out();
}

TEST(PartnerProgram, FaultOptionsReachThePartner)
{
    Process partner(command({"--zvz", "100", "--qvz", "400", "--fault", "nak-stx=2", "--fault-rate", "nak-end=1"}));
    const std::string path = line_path(partner, "PTY");
    ASSERT_FALSE(path.empty());
    ServerEnd server(path);
    for (const char* answer : {"15", "15", "10"}) {
        server.write({0x02});
        EXPECT_EQ(server.read(1), answer);
    }
    server.write(*parse_hex("01 10 03 12"));
    EXPECT_EQ(server.read(1), "15");
    ASSERT_TRUE(partner.wait_for_output("FAULT nak-end", 5000));
    partner.signal(SIGTERM);
    EXPECT_EQ(partner.wait_exit(5000), 0);
    EXPECT_NE(partner.out().find(" fault-nak-stx=2 fault-nak-end=1 "), std::string::npos) << partner.out();
}

TEST(PartnerProgram, LinkPointsToThePtyAndIsRemovedAtSigint)
{
    qotest::TempDir dir;
    const std::string link = dir.file("port");
    Process partner(command({"--link", link}));
    const std::string path = line_path(partner, "PTY");
    ASSERT_FALSE(path.empty());
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), path);
    partner.signal(SIGINT);
    EXPECT_EQ(partner.wait_exit(5000), 0);
    EXPECT_FALSE(qotest::file_exists(link));
}

TEST(PartnerProgram, LinkRefusesToReplaceARegularFile)
{
    qotest::TempDir dir;
    qotest::write_file(dir.file("port"), "keep me");
    Process partner(command({"--link", dir.file("port")}));
    EXPECT_EQ(partner.wait_exit(5000), 1);
    EXPECT_NE(partner.err().find("exists and is not a symbolic link"), std::string::npos) << partner.err();
    EXPECT_EQ(qotest::read_file(dir.file("port")), "keep me");
}

TEST(PartnerProgram, OpensAGivenDeviceAndEndsAfterDuration)
{
    qotest::PtyPair cable;  // the program takes the slave as its device
    Process partner(command({"--device", cable.slave_path(), "--baud", "19200", "--parity", "N", "--zvz", "100",
                             "--qvz", "400", "--echo", "--duration", "30"}));
    ASSERT_EQ(line_path(partner, "DEVICE"), cable.slave_path()) << partner.err();
    qotest::write_bytes(cable.master(), {0x02});
    EXPECT_EQ(qotest::hex(qotest::read_bytes(cable.master(), 1, 3000)), "10");
    qotest::write_bytes(cable.master(), *parse_hex("FF 10 03 EC"));
    EXPECT_EQ(qotest::hex(qotest::read_bytes(cable.master(), 2, 3000)), "10 02");  // DLE, then the echo's STX
    qotest::write_bytes(cable.master(), {0x10});
    EXPECT_EQ(qotest::hex(qotest::read_bytes(cable.master(), 4, 3000)), "FF 10 03 EC");
    qotest::write_bytes(cable.master(), {0x10});
    ASSERT_TRUE(partner.wait_for_output(" TX FF acknowledged", 5000)) << partner.out();
    partner.signal(SIGTERM);
    EXPECT_EQ(partner.wait_exit(5000), 0);
}

TEST(PartnerProgram, DurationEndsTheRun)
{
    Process partner(command({"--duration", "0.3"}));
    EXPECT_EQ(partner.wait_exit(10000), 0);
    EXPECT_NE(partner.out().find("STATS "), std::string::npos);
}

TEST(PartnerProgram, MissingDeviceExitsWithOne)
{
    Process partner(command({"--device", "/nonexistent/ttyS9"}));
    EXPECT_EQ(partner.wait_exit(5000), 1);
    EXPECT_NE(partner.err().find("cannot open /nonexistent/ttyS9"), std::string::npos) << partner.err();
}

}  // namespace
}  // namespace partnertest
