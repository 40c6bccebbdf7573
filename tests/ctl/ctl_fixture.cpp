// SPDX-License-Identifier: MIT
#include "ctl_fixture.h"

#include <sstream>
#include <sys/shm.h>

#include "line_record.h"

namespace ctltest {

using qotest::Process;
using qotest::program_path;

CtlRun run_ctl(const std::vector<std::string>& args, const std::string& workdir, int timeout_ms)
{
    std::vector<std::string> argv{program_path("qo3964_ctl")};
    argv.insert(argv.end(), args.begin(), args.end());
    Process ctl(argv, workdir);
    CtlRun run;
    run.status = ctl.wait_exit(timeout_ms);
    run.out = ctl.out();
    run.err = ctl.err();
    return run;
}

std::unique_ptr<Process> start_ctl(const std::vector<std::string>& args)
{
    std::vector<std::string> argv{program_path("qo3964_ctl")};
    argv.insert(argv.end(), args.begin(), args.end());
    return std::make_unique<Process>(argv);
}

PartnerServer::PartnerServer(const std::vector<std::string>& partner_args, const std::string& rc_lines)
    : partner_args_(partner_args), rc_lines_(rc_lines)
{
}

bool PartnerServer::start()
{
    std::vector<std::string> argv{program_path("qo3964_partner")};
    argv.insert(argv.end(), PARTNER_TIMES.begin(), PARTNER_TIMES.end());
    argv.insert(argv.end(), partner_args_.begin(), partner_args_.end());
    partner_ = std::make_unique<Process>(argv);
    // The first line names the pty: "PTY <path>".
    if (!partner_->wait_for_output("\n", 10000)) {
        return false;
    }
    const std::string first = lines_of(partner_->out()).front();
    if (first.rfind("PTY ", 0) != 0) {
        return false;
    }
    // A later PORT line wins over the harness's own pty.
    server_ = std::make_unique<qotest::ServerHarness>("PORT " + first.substr(4) + "\n" + rc_lines_);
    return server_->start();
}

std::vector<std::string> PartnerServer::ctl(const std::vector<std::string>& args) const
{
    std::vector<std::string> all{"--rc", server_->rc_file()};
    all.insert(all.end(), args.begin(), args.end());
    return all;
}

AbandonedSegment::AbandonedSegment() : key_file_(dir_.file("link.shm")), rc_file_(dir_.file("qo3964.rc"))
{
    qotest::write_file(key_file_, "");
    qotest::write_file(rc_file_, "SHMNAME " + key_file_ + "\n");
    id_ = qotest::create_segment(key_file_, SEGMENT_SIZE, 0600);
    record(Server::ended);
}

void AbandonedSegment::record(Server server)
{
    SegmentAttachment attached(id_);
    if (!attached.attached()) {
        return;
    }
    volatile LineRecord& line = attached.segment().info.line;
    fill_line_record(line, key_file_.c_str(), "/dev/ttyS1");
    if (server == Server::ended) {
        line.server_start = line.server_start + 1;
    } else if (server == Server::none) {
        line.record_mark = 0;
    }
}

AbandonedSegment::~AbandonedSegment()
{
    if (id_ >= 0) {
        shmctl(id_, IPC_RMID, nullptr);
    }
}

}  // namespace ctltest
