// SPDX-License-Identifier: MIT
#include "demo_run.h"

#include <csignal>
#include <cstdlib>
#include <regex>
#include <sys/stat.h>

#include "leftovers.h"
#include "test_segment.h"

namespace qodemo {

namespace {

std::string first_match(const std::string& text, const std::regex& pattern)
{
    std::smatch match;
    return std::regex_search(text, match, pattern) ? match[1].str() : std::string();
}

pid_t pid_of(const std::string& text)
{
    return text.empty() ? 0 : static_cast<pid_t>(std::stol(text));
}

// Single quotes for the shell.
std::string quoted(const std::string& word)
{
    std::string result = "'";
    for (const char c : word) {
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return result + "'";
}

}  // namespace

DemoReport parse_report(const std::string& output)
{
    DemoReport report;
    report.partner_pid = pid_of(first_match(output, std::regex(R"(The partner runs as process (\d+))")));
    report.server_pid = pid_of(first_match(output, std::regex(R"(The server is up \(process (\d+)\))")));
    report.segment_key = first_match(output, std::regex(R"(segment has the key (0x[0-9a-f]{8}))"));
    report.lockfile = first_match(output, std::regex(R"(its lockfile is (/tmp/qo_\S+_A))"));
    report.work_dir = first_match(output, std::regex(R"(Working directory (\S+))"));
    return report;
}

int count_of(const std::string& text, const std::string& part)
{
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

DemoPlace::DemoPlace() : tmpdir_(dir_.file("tmp"))
{
    mkdir(tmpdir_.c_str(), 0700);
}

std::vector<std::string> DemoPlace::command(const std::vector<std::string>& arguments) const
{
    // The programs of this tree, nothing built; a tmux session the test
    // may run in is not the demo's business unless the test says so.
    std::vector<std::string> argv{"/usr/bin/env",
                                  "-u",
                                  "TMUX",
                                  "TMPDIR=" + tmpdir_,
                                  "QO3964_DEMO_BUILD=" + qotest::program_path(""),
                                  "bash",
                                  QO3964_DEMO_SCRIPT};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return argv;
}

std::string DemoPlace::shell_line(const std::vector<std::string>& arguments, const std::string& out,
                                  const std::string& status) const
{
    std::string line = "TMPDIR=" + quoted(tmpdir_) + " QO3964_DEMO_BUILD=" + quoted(qotest::program_path("")) +
                       " bash " + quoted(QO3964_DEMO_SCRIPT);
    for (const std::string& argument : arguments) {
        line += " " + quoted(argument);
    }
    if (!out.empty()) {
        line += " > " + quoted(out) + " 2>&1";
    }
    return line + "; echo $? > " + quoted(status);
}

DemoRun::DemoRun(const std::vector<std::string>& arguments) : process_(place_.command(arguments)) {}

DemoRun::~DemoRun()
{
    if (process_.running()) {
        process_.signal(SIGTERM);
        process_.wait_exit(60000);
    }
}

std::vector<std::string> leftovers_of(const DemoReport& report, const std::string& tmpdir)
{
    std::vector<std::string> found;
    if (process_runs(report.partner_pid, "qo3964_partner")) {
        found.push_back("partner process " + std::to_string(report.partner_pid));
    }
    if (process_runs(report.server_pid, "qo3964_server")) {
        found.push_back("server process " + std::to_string(report.server_pid));
    }
    for (const pid_t pid : processes_working_in(tmpdir)) {
        found.push_back("process " + std::to_string(pid) + " working in " + tmpdir);
    }
    if (!report.segment_key.empty() &&
        qotest::segment_exists_with_key(static_cast<key_t>(std::strtoul(report.segment_key.c_str(), nullptr, 16)))) {
        found.push_back("segment " + report.segment_key);
    }
    if (!report.lockfile.empty() && qotest::file_exists(report.lockfile)) {
        found.push_back("lockfile " + report.lockfile);
    }
    for (const std::string& name : directory_entries(tmpdir)) {
        found.push_back("file " + tmpdir + "/" + name);
    }
    return found;
}

std::string listed(const std::vector<std::string>& items)
{
    std::string text;
    for (const std::string& item : items) {
        text += item + "; ";
    }
    return text;
}

}  // namespace qodemo
