// SPDX-License-Identifier: MIT
// The client library's rc-file reader on arbitrary file contents: the
// settings' texts stay terminated within their fields, `debug` stays
// within 0 to 10, and a readable file never counts as unopenable.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

#include "client_rc_file.h"
#include "qo3964_client.h"

using namespace qo3964;

namespace {

void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "client rc-file reader: %s\n", what);
        std::abort();
    }
}

// The reader wants a path: an anonymous memory file, reached through
// /proc, leaves nothing behind on disk.
int file_fd = -1;
char file_path[64];

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
        std::abort();
    }
    file_fd = memfd_create("qo3964_rc", 0);
    require(file_fd >= 0, "memfd_create");
    std::snprintf(file_path, sizeof file_path, "/proc/self/fd/%d", file_fd);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    require(ftruncate(file_fd, 0) == 0, "ftruncate");
    require(pwrite(file_fd, data, size, 0) == static_cast<ssize_t>(size), "pwrite");

    // Fresh settings, as every qo3964m_open_shm starts from.
    ClientRcSettings settings{};
    debug = 0;

    const int32_t result = read_rcfile(file_path, settings, debug);
    require(result == 0 || result == -2, "result other than 0 or -2");
    require(strnlen(settings.device_name, sizeof settings.device_name) < sizeof settings.device_name,
            "device_name not terminated");
    require(strnlen(settings.shm_namefile, sizeof settings.shm_namefile) < sizeof settings.shm_namefile,
            "shm_namefile not terminated");
    require(settings.shm_namefile[0] != '\0', "no key file after reading");
    require(debug >= 0 && debug <= 10, "debug level");
    return 0;
}
