// SPDX-License-Identifier: MIT
#include "config_check.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <libgen.h>
#include <sys/stat.h>
#include <unistd.h>

#include "segment_owner.h"
#include "server_config.h"
#include "server_lockfile.h"
#include "server_process.h"

namespace qo3964 {

namespace {

// A reason the rc-file is not usable; each one makes the exit status 1.
int problems = 0;

void problem(const char* format, ...) __attribute__((format(printf, 1, 2)));
void problem(const char* format, ...)
{
    ++problems;
    std::fputs("problem: ", stdout);
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::putchar('\n');
}

bool may_read_and_write(const char* path)
{
    return faccessat(AT_FDCWD, path, R_OK | W_OK, AT_EACCESS) == 0;
}

// The port: there, a character device, one this account may open for
// reading and writing, and a terminal. Opened without a wait for the
// modem lines and closed at once; its settings stay as they are.
void check_port(const char* port)
{
    struct stat info {};
    if (stat(port, &info) != 0) {
        problem("port %s: %s", port, std::strerror(errno));
        return;
    }
    if (!S_ISCHR(info.st_mode)) {
        problem("port %s: not a character device", port);
        return;
    }
    if (!may_read_and_write(port)) {
        problem("port %s: this account may not open it for reading and writing (%s); the group of the port, "
                "usually dialout, lets it",
                port, std::strerror(errno));
        return;
    }
    const int fd = open(port, O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == EBUSY) {
            std::printf("port: %s, a terminal held by another program now (a running server?)\n", port);
            return;
        }
        problem("port %s: %s", port, std::strerror(errno));
        return;
    }
    const bool terminal = isatty(fd) != 0;
    close(fd);
    if (!terminal) {
        problem("port %s: not a terminal", port);
        return;
    }
    std::printf("port: %s, a terminal this account may open\n", port);
}

void show_line_and_procedure(const LinkSettings& s)
{
    std::printf("line: %d baud, parity %c, 8 data bits, 1 stop bit, RTS/CTS flow control %s\n", s.baud, s.parity,
                s.flow == 'Y' ? "on" : "off");
    std::printf("procedure: %s, ZVZ %d ms, QVZ %d ms, TDS %d, TDR %d, MMODE %d\n",
                s.bcc_mode != 0 ? "3964R (with BCC)" : "3964 (no BCC)", s.zvz, s.qvz, s.tds, s.tdr, s.mmode);
    std::printf("verbosity: DEBUG %d, traffic display %s\n", s.debug_level, s.io_debug == 1 ? "on" : "off");
}

void check_segment(const LinkSettings& s)
{
    const int key = segment_key(s.shm_name);
    if (key == -1) {
        problem("key file %s: %s (the start would stop with [6])", s.shm_name, std::strerror(errno));
    } else {
        std::printf("segment: key file %s, key 0x%08x\n", s.shm_name, static_cast<unsigned>(key));
    }
    char lockfile[600];
    lockfile_path_for(s.shm_name, lockfile, sizeof lockfile);
    std::printf("lockfile: %s\n", lockfile);
}

void show_access(const LinkSettings& s)
{
    char mode[16] = "0666";
    if (s.access_mode >= 0) {
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(s.access_mode));
    }
    std::printf("access: segment mode %s, group %s, server user %s\n", mode,
                s.group_name[0] != '\0' ? s.group_name : "(the server's)",
                s.server_user[0] != '\0' ? s.server_user : "(any)");
    if (s.server_uid >= 0 && s.server_uid != static_cast<long>(geteuid())) {
        std::printf("note: SERVERUSER is %s, but this check runs as user ID %ld: the server must run as %s\n",
                    s.server_user, static_cast<long>(geteuid()), s.server_user);
    }
}

// The trace: a file the server can append to, or one it can create.
void check_trace(const LinkSettings& s)
{
    if (s.trace_path[0] == '\0') {
        std::printf("trace: off\n");
        return;
    }
    struct stat info {};
    if (lstat(s.trace_path, &info) == 0) {
        if (!S_ISREG(info.st_mode)) {
            problem("trace file %s: not a regular file", s.trace_path);
            return;
        }
        if (faccessat(AT_FDCWD, s.trace_path, W_OK, AT_EACCESS) != 0) {
            problem("trace file %s: this account may not write it (%s)", s.trace_path, std::strerror(errno));
            return;
        }
    } else {
        char directory[sizeof s.trace_path];
        std::snprintf(directory, sizeof directory, "%s", s.trace_path);
        const char* parent = dirname(directory);
        if (faccessat(AT_FDCWD, parent, W_OK | X_OK, AT_EACCESS) != 0) {
            problem("trace file %s: cannot be made in %s (%s)", s.trace_path, parent, std::strerror(errno));
            return;
        }
    }
    std::printf("trace: %s, up to %d kB, then renamed to %s.1\n", s.trace_path, s.trace_kb, s.trace_path);
}

}  // namespace

int check_configuration(const char* rc_file)
{
    std::printf("rc-file: %s\n", rc_file);
    FILE* file = rc_open(rc_file);
    if (file == nullptr) {
        problem("the rc-file cannot be used (the start would stop with [3])");
        std::fflush(stdout);
        report_stop_details();
        return 1;
    }
    if (rc_read_file(file) != 0) {
        problem("refused lines (the start would stop with [4])");
    }
    shm_name_default_to_port();
    const LinkSettings& s = link_settings;
    check_port(s.port_path);
    show_line_and_procedure(s);
    check_segment(s);
    show_access(s);
    check_trace(s);
    std::printf("result: %s\n", problems == 0 ? "usable" : "not usable");
    return problems == 0 ? 0 : 1;
}

}  // namespace qo3964
