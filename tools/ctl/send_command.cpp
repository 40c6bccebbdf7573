// SPDX-License-Identifier: MIT
// send: one telegram through qo3964m_send, waiting for the partner's
// acknowledgement.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "ctl_report.h"
#include "hex_telegram.h"
#include "qo3964_client.h"
#include "send_timeout.h"
#include "server_handle.h"
#include "telegram_file.h"

using namespace qo3964;

namespace qoctl {

namespace {

int refuse_hex(HexError error, std::size_t position, const char* argument, char bad)
{
    switch (error) {
    case HexError::bad_character:
        if (std::isprint(static_cast<unsigned char>(bad)) != 0) {
            complain("send: argument %zu \"%s\" is not hex: bad character '%c'", position, argument, bad);
        } else {
            complain("send: argument %zu \"%s\" is not hex: bad character 0x%02X", position, argument,
                     static_cast<unsigned char>(bad));
        }
        break;
    case HexError::odd_digits:
        complain("send: argument %zu \"%s\" is not hex: two digits make a byte", position, argument);
        break;
    case HexError::too_long:
        complain("send: the telegram is longer than %d bytes", TELEGRAM_MAX);
        break;
    case HexError::none:
        return EXIT_DONE;
    }
    return EXIT_USAGE;
}

int read_hex_arguments(const CtlOptions& options, Telegram& telegram)
{
    for (std::size_t i = 0; i < options.arguments.size(); ++i) {
        char bad = 0;
        const HexError error = append_hex(options.arguments[i], telegram, bad);
        if (error != HexError::none) {
            return refuse_hex(error, i + 1, options.arguments[i], bad);
        }
    }
    return EXIT_DONE;
}

int read_file_argument(const CtlOptions& options, Telegram& telegram)
{
    switch (read_telegram_file(options.file, telegram)) {
    case FileError::unreadable:
        complain("send: cannot read \"%s\": %s", options.file, std::strerror(errno));
        return EXIT_USAGE;
    case FileError::too_long:
        complain("send: \"%s\" is longer than %d bytes, the longest telegram", options.file, TELEGRAM_MAX);
        return EXIT_USAGE;
    case FileError::none:
        break;
    }
    return EXIT_DONE;
}

// The default limit from the settings the server keeps in its segment.
int32_t server_send_timeout_s(const CtlOptions& options, const Telegram& telegram)
{
    KeyFile key_file{};
    SegmentView view;
    if (find_key_file(options.rc_path, key_file) != 0 || view.attach(key_file, false) != 0) {
        return SEND_TIMEOUT_S;
    }
    return default_send_timeout_s(read_counters(*view.segment()), telegram);
}

}  // namespace

int run_send(const CtlOptions& options)
{
    Telegram telegram;
    const int read = options.file != nullptr ? read_file_argument(options, telegram)
                                             : read_hex_arguments(options, telegram);
    if (read != EXIT_DONE) {
        return read;
    }
    ServerHandle server(options);
    if (server.open() != 0) {
        return EXIT_FAILED;
    }
    const int32_t timeout_s =
        options.timeout_s != NOT_GIVEN ? options.timeout_s : server_send_timeout_s(options, telegram);
    const int32_t result = qo3964m_send(server.handle(), telegram.data.data(), telegram.length, timeout_s);
    print_result("result", result, options.language);
    if (result == QO3964_ERR_TIMEOUT) {
        complain("send: no result within %d s; the server may still send the telegram", timeout_s);
    }
    return result == QO3964_SEND_DONE ? EXIT_DONE : EXIT_FAILED;
}

}  // namespace qoctl
