// SPDX-License-Identifier: MIT
// Handles: bad and unattached handles, open and close, the identification
// record, the version calls and the library's globals.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>
#include <pwd.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fake_server_segment.h"
#include "line_record.h"
#include "qo3964_client.h"
#include "test_segment.h"
#include "test_support.h"

using namespace qo3964;

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

constexpr std::array<int, 5> bad_handles{-1, 10, 11, INT_MIN, INT_MAX};

class Connection : public ::testing::Test {
protected:
    void SetUp() override { debug = 0; }
    void TearDown() override
    {
        for (int handle = 0; handle < QO3964_MAX_HANDLES; ++handle) {
            qo3964m_close_shm(handle);
        }
        debug = 0;
    }
    std::string write_rc(const std::string& name, const std::string& contents)
    {
        const std::string path = dir.file(name);
        qotest::write_file(path, contents);
        return path;
    }

    qotest::TempDir dir;
};

// Checks the record as the pre-fill leaves it; `untouched` elsewhere.
void expect_prefill(const unsigned char* record, unsigned char untouched)
{
    const auto text_at = [&](size_t offset) { return std::string(reinterpret_cast<const char*>(record + offset)); };
    EXPECT_EQ(text_at(0), "--NONE--");
    for (size_t offset : {16u, 32u, 48u, 80u}) {
        EXPECT_EQ(text_at(offset), "----") << offset;
    }
    EXPECT_EQ(record[112], 0);
    EXPECT_EQ(record[113], 0);
    for (size_t offset : {9u, 15u, 21u, 31u, 37u, 47u, 53u, 79u, 85u, 111u, 114u, 500u, 1023u}) {
        EXPECT_EQ(record[offset], untouched) << offset;
    }
}

// The info code of the server behind a handle, or -1.
int info_code_of(int handle)
{
    qo3964_server_info info;
    return qo3964m_svr_info(handle, &info) == 0 ? info.info_code : -1;
}

TEST_F(Connection, GlobalsStartAsDocumented)
{
    EXPECT_EQ(shm_size, 9444);
    EXPECT_EQ(debug, 0);
}

TEST_F(Connection, BadHandleGivesMinus50FromEveryCall)
{
    const std::string rc = write_rc("any.rc", "");
    unsigned char buffer[16] = {};
    for (int handle : bad_handles) {
        EXPECT_EQ(qo3964m_open_shm(handle, rc.c_str()), QO3964_ERR_BAD_HANDLE) << handle;
        EXPECT_EQ(qo3964m_close_shm(handle), QO3964_ERR_BAD_HANDLE) << handle;
        EXPECT_EQ(qo3964m_send(handle, buffer, 1, 1), QO3964_ERR_BAD_HANDLE) << handle;
        EXPECT_EQ(qo3964m_send_strt(handle, buffer, 1, 1), QO3964_ERR_BAD_HANDLE) << handle;
        EXPECT_EQ(qo3964m_send_control(handle), QO3964_ERR_BAD_HANDLE) << handle;
        EXPECT_EQ(qo3964m_receive(handle, buffer, sizeof buffer), QO3964_ERR_BAD_HANDLE) << handle;
        std::array<unsigned char, 1024> record;
        record.fill(0xAA);
        EXPECT_EQ(qo3964m_svr_info(handle, record.data()), QO3964_ERR_BAD_HANDLE) << handle;
        expect_prefill(record.data(), 0xAA);
        EXPECT_EQ(qo3964m_svr_info(handle, nullptr), QO3964_ERR_BAD_HANDLE) << handle;
    }
}

