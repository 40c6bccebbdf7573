// The server's line goes away under it: the far end of its pseudo-terminal
// is closed, as when a USB serial adapter is pulled.
#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <thread>
#include <unistd.h>

#include "link_fixture.h"
#include "process_cpu.h"
#include "qo3964_client.h"

namespace qosoak {
namespace {

using Clock = std::chrono::steady_clock;
using qotest::Bytes;

// The line's far end, held only by this test (close-on-exec, so the server
// does not inherit it): closing it hangs the line up.
class FarEnd {
public:
    FarEnd()
    {
        fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        char name[128] = {};
        if (fd_ < 0 || grantpt(fd_) != 0 || unlockpt(fd_) != 0 || ptsname_r(fd_, name, sizeof name) != 0) {
            ADD_FAILURE() << "cannot create a pseudo-terminal";
        }
        path_ = name;
    }
    ~FarEnd() { close(); }
    void close()
    {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }

private:
    int fd_ = -1;
    std::string path_;
};

// Share of one processor that `pid` used during `span`.
double cpu_share(pid_t pid, std::chrono::milliseconds span)
{
    const double cpu_before = cpu_seconds(pid);
    const auto begun = Clock::now();
    std::this_thread::sleep_for(span);
    const double cpu_after = cpu_seconds(pid);
    const double wall = std::chrono::duration<double>(Clock::now() - begun).count();
    return (cpu_after - cpu_before) / wall;
}

TEST(LostLine, ServerStaysQuietFailsSendsAndStopsInOrder)
{
    FarEnd far;
    qotest::ServerHarness server(link_rc_lines(far.path()));
    ASSERT_TRUE(server.start()) << server.process().out() << server.process().err();

    // The line works: a telegram 01 is taken and acknowledged.
    qotest::write_bytes(far.fd(), {0x02});
    ASSERT_EQ(qotest::hex(qotest::read_bytes(far.fd(), 1, 3000)), "10");
    qotest::write_bytes(far.fd(), {0x01, 0x10, 0x03, 0x12});
    ASSERT_EQ(qotest::hex(qotest::read_bytes(far.fd(), 1, 3000)), "10");

    far.close();

    // Without its line the server idles: it polls a line that reports an
    // error at once, so it must not spin.
    const double share = cpu_share(server.process().pid(), std::chrono::milliseconds(2000));
    std::fprintf(stderr, "server CPU while the line is gone: %.1f %%\n", share * 100.0);
    RecordProperty("cpu_percent_line_gone", std::to_string(share * 100.0));
    EXPECT_LT(share, 0.5);
    EXPECT_TRUE(server.process().running());

    // A send fails as with no partner on the line (STX never answered),
    // after TDS attempts of QVZ each.
    ASSERT_EQ(qo3964m_open_shm(APP_HANDLE, server.rc_file().c_str()), 0);
    const Bytes telegram = {0x01, 0x02};
    const auto sent = Clock::now();
    EXPECT_EQ(qo3964m_send(APP_HANDLE, telegram.data(), static_cast<int>(telegram.size()), 30), QO3964_ERR_NO_CONNECT);
    EXPECT_LT(Clock::now() - sent, std::chrono::seconds(15));
    // The telegram taken before the line went is still delivered; nothing else came.
    Bytes buffer(16);
    EXPECT_EQ(qo3964m_receive(APP_HANDLE, buffer.data(), static_cast<int>(buffer.size())), 1);
    EXPECT_EQ(buffer[0], 0x01);
    EXPECT_EQ(qo3964m_receive(APP_HANDLE, buffer.data(), static_cast<int>(buffer.size())), 0);
    EXPECT_TRUE(server.process().running());

    // SIGINT still stops it in order.
    EXPECT_EQ(server.stop(), 1);
    const std::string out = server.process().out();
    EXPECT_NE(out.find("shutdown initiated by signal"), std::string::npos) << out;
    EXPECT_NE(out.find("restored old port definition"), std::string::npos) << out;
    EXPECT_NE(out.find("ENDED"), std::string::npos) << out;
    EXPECT_FALSE(qotest::segment_exists(server.shm_file()));
    EXPECT_FALSE(qotest::file_exists(server.lockfile()));
    // The client sees the stop.
    EXPECT_EQ(qo3964m_send_control(APP_HANDLE), QO3964_ERR_SHUTDOWN);
    qo3964m_close_shm(APP_HANDLE);
}

}  // namespace
}  // namespace qosoak
