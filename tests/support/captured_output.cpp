// SPDX-License-Identifier: MIT
#include "captured_output.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

int redirect(int fd, const std::string& path)
{
    const int saved = dup(fd);
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(file, fd);
    close(file);
    return saved;
}

void restore(int fd, int saved)
{
    if (saved >= 0) {
        dup2(saved, fd);
        close(saved);
    }
}

}  // namespace

CapturedOutput::CapturedOutput(const qotest::TempDir& dir)
    : out_path_(dir.file("captured_stdout")), err_path_(dir.file("captured_stderr"))
{
    std::fflush(stdout);
    std::fflush(stderr);
    saved_out_ = redirect(STDOUT_FILENO, out_path_);
    saved_err_ = redirect(STDERR_FILENO, err_path_);
}

CapturedOutput::~CapturedOutput() { finish(); }

void CapturedOutput::finish()
{
    std::fflush(stdout);
    std::fflush(stderr);
    restore(STDOUT_FILENO, saved_out_);
    restore(STDERR_FILENO, saved_err_);
    saved_out_ = -1;
    saved_err_ = -1;
}

std::string CapturedOutput::out() const { return qotest::read_file(out_path_); }
std::string CapturedOutput::err() const { return qotest::read_file(err_path_); }