TEST_F(Connection, HandleNeverOpenedGivesMinus98AndClosesQuietly)
{
    unsigned char buffer[16] = {};
    for (int handle = 0; handle < QO3964_MAX_HANDLES; ++handle) {
        EXPECT_EQ(qo3964m_send(handle, buffer, 1, 1), QO3964_ERR_NOT_ATTACHED);
        EXPECT_EQ(qo3964m_send_strt(handle, buffer, 1, 0), QO3964_ERR_NOT_ATTACHED);
        EXPECT_EQ(qo3964m_send_control(handle), QO3964_ERR_NOT_ATTACHED);
        EXPECT_EQ(qo3964m_receive(handle, buffer, sizeof buffer), QO3964_ERR_NOT_ATTACHED);
        qo3964_server_info info;
        std::memset(&info, 0x55, sizeof info);
        EXPECT_EQ(qo3964m_svr_info(handle, &info), QO3964_ERR_NOT_ATTACHED);
        expect_prefill(reinterpret_cast<unsigned char*>(&info), 0x55);
        EXPECT_EQ(qo3964m_close_shm(handle), 0);
        EXPECT_EQ(qo3964m_close_shm(handle), 0);
    }
}

TEST_F(Connection, VersionCallsFillAndReturnTheirBuffer)
{
    for (char* (*call)(char*) : {qo7_version, qo_version}) {
        char buffer[16];
        std::memset(buffer, 'X', sizeof buffer);
        EXPECT_EQ(call(buffer), buffer);
        EXPECT_EQ(std::memcmp(buffer, "V 1.0.1\0", 8), 0);
        EXPECT_EQ(buffer[8], 'X');
        EXPECT_EQ(call(nullptr), nullptr);
    }
}

TEST_F(Connection, MissingRcFileGivesMinus51)
{
    EXPECT_EQ(qo3964m_open_shm(0, dir.file("absent.rc").c_str()), QO3964_ERR_NO_RCFILE);
    EXPECT_EQ(qo3964m_open_shm(0, dir.path().c_str()), QO3964_ERR_NO_RCFILE);
    EXPECT_EQ(qo3964m_open_shm(0, nullptr), QO3964_ERR_NO_RCFILE);
    EXPECT_EQ(qo3964m_send_control(0), QO3964_ERR_NOT_ATTACHED);
    // A device or a FIFO would never end or never begin: no rc-file either.
    const std::string fifo = dir.file("fifo.rc");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
    EXPECT_EQ(qo3964m_open_shm(0, fifo.c_str()), QO3964_ERR_NO_RCFILE);
    EXPECT_EQ(qo3964m_open_shm(0, "/dev/zero"), QO3964_ERR_NO_RCFILE);
}

// With SERVERUSER only a segment that account made is taken; an account
// that does not exist is an error in the rc-file.
TEST_F(Connection, ServerUserMustHaveMadeTheSegment)
{
    qotest::FakeServerSegment server(dir);
    ASSERT_TRUE(server.ok());
    const passwd* me = getpwuid(geteuid());
    ASSERT_NE(me, nullptr);
    std::string rc = write_rc("mine.rc", "SHMNAME " + server.key_file() + "\nSERVERUSER " + me->pw_name + "\n");
    EXPECT_EQ(qo3964m_open_shm(0, rc.c_str()), 0);
    EXPECT_EQ(qo3964m_close_shm(0), 0);

    const passwd* other = getpwnam(geteuid() == 0 ? "daemon" : "root");
    ASSERT_NE(other, nullptr);
    rc = write_rc("other.rc", "SHMNAME " + server.key_file() + "\nSERVERUSER " + other->pw_name + "\n");
    CaptureStderr();
    EXPECT_EQ(qo3964m_open_shm(0, rc.c_str()), QO3964_ERR_NO_SHM);
    EXPECT_EQ(GetCapturedStderr(), "QO7-Client owner: the segment of " + server.key_file() + " was made by user ID " +
                                       std::to_string(geteuid()) + ", not by the server's account " +
                                       other->pw_name + " (SERVERUSER): refused\n");
    EXPECT_EQ(server.attach_count(), 1);

    rc = write_rc("nobody.rc", "SHMNAME " + server.key_file() + "\nSERVERUSER no-such-account-qo3964\n");
    CaptureStdout();
    EXPECT_EQ(qo3964m_open_shm(0, rc.c_str()), QO3964_ERR_RCFILE);
    EXPECT_EQ(GetCapturedStdout(), "        ERROR >>>>>>> SERVERUSER illegal value no-such-account-qo3964\n");
}

