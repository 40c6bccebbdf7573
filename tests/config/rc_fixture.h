// SPDX-License-Identifier: MIT
// Fixture of the rc-file tests: defaults restored around every test,
// standard output captured around each call under test, rc-files served
// from memory through a stream that records being closed.
#pragma once

#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <unistd.h>

#include "server_config.h"
#include "test_support.h"

using namespace qo3964;

inline void PrintTo(const LinkSettings& s, std::ostream* os)
{
    *os << "{shm_name=\"" << s.shm_name << "\" port_path=\"" << s.port_path << "\" baud=" << s.baud
        << " parity=" << s.parity << " flow=" << s.flow << " zvz=" << s.zvz << " qvz=" << s.qvz
        << " bcc_mode=" << s.bcc_mode << " tds=" << s.tds << " tdr=" << s.tdr << " mmode=" << s.mmode
        << " debug_level=" << s.debug_level << " io_debug=" << s.io_debug << "}";
}

namespace qotest {

// An rc-file held in memory; `closed` turns true when the reader closes it.
class MemoryFile {
public:
    explicit MemoryFile(std::string contents) : contents_(std::move(contents))
    {
        cookie_io_functions_t io{};
        io.read = &MemoryFile::read;
        io.close = &MemoryFile::close;
        stream_ = fopencookie(this, "r", io);
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    ~MemoryFile()
    {
        if (!closed) {
            std::fclose(stream_);
        }
    }

    FILE* stream() const { return stream_; }
    bool closed = false;

private:
    static ssize_t read(void* cookie, char* buffer, size_t size)
    {
        auto* self = static_cast<MemoryFile*>(cookie);
        const size_t left = self->contents_.size() - self->position_;
        const size_t n = size < left ? size : left;
        self->contents_.copy(buffer, n, self->position_);
        self->position_ += n;
        return static_cast<ssize_t>(n);
    }
    static int close(void* cookie)
    {
        static_cast<MemoryFile*>(cookie)->closed = true;
        return 0;
    }

    std::string contents_;
    size_t position_ = 0;
    FILE* stream_ = nullptr;
};

// The report of one refused line as the console shows it: the line number
// as printed, the line as read, and the text after the ">>>>>>>" mark.
inline std::string report(const std::string& number, const std::string& line, const std::string& rest)
{
    return "  ERROR line " + number + ": " + line + "  ERROR >>>>>>> " + rest + "\n\n";
}

class RcFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        link_settings = LinkSettings{};
        line_number = 0;
    }
    void TearDown() override { link_settings = LinkSettings{}; }

    // Runs `call` with standard output going to a file; returns the text.
    template <typename Call>
    std::string captured(Call call)
    {
        const std::string path = dir_.file("stdout");
        std::fflush(stdout);
        const int saved = dup(STDOUT_FILENO);
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        EXPECT_GE(saved, 0);
        EXPECT_GE(fd, 0);
        dup2(fd, STDOUT_FILENO);
        close(fd);
        call();
        std::fflush(stdout);
        dup2(saved, STDOUT_FILENO);
        close(saved);
        return read_file(path);
    }

    // Reads `contents` as an rc-file; its output lands in `out`.
    int read(const std::string& contents)
    {
        MemoryFile file(contents);
        int result = 0;
        out = captured([&] { result = rc_read_file(file.stream()); });
        EXPECT_TRUE(file.closed);
        return result;
    }

    // Evaluates one line; its output lands in `out`.
    int eval(const std::string& line)
    {
        int result = 0;
        out = captured([&] { result = rc_eval_line(line.c_str()); });
        return result;
    }

    std::string out;

private:
    TempDir dir_;
};

}  // namespace qotest
