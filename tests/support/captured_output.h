// SPDX-License-Identifier: MIT
// Standard output and standard error of this process, redirected into
// files for as long as a call under test prints. Keep the capture short:
// a failing assertion inside it would print into the files too.
#pragma once

#include <string>

#include "test_support.h"

class CapturedOutput {
public:
    explicit CapturedOutput(const qotest::TempDir& dir);
    ~CapturedOutput();
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;

    // Puts the streams back; out() and err() then hold everything printed.
    void finish();
    std::string out() const;
    std::string err() const;

private:
    std::string out_path_;
    std::string err_path_;
    int saved_out_ = -1;
    int saved_err_ = -1;
};