TEST_F(Connection, RcFileErrorGivesMinus52WithoutAttaching)
{
    qotest::FakeServerSegment server(dir);
    ASSERT_TRUE(server.ok());
    const std::string rc = write_rc("bad.rc", "SHMNAME " + server.key_file() + "\nCLIENTDEBUG 11\n");
    CaptureStdout();
    EXPECT_EQ(qo3964m_open_shm(3, rc.c_str()), QO3964_ERR_RCFILE);
    EXPECT_EQ(GetCapturedStdout(), "        ERROR >>>>>>> CLIENTDEBUG illegal value 11\n");
    EXPECT_EQ(qo3964m_send_control(3), QO3964_ERR_NOT_ATTACHED);
    EXPECT_EQ(server.attach_count(), 1);
}

TEST_F(Connection, NoSegmentForTheKeyFileGivesMinus53)
{
    const std::string key_file = dir.file("no_server_key");
    qotest::write_file(key_file, "");
    const std::string rc = write_rc("none.rc", "SHMNAME " + key_file + "\n");
    // Another test's segment may meet this key; then there is nothing to test.
    if (qotest::segment_exists(key_file)) {
        GTEST_SKIP() << "a segment of another test uses this key";
    }
    CaptureStderr();
    EXPECT_EQ(qo3964m_open_shm(0, rc.c_str()), QO3964_ERR_NO_SHM);
    EXPECT_EQ(GetCapturedStderr(), "QO7-Client get: No such file or directory\n");

    qo3964_server_info info;
    EXPECT_EQ(qo3964m_svr_info(0, &info), QO3964_ERR_NOT_ATTACHED);
    EXPECT_STREQ(info.server_name, "--NONE--");
}

TEST_F(Connection, MissingKeyFileGivesMinus53)
{
    const std::string rc = write_rc("nokey.rc", "PORT " + dir.file("no_such_device") + "\n");
    CaptureStderr();
    EXPECT_EQ(qo3964m_open_shm(9, rc.c_str()), QO3964_ERR_NO_SHM);
    EXPECT_EQ(GetCapturedStderr().rfind("QO7-Client get: ", 0), 0u);
    EXPECT_EQ(qo3964m_receive(9, nullptr, 0), QO3964_ERR_NOT_ATTACHED);
}

TEST_F(Connection, SegmentSmallerThanTheLayoutGivesMinus53)
{
    std::string key_file;
    int id = -1;
    for (int attempt = 0; attempt < 50 && id < 0; ++attempt) {
        key_file = dir.file("small_key_" + std::to_string(attempt));
        qotest::write_file(key_file, "");
        id = qotest::create_segment(key_file, 100);
    }
    ASSERT_GE(id, 0);
    const std::string rc = write_rc("small.rc", "SHMNAME " + key_file + "\n");
    CaptureStderr();
    const int result = qo3964m_open_shm(0, rc.c_str());
    const std::string err = GetCapturedStderr();
    shmctl(id, IPC_RMID, nullptr);
    EXPECT_EQ(result, QO3964_ERR_NO_SHM);
    EXPECT_EQ(err.rfind("QO7-Client get: ", 0), 0u);
}

