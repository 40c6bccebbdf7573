// SPDX-License-Identifier: MIT
// One run of scripts/demo.sh against this tree's programs, in a temporary
// directory of its own (TMPDIR), and what the run reported about itself.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "test_support.h"

namespace qodemo {

// Bound of one whole run: the demo takes about ten seconds, more on a
// loaded machine with sanitized programs.
constexpr int DEMO_LIMIT_MS = 120000;

// What the demo says about the things it creates.
struct DemoReport {
    pid_t partner_pid = 0;
    pid_t server_pid = 0;
    std::string segment_key;  // "0x4100abcd"
    std::string lockfile;
    std::string work_dir;
};

DemoReport parse_report(const std::string& output);
int count_of(const std::string& text, const std::string& part);

// The demo's temporary directory: every file the demo makes goes below it.
class DemoPlace {
public:
    DemoPlace();
    const std::string& tmpdir() const { return tmpdir_; }
    const qotest::TempDir& dir() const { return dir_; }
    // The environment and command line that run the demo with `arguments`.
    std::vector<std::string> command(const std::vector<std::string>& arguments) const;
    // The same as one line for a shell, output into `out` and the exit
    // status into `status`.
    std::string shell_line(const std::vector<std::string>& arguments, const std::string& out,
                           const std::string& status) const;

private:
    qotest::TempDir dir_;
    std::string tmpdir_;
};

// The demo as a child process of the test.
class DemoRun {
public:
    explicit DemoRun(const std::vector<std::string>& arguments = {});
    // A demo still running is interrupted and given time for its clean-up.
    ~DemoRun();
    DemoRun(const DemoRun&) = delete;
    DemoRun& operator=(const DemoRun&) = delete;

    const DemoPlace& place() const { return place_; }
    qotest::Process& process() { return process_; }
    std::string output() const { return process_.out() + process_.err(); }
    int wait_exit(int timeout_ms = DEMO_LIMIT_MS) { return process_.wait_exit(timeout_ms); }

private:
    DemoPlace place_;
    qotest::Process process_;
};

// Everything the report names is gone, and nothing is left in `tmpdir`.
// Returns a description of each leftover; empty when clean.
std::vector<std::string> leftovers_of(const DemoReport& report, const std::string& tmpdir);
// The items as one text, "a; b; ", for a readable failure message.
std::string listed(const std::vector<std::string>& items);

}  // namespace qodemo
