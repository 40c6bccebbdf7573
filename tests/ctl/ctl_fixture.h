// SPDX-License-Identifier: MIT
// What the qo3964_ctl tests share: running the tool to its end, and a
// qo3964_server whose line ends at a qo3964_partner program.
//
// The partner runs as a program of its own, so the test process has no
// second thread when it starts the tool.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "server_harness.h"
#include "shared_segment.h"
#include "test_segment.h"
#include "test_support.h"
#include "wait_until.h"

using namespace qo3964;

namespace ctltest {

using namespace std::chrono_literals;
using qotest::SegmentAttachment;
using qotest::wait_until;

struct CtlRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs qo3964_ctl with `args` in `workdir` (if given) until it exits.
CtlRun run_ctl(const std::vector<std::string>& args, const std::string& workdir = "", int timeout_ms = 30000);

// qo3964_ctl with `args`, started and left running.
std::unique_ptr<qotest::Process> start_ctl(const std::vector<std::string>& args);

using qotest::lines_of;

// Short procedure times for server and partner alike; the tests' bounds
// are seconds around them.
inline constexpr char SERVER_TIMES[] = "ZVZ 100\nQVZ 500\nTDS 2\n";
inline const std::vector<std::string> PARTNER_TIMES{"--zvz", "100", "--qvz", "500"};

// A server on the line of a partner program.
class PartnerServer {
public:
    // `partner_args` after the procedure times (e.g. {"--echo"});
    // `rc_lines` after PORT (e.g. SERVER_TIMES).
    PartnerServer(const std::vector<std::string>& partner_args, const std::string& rc_lines = SERVER_TIMES);

    // Starts the partner, then the server on its line; true once both are up.
    bool start();

    qotest::ServerHarness& server() { return *server_; }
    qotest::Process& partner() { return *partner_; }
    // "--rc <the server's rc-file>" and `args`.
    std::vector<std::string> ctl(const std::vector<std::string>& args) const;

private:
    std::vector<std::string> partner_args_;
    std::string rc_lines_;
    std::unique_ptr<qotest::Process> partner_;
    std::unique_ptr<qotest::ServerHarness> server_;
};

// A segment that no server serves, as a server killed without its orderly
// stop leaves it, under the key file named by an rc-file of its own;
// removed at the end. The test made it, so it is its creator; the record
// of its server names the test's process with another start time, as
// when a later process got the ID of the ended server.
class AbandonedSegment {
public:
    AbandonedSegment();
    ~AbandonedSegment();
    AbandonedSegment(const AbandonedSegment&) = delete;
    AbandonedSegment& operator=(const AbandonedSegment&) = delete;

    // The record names no server, an ended one, or a live one (the test).
    enum class Server { none, ended, live };
    void record(Server server);

    int id() const { return id_; }
    const std::string& key_file() const { return key_file_; }
    const std::string& rc_file() const { return rc_file_; }

private:
    qotest::TempDir dir_;
    std::string key_file_;
    std::string rc_file_;
    int id_ = -1;
};

}  // namespace ctltest
