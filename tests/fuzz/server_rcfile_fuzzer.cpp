// SPDX-License-Identifier: MIT
// The server's rc-file reader on arbitrary file contents: every line is
// either taken or refused, and whatever is taken leaves LinkSettings with
// values the rest of the server can rely on.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "serial_line.h"
#include "server_config.h"

using namespace qo3964;

namespace {

void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "rc-file reader: %s\n", what);
        std::abort();
    }
}

bool terminated_within(const char* text, size_t size)
{
    return strnlen(text, size) < size;
}

void check_settings(const LinkSettings& s)
{
    require(terminated_within(s.shm_name, sizeof s.shm_name), "SHMNAME not terminated");
    require(terminated_within(s.port_path, sizeof s.port_path), "PORT not terminated");
    require(speed_code(s.baud) != 0, "a baud rate the line cannot set");
    require(s.parity == 'E' || s.parity == 'O' || s.parity == 'N', "parity letter");
    require(s.flow == 'Y' || s.flow == 'N', "flow letter");
    require(s.zvz >= 1 && s.qvz >= 1, "delay time below 1 ms");
    require(s.bcc_mode == 0 || s.bcc_mode == 1, "BCC mode");
    require(s.tds >= 1 && s.tdr >= 1, "repetitions below 1");
    require(s.mmode == 0 || s.mmode == 1, "master mode");
    require(s.debug_level >= 0 && s.debug_level <= 10, "debug level");
    require(s.io_debug == 0 || s.io_debug == 1, "IODEBUG flag");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Reports and confirmations are not the subject here.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    link_settings = LinkSettings{};
    // fmemopen reads the bytes as they are, NULs included; an empty file
    // is an empty stream.
    FILE* stream = size > 0 ? fmemopen(const_cast<uint8_t*>(data), size, "r") : std::fopen("/dev/null", "r");
    if (stream == nullptr) {
        return 0;
    }
    const int result = rc_read_file(stream);
    require(result == 0 || result == -1, "result other than 0 or -1");
    require(line_number >= 0, "line count");
    check_settings(link_settings);
    return 0;
}
