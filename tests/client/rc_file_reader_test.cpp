// SPDX-License-Identifier: MIT
// The library's reading of the rc-file: separators, comments, the three
// keys, the key-file fallback, refused values and line ends.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "client_rc_file.h"
#include "qo3964_client.h"
#include "test_support.h"

namespace {

using qo3964::ClientRcSettings;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

class RcFileReader : public ::testing::Test {
protected:
    void SetUp() override
    {
        debug = 0;
        // A record as open prepares it before reading.
        std::strcpy(settings.device_name, "/dev/ttyS1");
    }
    void TearDown() override { debug = 0; }

    // Writes `contents` as the rc-file and reads it; keeps the console.
    int32_t read(const std::string& contents)
    {
        const std::string path = dir.file("client.rc");
        qotest::write_file(path, contents);
        CaptureStdout();
        const int32_t result = qo3964::read_rcfile(path.c_str(), settings, debug);
        output = GetCapturedStdout();
        return result;
    }

    qotest::TempDir dir;
    ClientRcSettings settings{};
    std::string output;
};

TEST_F(RcFileReader, EmptyFileUsesTheDefaultDeviceAsKeyFile)
{
    EXPECT_EQ(read(""), 0);
    EXPECT_STREQ(settings.device_name, "/dev/ttyS1");
    EXPECT_STREQ(settings.shm_namefile, "/dev/ttyS1");
    EXPECT_EQ(output, "");
}

TEST_F(RcFileReader, BlankLinesCommentsAndServerKeysAreIgnoredSilently)
{
    debug = 5;
    EXPECT_EQ(read("\n   \n\t\t\n,;,;\n# a remark\n#PORT /dev/a\n# PORT /dev/b\n"
                   "DEBUG 99\nBAUD abc\nMAILTO someone\nIODEBUG maybe\nZVZ 0\nBWZ 3\n"
                   "port /dev/c\nPORT=/dev/d\nWHATEVER x y z\n"),
              0);
    EXPECT_STREQ(settings.device_name, "/dev/ttyS1");
    EXPECT_STREQ(settings.shm_namefile, "/dev/ttyS1");
    EXPECT_EQ(output, "");
    EXPECT_EQ(debug, 5);
}

TEST_F(RcFileReader, CommaSemicolonTabAndRunsSeparateKeyAndValue)
{
    for (const char* line : {"PORT,/dev/x\n", "PORT;/dev/x\n", "PORT\t/dev/x\n", " ;PORT , ;\t/dev/x ;\n",
                             "PORT /dev/x # the main line\n", "PORT /dev/x third fourth\n"}) {
        std::strcpy(settings.device_name, "/dev/ttyS1");
        EXPECT_EQ(read(line), 0) << line;
        EXPECT_STREQ(settings.device_name, "/dev/x") << line;
    }
}

TEST_F(RcFileReader, KeyFileIsShmnameElsePortWhateverTheOrder)
{
    EXPECT_EQ(read("PORT /dev/ttyS0\n"), 0);
    EXPECT_STREQ(settings.shm_namefile, "/dev/ttyS0");

    for (const char* contents : {"PORT /dev/ttyS0\nSHMNAME /tmp/x\n", "SHMNAME /tmp/x\nPORT /dev/ttyS0\n"}) {
        ClientRcSettings fresh{};
        std::strcpy(fresh.device_name, "/dev/ttyS1");
        settings = fresh;
        EXPECT_EQ(read(contents), 0);
        EXPECT_STREQ(settings.device_name, "/dev/ttyS0");
        EXPECT_STREQ(settings.shm_namefile, "/tmp/x");
    }
}

TEST_F(RcFileReader, LaterLegalLineWins)
{
    EXPECT_EQ(read("PORT /dev/a\nSHMNAME /tmp/a\nPORT /dev/b\nSHMNAME /tmp/b\nCLIENTDEBUG 3\nCLIENTDEBUG 11\n"),
              -2);
    EXPECT_STREQ(settings.device_name, "/dev/b");
    EXPECT_STREQ(settings.shm_namefile, "/tmp/b");
    EXPECT_EQ(debug, 3);
}

TEST_F(RcFileReader, ClientDebugAcceptsZeroToTen)
{
    EXPECT_EQ(read("CLIENTDEBUG 10\n"), 0);
    EXPECT_EQ(debug, 10);
    EXPECT_EQ(read("CLIENTDEBUG 0\n"), 0);
    EXPECT_EQ(debug, 0);
    EXPECT_EQ(read("CLIENTDEBUG 7x\n"), 0);
    EXPECT_EQ(debug, 7);
    EXPECT_EQ(read("CLIENTDEBUG +4\n"), 0);
    EXPECT_EQ(debug, 4);
    // No digits read as 0, which is legal.
    EXPECT_EQ(read("CLIENTDEBUG abc\n"), 0);
    EXPECT_EQ(debug, 0);
}

TEST_F(RcFileReader, ClientDebugOutOfRangeIsReportedAndTheRestStillRead)
{
    debug = 0;
    EXPECT_EQ(read("CLIENTDEBUG 11\nPORT /dev/x\nSHMNAME /tmp/y\n"), -2);
    EXPECT_EQ(output, "        ERROR >>>>>>> CLIENTDEBUG illegal value 11\n");
    EXPECT_EQ(debug, 0);
    EXPECT_STREQ(settings.device_name, "/dev/x");
    EXPECT_STREQ(settings.shm_namefile, "/tmp/y");

    debug = 2;
    EXPECT_EQ(read("CLIENTDEBUG -1\n"), -2);
    EXPECT_EQ(output, "        ERROR >>>>>>> CLIENTDEBUG illegal value -1\n");
    EXPECT_EQ(debug, 2);
    EXPECT_EQ(read("CLIENTDEBUG 99999999999999999999\n"), -2);
    EXPECT_EQ(debug, 2);
}

TEST_F(RcFileReader, AcceptedValuesAreEchoedAboveLevelZero)
{
    EXPECT_EQ(read("PORT /dev/early\nCLIENTDEBUG 1\nPORT /dev/ttyS0\nSHMNAME /tmp/k\n"), 0);
    // The line that sets the level echoes already; the lines before it not.
    EXPECT_EQ(output,
              "   Debuglevel set to 1\n"
              "   Serial Device Name set to /dev/ttyS0\n"
              "   shared memory namefile set to /tmp/k\n");
}

TEST_F(RcFileReader, RcSetPrintsWordInPlaceOfSetTo)
{
    debug = 1;
    CaptureStdout();
    EXPECT_EQ(qo3964::rc_set("label", "word", "value", debug), 0);
    EXPECT_EQ(qo3964::rc_set("label", nullptr, "value", debug), 0);
    debug = 0;
    EXPECT_EQ(qo3964::rc_set("quiet", nullptr, "value", debug), 0);
    EXPECT_EQ(GetCapturedStdout(), "   label word value\n   label set to value\n");
}

TEST_F(RcFileReader, KeyWithoutValueIsRefused)
{
    for (const char* key : {"PORT", "SHMNAME", "CLIENTDEBUG"}) {
        debug = 0;
        EXPECT_EQ(read(std::string(key) + "\n"), -2) << key;
        EXPECT_EQ(output, "        ERROR >>>>>>> " + std::string(key) + " illegal value \n");
        EXPECT_EQ(read(std::string(key) + " ,;\t\n"), -2) << key;
    }
    EXPECT_STREQ(settings.device_name, "/dev/ttyS1");
    // The fallback still applies after the refusals.
    EXPECT_STREQ(settings.shm_namefile, "/dev/ttyS1");
    EXPECT_EQ(debug, 0);
}

TEST_F(RcFileReader, PortUpTo127CharactersFitsLongerIsRefused)
{
    const std::string fits = "/" + std::string(126, 'p');
    EXPECT_EQ(read("PORT " + fits + "\n"), 0);
    EXPECT_EQ(settings.device_name, fits);

    const std::string too_long = "/" + std::string(127, 'q');
    EXPECT_EQ(read("PORT " + too_long + "\n"), -2);
    EXPECT_EQ(output, "        ERROR >>>>>>> PORT illegal value " + too_long + "\n");
    EXPECT_EQ(settings.device_name, fits);
}

TEST_F(RcFileReader, ShmnameUpTo511CharactersFitsLongerIsRefused)
{
    const std::string fits = "/" + std::string(510, 's');
    EXPECT_EQ(read("SHMNAME " + fits + "\n"), 0);
    EXPECT_EQ(settings.shm_namefile, fits);

    const std::string too_long = "/" + std::string(511, 't');
    EXPECT_EQ(read("SHMNAME " + too_long + "\n"), -2);
    EXPECT_EQ(output, "        ERROR >>>>>>> SHMNAME illegal value " + too_long + "\n");
    EXPECT_EQ(settings.shm_namefile, fits);

    // Longer than a line holds: the value is not cut, it is refused.
    const std::string huge = "/" + std::string(3000, 'u');
    EXPECT_EQ(read("SHMNAME " + huge + "\nPORT /dev/after\n"), -2);
    EXPECT_EQ(settings.shm_namefile, fits);
    EXPECT_STREQ(settings.device_name, "/dev/after");
}

TEST_F(RcFileReader, RestOfAnOverlongLineIsNotReadAsALine)
{
    // A comment whose rest would begin with a key at a read boundary.
    for (size_t pad : {508u, 1022u, 2045u}) {
        EXPECT_EQ(read("#" + std::string(pad, 'x') + "PORT /dev/evil\nPORT /dev/good\n"), 0) << pad;
        EXPECT_STREQ(settings.device_name, "/dev/good") << pad;
    }
    // A complete value with a long remark behind it is fine.
    EXPECT_EQ(read("PORT /dev/long " + std::string(3000, 'r') + "\n"), 0);
    EXPECT_STREQ(settings.device_name, "/dev/long");
}

TEST_F(RcFileReader, CarriageReturnLineEndsAreAccepted)
{
    EXPECT_EQ(read("PORT /dev/x\r\nSHMNAME /tmp/k\r\nCLIENTDEBUG 2\r\n\r\n"), 0);
    EXPECT_STREQ(settings.device_name, "/dev/x");
    EXPECT_STREQ(settings.shm_namefile, "/tmp/k");
    EXPECT_EQ(debug, 2);

    // The last line may end in CR without LF.
    EXPECT_EQ(read("PORT /dev/y\r"), 0);
    EXPECT_STREQ(settings.device_name, "/dev/y");

    // Only a CR right before the line end goes; one inside a value stays.
    EXPECT_EQ(read("PORT /dev/a\rb\n"), 0);
    EXPECT_STREQ(settings.device_name, "/dev/a\rb");
}

TEST_F(RcFileReader, MissingOrUnreadableFileGivesMinusOne)
{
    EXPECT_EQ(qo3964::read_rcfile(dir.file("absent.rc").c_str(), settings, debug), -1);
    EXPECT_EQ(qo3964::read_rcfile(dir.path().c_str(), settings, debug), -1);
    EXPECT_EQ(qo3964::read_rcfile(nullptr, settings, debug), -1);
    EXPECT_STREQ(settings.shm_namefile, "");
}

}  // namespace
