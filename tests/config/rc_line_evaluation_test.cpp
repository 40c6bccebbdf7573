// SPDX-License-Identifier: MIT
// Evaluating single lines: separators, keys, accepted and refused values,
// the reports and confirmations they print, and the limits of a line.
#include <string>
#include <vector>

#include "rc_fixture.h"

using namespace qo3964;

namespace qotest {
namespace {

using RcEvalLine = RcFixture;

// The report of a refused line evaluated on its own (line_number 0).
std::string report(const std::string& line, const std::string& rest)
{
    return qotest::report("   0", line, rest);
}

TEST_F(RcEvalLine, CommentsAndBlankLines)
{
    for (const char* line : {"#PORT /dev/ttyS0\n", "# PORT /dev/ttyS0\n", " \t;,#BAUD 300\n", "\n", "   \n",
                             "\t\t\n", "", ",;,\n", "\r\n"}) {
        SCOPED_TRACE(line);
        EXPECT_EQ(eval(line), 0);
        EXPECT_EQ(out, "");
    }
    EXPECT_EQ(link_settings, LinkSettings{});
}

TEST_F(RcEvalLine, HashAfterTheKeyIsNoComment)
{
    EXPECT_EQ(eval("PORT /dev/ttyS0 # main line\n"), 0);
    EXPECT_STREQ(link_settings.port_path, "/dev/ttyS0");

    EXPECT_EQ(eval("PORT #main\n"), 0);
    EXPECT_STREQ(link_settings.port_path, "#main");
}

TEST_F(RcEvalLine, BlankCommaAndSemicolonSeparate)
{
    for (const char* line : {"BAUD 19200\n", "BAUD,19200\n", "BAUD;19200\n", "BAUD\t19200\n", "  BAUD ,; 19200 \n"}) {
        SCOPED_TRACE(line);
        link_settings.baud = 1200;
        EXPECT_EQ(eval(line), 0);
        EXPECT_EQ(link_settings.baud, 19200);
    }
}

TEST_F(RcEvalLine, UnrecognisedKeysShowTheRawLine)
{
    EXPECT_EQ(eval("BAUD=9600\n"), -1);
    EXPECT_EQ(out, report("BAUD=9600\n", "cannot evaluate line:") + ">BAUD=9600\n<\n");

    line_number = 27;
    EXPECT_EQ(eval("baud 9600\r\n"), -1);
    EXPECT_EQ(out, "  ERROR line   27: baud 9600\r\n  ERROR >>>>>>> cannot evaluate line:\n\n>baud 9600\r\n<\n");

    for (const char* line : {"Port /dev/ttyS0\n", "BAUDRATE 9600\n", "BAU 9600\n", "X\n"}) {
        SCOPED_TRACE(line);
        EXPECT_EQ(eval(line), -1);
    }
    EXPECT_EQ(link_settings, LinkSettings{});
}

TEST_F(RcEvalLine, ThirdAndFurtherTokensAreIgnored)
{
    EXPECT_EQ(eval("BAUD 19200 38400 and, more; tokens 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20\n"), 0);
    EXPECT_EQ(link_settings.baud, 19200);
}

TEST_F(RcEvalLine, BaudRates)
{
    for (int rate : {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200}) {
        SCOPED_TRACE(rate);
        link_settings.baud = 0;
        EXPECT_EQ(eval("BAUD " + std::to_string(rate) + "\n"), 0);
        EXPECT_EQ(link_settings.baud, rate);
    }
    link_settings.baud = 1200;
    EXPECT_EQ(eval("BAUD 9600baud\n"), 0);
    EXPECT_EQ(link_settings.baud, 9600);

    for (const char* value : {"300", "0", "-9600", "9601", "230400", "fast", "+-9600"}) {
        SCOPED_TRACE(value);
        EXPECT_EQ(eval(std::string("BAUD ") + value + "\n"), -1);
        EXPECT_EQ(out, report(std::string("BAUD ") + value + "\n", std::string("BAUD illegal value ") + value));
    }
    EXPECT_EQ(link_settings.baud, 9600);
}

TEST_F(RcEvalLine, ParityAndFlowWords)
{
    const std::vector<std::pair<const char*, char>> parities{{"EVEN", 'E'}, {"E", 'E'}, {"ODD", 'O'},
                                                             {"O", 'O'},    {"NONE", 'N'}, {"N", 'N'}};
    for (const auto& [word, code] : parities) {
        SCOPED_TRACE(word);
        link_settings.parity = '?';
        EXPECT_EQ(eval(std::string("PARITY ") + word + "\n"), 0);
        EXPECT_EQ(link_settings.parity, code);
    }
    EXPECT_EQ(eval("FLOW ON\n"), 0);
    EXPECT_EQ(link_settings.flow, 'Y');
    EXPECT_EQ(eval("FLOW OFF\n"), 0);
    EXPECT_EQ(link_settings.flow, 'N');

    link_settings = LinkSettings{};
    EXPECT_EQ(eval("PARITY even\n"), -1);
    EXPECT_EQ(out, report("PARITY even\n", "PARITY illegal value even"));
    EXPECT_EQ(eval("FLOW on\n"), -1);
    EXPECT_EQ(out, report("FLOW on\n", "FLOW illegal value on"));
    for (const char* line : {"PARITY EVENT\n", "PARITY 1\n", "FLOW Y\n", "FLOW ONN\n"}) {
        SCOPED_TRACE(line);
        EXPECT_EQ(eval(line), -1);
    }
    EXPECT_EQ(link_settings, LinkSettings{});
}

TEST_F(RcEvalLine, IoDebugWords)
{
    EXPECT_EQ(eval("IODEBUG ON\n"), 0);
    EXPECT_EQ(link_settings.io_debug, 1);
    EXPECT_EQ(eval("IODEBUG OFF\n"), 0);
    EXPECT_EQ(link_settings.io_debug, 0);
    EXPECT_EQ(eval("IODEBUG 1\n"), -1);
    EXPECT_EQ(out, report("IODEBUG 1\n", "IODEBUG illegal value 1"));
    EXPECT_EQ(link_settings.io_debug, 0);
}

TEST_F(RcEvalLine, DebugLevels)
{
    EXPECT_EQ(eval("DEBUG 11\n"), -1);
    EXPECT_EQ(out, report("DEBUG 11\n", "DEBUG illegal value 11"));
    EXPECT_EQ(eval("DEBUG -1\n"), -1);
    EXPECT_EQ(out, report("DEBUG -1\n", "DEBUG illegal value -1"));
    EXPECT_EQ(link_settings.debug_level, 0);

    EXPECT_EQ(eval("DEBUG 10\n"), 0);
    EXPECT_EQ(out, "   Debuglevel set to 10\n");
    EXPECT_EQ(link_settings.debug_level, 10);

    // No leading digits: level 0, whose confirmation is no longer shown.
    EXPECT_EQ(eval("DEBUG abc\n"), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(link_settings.debug_level, 0);
}

TEST_F(RcEvalLine, DelayTimes)
{
    EXPECT_EQ(eval("ZVZ 0\n"), -1);
    EXPECT_EQ(out, report("ZVZ 0\n", "ZVZ illegal value 0"));
    EXPECT_EQ(link_settings.zvz, 220);

    link_settings.debug_level = 1;
    EXPECT_EQ(eval("ZVZ 10ms\n"), 0);
    EXPECT_EQ(out, "   ZVZ set to  10ms ms\n");
    EXPECT_EQ(link_settings.zvz, 10);

    EXPECT_EQ(eval("QVZ 500\n"), 0);
    EXPECT_EQ(out, "   QVZ set to  500 ms\n");
    EXPECT_EQ(link_settings.qvz, 500);

    EXPECT_EQ(eval("QVZ 10\n"), -1);
    EXPECT_EQ(out, report("QVZ 10\n", "QVZ must be greater than ZVZ"));
    EXPECT_EQ(link_settings.qvz, 500);
}

TEST_F(RcEvalLine, BccAndMasterMode)
{
    EXPECT_EQ(eval("BCC_MODE 2\n"), -1);
    EXPECT_EQ(out, report("BCC_MODE 2\n", "BCC_MODE must be 0 or 1"));
    EXPECT_EQ(eval("BCC_MODE -1\n"), -1);
    EXPECT_EQ(out, report("BCC_MODE -1\n", "BCC_MODE must be 0 or 1"));
    EXPECT_EQ(link_settings.bcc_mode, 1);

    EXPECT_EQ(eval("MMODE 2\n"), -1);
    EXPECT_EQ(out, report("MMODE 2\n", "MMODE illegal value 2"));
    EXPECT_EQ(link_settings.mmode, 0);

    link_settings.debug_level = 1;
    EXPECT_EQ(eval("BCC_MODE 0\n"), 0);
    EXPECT_EQ(out, "   BCC set to  0 \n");
    EXPECT_EQ(link_settings.bcc_mode, 0);
    EXPECT_EQ(eval("MMODE 1\n"), 0);
    EXPECT_EQ(out, "   Mastermode set to 1\n");
    EXPECT_EQ(link_settings.mmode, 1);
}

TEST_F(RcEvalLine, RepetitionsMustFitSixteenBits)
{
    link_settings.debug_level = 1;
    EXPECT_EQ(eval("TDS 32767\n"), 0);
    EXPECT_EQ(out, "   repetitions of Sending set to 32767\n");
    EXPECT_EQ(eval("TDR 1\n"), 0);
    EXPECT_EQ(out, "   repetitions of Receiving set to 1\n");
    const LinkSettings before = link_settings;

    // 65537 would become 1 if cut to 16 bits, 32768 negative.
    for (const char* line : {"TDS 32768\n", "TDS 65537\n", "TDS 99999999999999\n", "TDS 0\n", "TDR 65542\n",
                             "TDR 0\n", "TDR -3\n", "MMODE 65537\n"}) {
        SCOPED_TRACE(line);
        EXPECT_EQ(eval(line), -1);
    }
    EXPECT_EQ(out, report("MMODE 65537\n", "MMODE illegal value 65537"));
    EXPECT_EQ(link_settings, before);
}

TEST_F(RcEvalLine, MaxtransConfirmsAndChangesNothing)
{
    link_settings.debug_level = 1;
    const LinkSettings before = link_settings;
    EXPECT_EQ(eval("MAXTRANS 5\n"), 0);
    EXPECT_EQ(out, "   line quality count-base set to 5\n");
    EXPECT_EQ(eval("MAXTRANS 0\n"), -1);
    EXPECT_EQ(out, report("MAXTRANS 0\n", "MAXTRANS illegal value 0"));
    EXPECT_EQ(link_settings, before);
}

TEST_F(RcEvalLine, ClientKeysAreAcceptedSilently)
{
    link_settings.debug_level = 3;
    const LinkSettings before = link_settings;
    for (const char* line : {"CLIENTDEBUG 5\n", "MAILTO plc@example.org\n", "MAILTO\n", "CLIENTDEBUG\n",
                             "CLIENTDEBUG -77 x\n"}) {
        SCOPED_TRACE(line);
        EXPECT_EQ(eval(line), 0);
        EXPECT_EQ(out, "");
    }
    EXPECT_EQ(link_settings, before);
}

TEST_F(RcEvalLine, PathsAndTheirConfirmations)
{
    link_settings.debug_level = 1;
    EXPECT_EQ(eval("PORT /dev/ttyUSB0\n"), 0);
    EXPECT_EQ(out, "   serial port set to /dev/ttyUSB0\n");
    EXPECT_STREQ(link_settings.port_path, "/dev/ttyUSB0");
    EXPECT_EQ(eval("SHMNAME /home/plc/link.shm\n"), 0);
    EXPECT_EQ(out, "   shared memory namefile set to /home/plc/link.shm\n");
    EXPECT_STREQ(link_settings.shm_name, "/home/plc/link.shm");
}

TEST_F(RcEvalLine, AccessControlKeys)
{
    link_settings.debug_level = 1;
    EXPECT_EQ(eval("ACCESS 0660\n"), 0);
    EXPECT_EQ(out, "   access mode set to 0660\n");
    EXPECT_EQ(link_settings.access_mode, 0660);
    EXPECT_EQ(eval("GROUP root\n"), 0);
    EXPECT_EQ(out, "   access group set to root\n");
    EXPECT_EQ(link_settings.group_id, 0);
    EXPECT_EQ(eval("SERVERUSER root\n"), 0);
    EXPECT_EQ(out, "   server user set to root\n");
    EXPECT_EQ(link_settings.server_uid, 0);
    // Execute and special bits, non-octal digits, unknown names.
    for (const char* line : {"ACCESS 0770\n", "ACCESS 4660\n", "ACCESS 0689\n", "ACCESS 660x\n", "ACCESS 00660\n",
                             "GROUP no-such-group-qo3964\n", "SERVERUSER no-such-account-qo3964\n"}) {
        SCOPED_TRACE(line);
        const std::string text(line);
        const std::string key = text.substr(0, text.find(' '));
        EXPECT_EQ(eval(line), -1);
        EXPECT_EQ(out, report(text, key + " illegal value " + text.substr(key.size() + 1, text.size() - key.size() - 2)));
    }
    EXPECT_EQ(link_settings.access_mode, 0660);
}

TEST_F(RcEvalLine, ConfirmationsAtLevelOne)
{
    link_settings.debug_level = 1;
    EXPECT_EQ(eval("IODEBUG ON\n"), 0);
    EXPECT_EQ(out, "   In-/Output-Debug set to ON\n");
    EXPECT_EQ(eval("FLOW ON\n"), 0);
    EXPECT_EQ(out, "   Flow control set to ON\n");
    EXPECT_EQ(eval("PARITY ODD\n"), 0);
    EXPECT_EQ(out, "   Parity set to ODD\n");
    EXPECT_EQ(eval("BAUD 4800bd\n"), 0);
    EXPECT_EQ(out, "   Baudrate set to 4800bd\n");
}

TEST_F(RcEvalLine, KeyWithoutValueIsRefusedNotFilledFromAnEarlierLine)
{
    EXPECT_EQ(eval("PARITY O\n"), 0);
    const LinkSettings before = link_settings;
    for (const char* key : {"DEBUG", "IODEBUG", "PORT", "BAUD", "PARITY", "FLOW", "ZVZ", "QVZ", "BCC_MODE", "MMODE",
                            "TDS", "TDR", "MAXTRANS", "SHMNAME"}) {
        SCOPED_TRACE(key);
        EXPECT_EQ(eval(std::string(key) + "\n"), -1);
        EXPECT_EQ(out, report(std::string(key) + "\n", std::string(key) + " illegal value "));
        EXPECT_EQ(eval(std::string(key) + " ;, \t \r\n"), -1);
    }
    EXPECT_EQ(link_settings, before);
}

TEST_F(RcEvalLine, CrLfLineEnds)
{
    EXPECT_EQ(eval("PORT /dev/ttyS3\r\n"), 0);
    EXPECT_STREQ(link_settings.port_path, "/dev/ttyS3");
    EXPECT_EQ(eval("PARITY EVEN\r\n"), 0);
    EXPECT_EQ(eval("IODEBUG ON\r\n"), 0);
    EXPECT_EQ(link_settings.io_debug, 1);
    // A CR with nothing behind it is trimmed like the LF.
    EXPECT_EQ(eval("FLOW ON\r"), 0);
    EXPECT_EQ(link_settings.flow, 'Y');
}

TEST_F(RcEvalLine, LineLengthLimit)
{
    // 255 characters after trimming are taken, trailing blanks do not count.
    const std::string path(127, 'p');
    const std::string fits = "PORT " + path + " " + std::string(122, 'c');
    ASSERT_EQ(fits.size(), 255U);
    EXPECT_EQ(eval(fits + "      \n"), 0);
    EXPECT_EQ(link_settings.port_path, path);

    link_settings = LinkSettings{};
    const std::string longer = fits + "c\n";
    EXPECT_EQ(eval(longer), -1);
    EXPECT_EQ(out, report(longer, "line longer than 255 characters"));
    EXPECT_EQ(link_settings, LinkSettings{});

    // Longer than the copies of a line: still refused, not cut to a valid one.
    const std::string huge = "BAUD 19200 " + std::string(900, ',') + "\n";
    EXPECT_EQ(eval(huge), -1);
    EXPECT_EQ(link_settings, LinkSettings{});

    // A comment has no limit.
    EXPECT_EQ(eval("#" + std::string(400, '#') + "\n"), 0);
}

TEST_F(RcEvalLine, TokenLengthLimit)
{
    const std::string value(128, 'v');
    EXPECT_EQ(eval("SHMNAME " + value + "\n"), -1);
    EXPECT_EQ(out, report("SHMNAME " + value + "\n", "value longer than 127 characters"));
    // Cut to 127 characters, this value would read as 9600.
    EXPECT_EQ(eval("BAUD 9600" + std::string(124, 'x') + "\n"), -1);
    EXPECT_EQ(link_settings, LinkSettings{});

    const std::string key(128, 'K');
    EXPECT_EQ(eval(key + " 1\n"), -1);
    EXPECT_EQ(out, report(key + " 1\n", "key longer than 127 characters"));

    // An ignored token may be longer.
    EXPECT_EQ(eval("SHMNAME " + std::string(127, 's') + " " + std::string(119, 'x') + "\n"), 0);
    EXPECT_EQ(link_settings.shm_name, std::string(127, 's'));
    EXPECT_EQ(eval("BAUD 19200 " + std::string(200, 'x') + "\n"), 0);
    EXPECT_EQ(link_settings.baud, 19200);
}

}  // namespace
}  // namespace qotest
