// SPDX-License-Identifier: MIT
#include "ctl_report.h"

#include <cstdarg>
#include <sys/stat.h>

#include "qo3964_client.h"
#include "server_segment.h"

using namespace qo3964;

namespace qoctl {

namespace {

void begin_complaint(const char* format, va_list args)
{
    // Whatever the command printed so far comes first.
    std::fflush(stdout);
    std::fputs("qo3964_ctl: ", stderr);
    std::vfprintf(stderr, format, args);
}

// "qo3964_ctl: <explanation>: <code> <text>" on standard error.
void complain_with_code(int32_t code, Language language, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

void complain_with_code(int32_t code, Language language, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    begin_complaint(format, args);
    va_end(args);
    std::fprintf(stderr, ": %d ", code);
    put_code_text(stderr, code, language);
    std::fputc('\n', stderr);
}

// Tells apart a key file that is missing from a server that is not there.
void report_no_server(const CtlOptions& options)
{
    KeyFile key_file{};
    if (find_key_file(options.rc_path, key_file) != 0) {
        complain_with_code(QO3964_ERR_NO_SHM, options.language, "no server for \"%s\"", options.rc_path);
        return;
    }
    struct stat info{};
    if (stat(key_file.path, &info) != 0) {
        if (key_file.is_port) {
            complain("the key file is the serial device (no SHMNAME): while it is away a running server cannot be "
                     "found; set SHMNAME to a file that stays, such as the rc-file itself");
        }
        complain_with_code(QO3964_ERR_NO_SHM, options.language,
                           "no server: the SHMNAME/PORT file \"%s\" named in \"%s\" does not exist", key_file.path,
                           options.rc_path);
        return;
    }
    if (segment_present(key_file)) {
        complain_with_code(QO3964_ERR_NO_SHM, options.language,
                           "the server's segment for \"%s\" is there but this account may not use it (see the "
                           "QO7-Client line above)",
                           key_file.path);
        return;
    }
    complain_with_code(QO3964_ERR_NO_SHM, options.language,
                       "no server: it is not running, or its SHMNAME/PORT file differs from \"%s\"", key_file.path);
}

}  // namespace

void complain(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    begin_complaint(format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

void put_code_text(std::FILE* out, int32_t code, Language language)
{
    switch (language) {
    case Language::english:
        std::fputs(qo3964_errortext_en(code), out);
        break;
    case Language::german:
        std::fputs(qo3964_errortext(code), out);
        break;
    case Language::both:
        // Two calls with buffers of their own: both texts stay valid.
        std::fprintf(out, "%s | %s", qo3964_errortext_en(code), qo3964_errortext(code));
        break;
    }
}

void print_result(const char* label, int32_t code, Language language)
{
    std::printf("%s %d: ", label, code);
    put_code_text(stdout, code, language);
    std::putchar('\n');
}

void report_open_failure(int32_t code, const CtlOptions& options)
{
    switch (code) {
    case QO3964_ERR_BAD_HANDLE:
        complain_with_code(code, options.language, "bad handle %d (0 to 9 allowed)", options.handle);
        break;
    case QO3964_ERR_NO_RCFILE:
        complain_with_code(code, options.language, "rc-file \"%s\" cannot be opened", options.rc_path);
        break;
    case QO3964_ERR_RCFILE:
        complain_with_code(code, options.language, "error in rc-file \"%s\" (see the ERROR line)", options.rc_path);
        break;
    case QO3964_ERR_NO_SHM:
        report_no_server(options);
        break;
    default:
        complain_with_code(code, options.language, "cannot attach handle %d", options.handle);
        break;
    }
}

}  // namespace qoctl
