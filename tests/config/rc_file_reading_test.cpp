// SPDX-License-Identifier: MIT
// Reading whole rc-files: line counting, combined result, closing the
// stream, echo and confirmations by level, long and odd lines.
#include <string>

#include "rc_fixture.h"

using namespace qo3964;

namespace qotest {
namespace {

using RcReadFile = RcFixture;

TEST_F(RcReadFile, EmptyOrCommentOnlyFilesKeepEveryDefault)
{
    EXPECT_EQ(read(""), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(line_number, 0);

    EXPECT_EQ(read("# qo3964 settings\n\n#PORT /dev/ttyS0\n   \n\t\t\n  # BAUD 300\n"), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(line_number, 6);
    EXPECT_EQ(link_settings, LinkSettings{});
}

TEST_F(RcReadFile, BlankLinesAreCountedInLineNumbers)
{
    EXPECT_EQ(read("\n   \n\t\t\nBAUD 300\n"), -1);
    EXPECT_EQ(out, report("   4", "BAUD 300\n", "BAUD illegal value 300"));
    EXPECT_EQ(line_number, 4);
}

TEST_F(RcReadFile, ReportsEveryRefusedLineWithRightAlignedNumbers)
{
    const std::string file =
        "PORT /dev/ttyS0\n"
        "BAUD 19200\n"
        "PARITY even\n"
        "FLOW OFF\n"
        "ZVZ 100\n"
        "QVZ 1000\n"
        "TDS 3\n"
        "TDR 3\n"
        "baud 9600\n"
        "MMODE 1\n";
    EXPECT_EQ(read(file), -1);
    EXPECT_EQ(out, report("   3", "PARITY even\n", "PARITY illegal value even") +
                       report("   9", "baud 9600\n", "cannot evaluate line:") + ">baud 9600\n<\n");
    // Reading went on after the refusals; accepted values stay.
    EXPECT_EQ(link_settings.baud, 19200);
    EXPECT_EQ(link_settings.mmode, 1);
    EXPECT_EQ(link_settings.parity, 'E');
}

TEST_F(RcReadFile, LineNumbersBeyondNineAndBeyondFourPlaces)
{
    std::string file;
    for (int i = 1; i < 12; ++i) {
        file += "# comment\n";
    }
    file += "DEBUG 11\n";
    EXPECT_EQ(read(file), -1);
    EXPECT_EQ(out, report("  12", "DEBUG 11\n", "DEBUG illegal value 11"));

    file.clear();
    for (int i = 1; i < 12345; ++i) {
        file += "\n";
    }
    file += "ZVZ 0\n";
    EXPECT_EQ(read(file), -1);
    EXPECT_EQ(out, report("12345", "ZVZ 0\n", "ZVZ illegal value 0"));
}

TEST_F(RcReadFile, ResultsAreCombinedAndTheStreamIsClosedEitherWay)
{
    // read() checks that the stream was closed.
    EXPECT_EQ(read("BAUD 300\nBAUD 1200\n"), -1);
    EXPECT_EQ(read("BAUD 1200\nBAUD 300\nBAUD 2400\n"), -1);
    EXPECT_EQ(link_settings.baud, 2400);
    EXPECT_EQ(read("BAUD 1200\nBAUD 4800\n"), 0);
    EXPECT_EQ(link_settings.baud, 4800);
}

TEST_F(RcReadFile, LaterLinesWin)
{
    EXPECT_EQ(read("IODEBUG ON\nBAUD 1200\nIODEBUG OFF\nBAUD 57600\n"), 0);
    EXPECT_EQ(link_settings.io_debug, 0);
    EXPECT_EQ(link_settings.baud, 57600);
}

TEST_F(RcReadFile, AcceptedLinesAreSilentAtLevelZero)
{
    EXPECT_EQ(read("PORT /dev/ttyS0\nBAUD 19200\nZVZ 50\nMAXTRANS 5\nDEBUG 0\n"), 0);
    EXPECT_EQ(out, "");
}

TEST_F(RcReadFile, ConfirmationsFollowADebugLine)
{
    EXPECT_EQ(read("BAUD 1200\nDEBUG 3\nBAUD 19200\nPARITY O\nZVZ 10ms\nBCC_MODE 0\n"), 0);
    EXPECT_EQ(out,
              "   Debuglevel set to 3\n"
              "   Baudrate set to 19200\n"
              "   Parity set to O\n"
              "   ZVZ set to  10ms ms\n"
              "   BCC set to  0 \n");
}

TEST_F(RcReadFile, EchoStartsWithTheLineAfterDebugEight)
{
    EXPECT_EQ(read("BAUD 1200\nDEBUG 8\nBAUD 2400\n# note\n\nbaud 1\n"), -1);
    EXPECT_EQ(out,
              "   Debuglevel set to 8\n"
              "BAUD 2400\n"
              "   Baudrate set to 2400\n"
              "# note\n"
              "\n"
              "baud 1\n" +
                  report("   6", "baud 1\n", "cannot evaluate line:") + ">baud 1\n<\n");
}

TEST_F(RcReadFile, NoEchoAtSevenAndNoneAfterLoweringTheLevel)
{
    EXPECT_EQ(read("DEBUG 7\nBAUD 2400\n"), 0);
    EXPECT_EQ(out, "   Debuglevel set to 7\n   Baudrate set to 2400\n");

    // The lowering line is still echoed; its own confirmation is not shown.
    EXPECT_EQ(read("DEBUG 9\nDEBUG 0\nBAUD 4800\n"), 0);
    EXPECT_EQ(out, "   Debuglevel set to 9\nDEBUG 0\n");
}

TEST_F(RcReadFile, QvzIsTestedAgainstTheZvzInEffect)
{
    EXPECT_EQ(read("QVZ 200\n"), -1);
    EXPECT_EQ(out, report("   1", "QVZ 200\n", "QVZ must be greater than ZVZ"));
    EXPECT_EQ(link_settings.qvz, 2000);

    link_settings = LinkSettings{};
    EXPECT_EQ(read("QVZ 220\nQVZ 221\n"), -1);
    EXPECT_EQ(out, report("   1", "QVZ 220\n", "QVZ must be greater than ZVZ"));
    EXPECT_EQ(link_settings.qvz, 221);

    // A ZVZ line is never tested against QVZ.
    link_settings = LinkSettings{};
    EXPECT_EQ(read("QVZ 2000\nZVZ 3000\n"), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(link_settings.zvz, 3000);
    EXPECT_EQ(link_settings.qvz, 2000);

    link_settings = LinkSettings{};
    EXPECT_EQ(read("ZVZ 10\nQVZ 200\n"), 0);
    EXPECT_EQ(link_settings.qvz, 200);

    link_settings = LinkSettings{};
    EXPECT_EQ(read("ZVZ 500\nQVZ 300\n"), -1);
    EXPECT_EQ(out, report("   2", "QVZ 300\n", "QVZ must be greater than ZVZ"));

    // Below 1 is an illegal value, whatever ZVZ is.
    link_settings = LinkSettings{};
    EXPECT_EQ(read("QVZ 0\n"), -1);
    EXPECT_EQ(out, report("   1", "QVZ 0\n", "QVZ illegal value 0"));
}

TEST_F(RcReadFile, CrLfLineEndsReadLikeLf)
{
    EXPECT_EQ(read("PORT /dev/ttyS0\r\nPARITY EVEN\r\nFLOW ON\r\n\r\n  \r\nIODEBUG ON\r\nSHMNAME /tmp/x.shm\r\n"), 0);
    EXPECT_EQ(out, "");
    EXPECT_STREQ(link_settings.port_path, "/dev/ttyS0");
    EXPECT_STREQ(link_settings.shm_name, "/tmp/x.shm");
    EXPECT_EQ(link_settings.parity, 'E');
    EXPECT_EQ(link_settings.flow, 'Y');
    EXPECT_EQ(link_settings.io_debug, 1);
}

TEST_F(RcReadFile, LastLineWithoutLineEnd)
{
    EXPECT_EQ(read("BAUD 1200\nBAUD 19200"), 0);
    EXPECT_EQ(link_settings.baud, 19200);
    EXPECT_EQ(line_number, 2);

    // The report still gives the line a console line of its own.
    EXPECT_EQ(read("BAUD 300"), -1);
    EXPECT_EQ(out, report("   1", "BAUD 300\n", "BAUD illegal value 300"));
}

TEST_F(RcReadFile, LineLongerThanOneReadIsRefusedAsAWhole)
{
    // 600 characters: a read takes 509 of them; the rest, here a valid
    // setting on its own, must not be evaluated as a line.
    const std::string head = "PORT /dev/ttyS0 " + std::string(600 - 16 - 11, 'x') + " ";
    const std::string line = head + "BAUD 57600\n";
    ASSERT_EQ(line.size(), 601U);
    EXPECT_EQ(read("BAUD 1200\n" + line + "BAUD 300\n"), -1);
    EXPECT_EQ(out, report("   2", line.substr(0, 509) + "\n", "line longer than 255 characters") +
                       report("   3", "BAUD 300\n", "BAUD illegal value 300"));
    EXPECT_EQ(line_number, 3);
    EXPECT_EQ(link_settings.baud, 1200);
    EXPECT_STREQ(link_settings.port_path, "/dev/ttyS1");
}

TEST_F(RcReadFile, LineOfExactlyOneReadAndItsLineEnd)
{
    // 509 characters and the LF: the LF alone must not count as a line.
    const std::string line = "PORT " + std::string(504, 'p') + "\n";
    EXPECT_EQ(read(line + "BAUD 300\n"), -1);
    EXPECT_EQ(out, report("   1", line, "line longer than 255 characters") +
                       report("   2", "BAUD 300\n", "BAUD illegal value 300"));
}

TEST_F(RcReadFile, TextBeyondOneReadCountsEvenAfterManyBlanks)
{
    // What one read keeps would trim to a valid line; the rest is not blank.
    const std::string kept = "BAUD 19200" + std::string(499, ' ');
    EXPECT_EQ(read(kept + "   x\n"), -1);
    EXPECT_EQ(out, report("   1", kept + "\n", "line longer than 255 characters"));
    EXPECT_EQ(read(kept + " \r \n"), -1);
    EXPECT_EQ(link_settings.baud, 9600);
}

TEST_F(RcReadFile, LongLinesOfTrailingBlanksOrCommentsAreAccepted)
{
    const std::string blanks = "BAUD 19200" + std::string(700, ' ') + "\r\n";
    const std::string comment = "# " + std::string(1200, '=') + " BAUD 300\n";
    EXPECT_EQ(read(blanks + comment + "PARITY N\n"), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(line_number, 3);
    EXPECT_EQ(link_settings.baud, 19200);
    EXPECT_EQ(link_settings.parity, 'N');
}

TEST_F(RcReadFile, LongLineIsEchoedWhole)
{
    const std::string line = "# " + std::string(800, '-') + "\n";
    EXPECT_EQ(read("DEBUG 8\n" + line + "BAUD 2400\n"), 0);
    EXPECT_EQ(out, "   Debuglevel set to 8\n" + line + "BAUD 2400\n   Baudrate set to 2400\n");
}

TEST_F(RcReadFile, LineHoldingANulByteIsRefused)
{
    const std::string line = std::string("BAUD 19200") + '\0' + "garbage\n";
    EXPECT_EQ(read("# a comment may hold one" + std::string(1, '\0') + "\n" + line), -1);
    EXPECT_EQ(out, report("   2", "BAUD 19200\n", "line holds a NUL character"));
    EXPECT_EQ(link_settings.baud, 9600);
}

}  // namespace
}  // namespace qotest
