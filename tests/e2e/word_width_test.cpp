// SPDX-License-Identifier: MIT
// Applications and servers of different word widths share one segment:
// this build's application with the 32-bit server, and the 32-bit width
// probe with this build's server. Both need the 32-bit tree that the test
// script builds (QO3964_M32_DIR); without it they are skipped. The probe
// of this tree, a C program like any application, runs everywhere. The
// arm64 probe and server of a cross-built tree (QO3964_ARM64_DIR), both
// under qemu-user, check the hand-over code built for a weakly ordered
// processor end to end.
#include <string>
#include <vector>

#include "e2e_fixture.h"

namespace e2etest {
namespace {

using qopartner::Fault;

const std::string M32_DIR = QO3964_M32_DIR;
const std::string ARM64_DIR = QO3964_ARM64_DIR;

// Hex as the width probe takes and prints it: no blanks, "-" for nothing.
std::string probe_hex(const Bytes& telegram)
{
    if (telegram.empty()) {
        return "-";
    }
    std::string text = qotest::hex(telegram);
    std::erase(text, ' ');
    return text;
}

class ProbeTest : public LinkedTest {
protected:
    // Arms the partner so that the next send of the application is refused
    // at its end (-67 after TDS 2) and the partner's next telegram has a bad
    // BCC until the server reports it (-82 after TDR 2): negative results
    // in both job blocks.
    void arm_failures()
    {
        partner().faults().arm(Fault::nak_to_end, 2);
        partner().faults().arm(Fault::corrupt_bcc, 2);
    }

    // Runs the width probe at `probe` against the server at `server` (this
    // build's by default): it sends a telegram that the partner refuses,
    // then three that arrive, and fetches a receive error and three
    // telegrams of the partner.
    void run_probe(const std::string& probe, const std::string& server = "qo3964_server")
    {
        ASSERT_TRUE(qotest::file_exists(probe)) << probe;
        connect(LINE_TIMES, patient_partner(), server);
        arm_failures();

        const Bytes refused{0xEE};
        const std::vector<Bytes> sent = {awkward_telegram(4096, 5), {}, awkward_telegram(16, 6)};
        std::vector<std::string> argv = {probe, link->rc_file(), "4", probe_hex(refused)};
        for (const Bytes& telegram : sent) {
            argv.push_back(probe_hex(telegram));
        }
        qotest::Process application(argv);
        for (const Bytes& telegram : sent) {
            EXPECT_EQ(partner_received(), qotest::hex(telegram));
        }

        const std::vector<Bytes> replies = {awkward_telegram(1, 7), awkward_telegram(16, 8),
                                            awkward_telegram(4096, 9)};
        for (const Bytes& telegram : replies) {
            partner().send(telegram);
        }
        ASSERT_EQ(application.wait_exit(60000), 0) << application.out() << application.err();

        std::string expected = "open 0\ninfo 0 qo3964_server V 1.0.1 09.06.2009 " +
                               std::to_string(sizeof(void*) * 8) + " 2\nsend -67\nsend 2\nsend 2\nsend 2\nreceive -82\n";
        for (const Bytes& telegram : replies) {
            expected += "receive " + std::to_string(telegram.size()) + " " + probe_hex(telegram) + "\n";
        }
        expected += "close 0\n";
        EXPECT_EQ(application.out(), expected);
    }
};

class WordWidthTest : public ProbeTest {
protected:
    void SetUp() override
    {
        if (M32_DIR.empty()) {
            GTEST_SKIP() << "no 32-bit build tree given (QO3964_M32_DIR)";
        }
    }

    static std::string m32_program(const std::string& name) { return M32_DIR + "/bin/" + name; }
};

TEST_F(WordWidthTest, ThisApplicationWithThe32BitServer)
{
    const std::string server = m32_program("qo3964_server");
    ASSERT_TRUE(qotest::file_exists(server)) << server;
    connect(LINE_TIMES, patient_partner(), server);
    arm_failures();

    qo3964_server_info info{};
    ASSERT_EQ(qo3964m_svr_info(HANDLE, &info), 0);
    EXPECT_STREQ(info.server_name, "qo3964_server");
    EXPECT_STREQ(info.server_version, "V 1.0.1");
    EXPECT_STREQ(info.server_date, "09.06.2009");
    EXPECT_EQ(info.word_bits, 32);
    EXPECT_EQ(info.info_code, 2);

    const Bytes refused{0xEE};
    EXPECT_EQ(qo3964m_send(HANDLE, refused.data(), 1, SEND_TIMEOUT_S), QO3964_ERR_NO_ACK);
    for (const size_t length : {0u, 1u, 16u, 4096u}) {
        SCOPED_TRACE("sent length " + std::to_string(length));
        const Bytes telegram = awkward_telegram(length, 1);
        EXPECT_EQ(qo3964m_send(HANDLE, telegram.data(), static_cast<int>(length), SEND_TIMEOUT_S), QO3964_SEND_DONE);
        EXPECT_EQ(partner_received(), qotest::hex(telegram));
    }

    const std::vector<Bytes> telegrams = {awkward_telegram(1, 2), awkward_telegram(16, 3), awkward_telegram(4096, 4)};
    for (const Bytes& telegram : telegrams) {
        partner().send(telegram);
    }
    EXPECT_EQ(receive_within(HANDLE, LINE_BOUND).result, QO3964_ERR_RX_BCC);
    for (const Bytes& telegram : telegrams) {
        SCOPED_TRACE("received length " + std::to_string(telegram.size()));
        const Received received = receive_within(HANDLE, LINE_BOUND);
        EXPECT_EQ(received.result, static_cast<int>(telegram.size()));
        EXPECT_EQ(qotest::hex(received.telegram()), qotest::hex(telegram));
    }
}

TEST_F(WordWidthTest, The32BitApplicationWithThisServer)
{
    run_probe(m32_program("width_probe"));
}

class Arm64Test : public ProbeTest {
protected:
    void SetUp() override
    {
        if (ARM64_DIR.empty()) {
            GTEST_SKIP() << "no arm64 build tree given (QO3964_ARM64_DIR)";
        }
    }
};

TEST_F(Arm64Test, TheArm64ApplicationWithTheArm64Server)
{
    run_probe(ARM64_DIR + "/bin/width_probe.emulated", ARM64_DIR + "/bin/qo3964_server.emulated");
}

// The same probe built with this tree, so that the probe itself is
// checked wherever the suite runs.
TEST_F(ProbeTest, ThisBuildsApplicationWithThisServer)
{
    run_probe(qotest::program_path("width_probe"));
}

}  // namespace
}  // namespace e2etest
