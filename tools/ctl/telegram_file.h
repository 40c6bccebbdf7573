// SPDX-License-Identifier: MIT
// A telegram taken whole from a file: its raw bytes, nothing converted.
#pragma once

#include <cstdint>

#include "hex_telegram.h"

using namespace qo3964;

namespace qoctl {

enum class FileError {
    none,
    unreadable,  // cannot be opened or read; errno tells why
    too_long,    // more than TELEGRAM_MAX bytes
};

FileError read_telegram_file(const char* path, Telegram& telegram);

}  // namespace qoctl