TEST_F(Connection, OpenAttachesAndIdentificationCopiesAll1024Bytes)
{
    qotest::FakeServerSegment server(dir);
    ASSERT_TRUE(server.ok());
    volatile uint8_t* info = reinterpret_cast<volatile uint8_t*>(&server.segment().info);
    for (size_t i = 0; i < 1024; ++i) {
        info[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    ASSERT_EQ(qo3964m_open_shm(0, server.rc_file().c_str()), 0);
    EXPECT_EQ(server.attach_count(), 2);

    std::array<unsigned char, 1024> record;
    record.fill(0);
    EXPECT_EQ(qo3964m_svr_info(0, record.data()), 0);
    for (size_t i = 0; i < record.size(); ++i) {
        ASSERT_EQ(record[i], static_cast<uint8_t>(i * 7 + 3)) << i;
    }
    EXPECT_EQ(qo3964m_svr_info(0, nullptr), QO3964_ERR_TOO_SMALL);

    EXPECT_EQ(qo3964m_close_shm(0), 0);
    EXPECT_EQ(server.attach_count(), 1);
    EXPECT_EQ(qo3964m_svr_info(0, record.data()), QO3964_ERR_NOT_ATTACHED);
    EXPECT_EQ(qo3964m_close_shm(0), 0);
}

TEST_F(Connection, IdentificationOfAFreshServerReadsItsTexts)
{
    qotest::FakeServerSegment server(dir);
    ASSERT_TRUE(server.ok());
    ASSERT_EQ(qo3964m_open_shm(4, server.rc_file().c_str()), 0);
    qo3964_server_info info;
    std::memset(&info, 0x77, sizeof info);
    EXPECT_EQ(qo3964m_svr_info(4, &info), 0);
    EXPECT_STREQ(info.server_name, "qo3964_server");
    EXPECT_STREQ(info.server_version, "V 1.0.1");
    EXPECT_STREQ(info.server_date, "09.06.2009");
    EXPECT_EQ(info.word_bits, 32);
    EXPECT_EQ(info.info_code, 2);
    // The zeros of the reserved ranges replace the pre-filled "----".
    EXPECT_EQ(info.reserved_48[0], 0);
    EXPECT_EQ(info.reserved_80[0], 0);
}

TEST_F(Connection, OpenPrintsItsProgressWhenDebugIsOn)
{
    qotest::FakeServerSegment server(dir);
    ASSERT_TRUE(server.ok());
    const std::string rc = write_rc("debug.rc", "CLIENTDEBUG 1\nSHMNAME " + server.key_file() + "\n");
    const std::string progress = "   Debuglevel set to 1\n"
                                 "   shared memory namefile set to " + server.key_file() + "\n"
                                 "Auswertung rc-file Ende\n"
                                 "get_qo_shm ..\n"
                                 "get_qo_shm ENDE\n"
                                 "qo512_open_shm ende\n";
    // The level comes from the file: the first line of the first open is
    // printed only at the next one.
    CaptureStdout();
    EXPECT_EQ(qo3964m_open_shm(0, rc.c_str()), 0);
    EXPECT_EQ(GetCapturedStdout(), progress);
    EXPECT_EQ(debug, 1);
    CaptureStdout();
    EXPECT_EQ(qo3964m_open_shm(0, rc.c_str()), 0);
    EXPECT_EQ(GetCapturedStdout(), "Auswertung rc-file " + rc + "..\n" + progress);
}

TEST_F(Connection, OpenIsQuietAtLevelZero)
{
    qotest::FakeServerSegment server(dir);
    ASSERT_TRUE(server.ok());
    CaptureStdout();
    EXPECT_EQ(qo3964m_open_shm(0, server.rc_file().c_str()), 0);
    EXPECT_EQ(GetCapturedStdout(), "");
}

TEST_F(Connection, TenHandlesReachTenServers)
{
    std::vector<std::unique_ptr<qotest::FakeServerSegment>> servers;
    for (int handle = 0; handle < QO3964_MAX_HANDLES; ++handle) {
        servers.push_back(std::make_unique<qotest::FakeServerSegment>(dir, "server" + std::to_string(handle)));
        ASSERT_TRUE(servers.back()->ok());
        servers.back()->segment().info.info_code = static_cast<uint8_t>(100 + handle);
        ASSERT_EQ(qo3964m_open_shm(handle, servers.back()->rc_file().c_str()), 0);
    }
    for (int handle = 0; handle < QO3964_MAX_HANDLES; ++handle) {
        EXPECT_EQ(info_code_of(handle), 100 + handle);
    }
}

// Two servers told apart by the info code of their identification.
class TwoServers : public Connection {
protected:
    void SetUp() override
    {
        Connection::SetUp();
        ASSERT_TRUE(first.ok());
        ASSERT_TRUE(second.ok());
        first.segment().info.info_code = 11;
        second.segment().info.info_code = 22;
    }

    qotest::FakeServerSegment first{dir, "first"};
    qotest::FakeServerSegment second{dir, "second"};
};

TEST_F(TwoServers, OpeningAnAttachedHandleDetachesTheOldSegment)
{
    ASSERT_EQ(qo3964m_open_shm(0, first.rc_file().c_str()), 0);
    ASSERT_EQ(qo3964m_open_shm(0, second.rc_file().c_str()), 0);
    EXPECT_EQ(first.attach_count(), 1);
    EXPECT_EQ(second.attach_count(), 2);
    EXPECT_EQ(info_code_of(0), 22);
}

TEST_F(TwoServers, SecondOpenDoesNotKeepTheFirstKeyFile)
{
    ASSERT_EQ(qo3964m_open_shm(0, first.rc_file().c_str()), 0);
    // No SHMNAME: the key file is now the PORT device.
    const std::string rc = write_rc("port_only.rc", "PORT " + second.key_file() + "\n");
    ASSERT_EQ(qo3964m_open_shm(0, rc.c_str()), 0);
    EXPECT_EQ(info_code_of(0), 22);
    EXPECT_EQ(first.attach_count(), 1);
}

TEST_F(Connection, FailedReadOfAnotherRcFileKeepsTheAttachment)
{
    qotest::FakeServerSegment server(dir);
    ASSERT_TRUE(server.ok());
    ASSERT_EQ(qo3964m_open_shm(0, server.rc_file().c_str()), 0);
    EXPECT_EQ(qo3964m_open_shm(0, dir.file("absent.rc").c_str()), QO3964_ERR_NO_RCFILE);
    EXPECT_EQ(qo3964m_send_control(0), QO3964_TASK_IDLE);
    EXPECT_EQ(server.attach_count(), 2);
}

// Two key files may give one key: the segment's record of its line tells
// whether it is the rc-file's. The segment of another key file or port is
// refused with -53 and a line that names it.
TEST_F(Connection, SegmentOfAnotherLineUnderTheKeyGivesMinus53)
{
    qotest::FakeServerSegment server(dir);
    ASSERT_TRUE(server.ok());
    const std::string rc = write_rc("line.rc", "SHMNAME " + server.key_file() + "\nPORT /dev/null\n");
    const std::string other_key = dir.file("other_key");
    qotest::write_file(other_key, "");
    const std::vector<std::pair<std::string, std::string>> records{
        {other_key, "/dev/null"}, {server.key_file(), "/dev/ttyS7"}, {server.key_file(), "/dev/null"}};
    for (const auto& [key_file, port] : records) {
        fill_line_record(server.segment().info.line, key_file.c_str(), port.c_str());
        CaptureStderr();
        const int opened = qo3964m_open_shm(0, rc.c_str());
        const std::string err = GetCapturedStderr();
        const bool own = key_file == server.key_file() && port == "/dev/null";
        EXPECT_EQ(opened, own ? 0 : QO3964_ERR_NO_SHM) << key_file << " " << port;
        EXPECT_EQ(err.rfind("QO7-Client line: the segment under the key of " + server.key_file() +
                                " belongs to another line: its server serves ",
                            0),
                  own ? std::string::npos : 0u)
            << err;
    }
}

TEST_F(Connection, FailedAttachOfAnotherServerLeavesTheHandleUnattached)
{
    qotest::FakeServerSegment server(dir);
    ASSERT_TRUE(server.ok());
    ASSERT_EQ(qo3964m_open_shm(0, server.rc_file().c_str()), 0);
    const std::string rc = write_rc("gone.rc", "SHMNAME " + dir.file("no_such_key_file") + "\n");
    CaptureStderr();
    EXPECT_EQ(qo3964m_open_shm(0, rc.c_str()), QO3964_ERR_NO_SHM);
    GetCapturedStderr();
    EXPECT_EQ(qo3964m_send_control(0), QO3964_ERR_NOT_ATTACHED);
    EXPECT_EQ(server.attach_count(), 1);
}

}  // namespace
