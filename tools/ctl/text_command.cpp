// SPDX-License-Identifier: MIT
// text: the German and English texts of a result code.
#include <cstdint>
#include <cstdio>

#include "commands.h"
#include "ctl_report.h"
#include "qo3964_client.h"

namespace qoctl {

int run_text(const CtlOptions& options)
{
    int64_t code = 0;
    if (!parse_number(options.arguments.front(), INT32_MIN, INT32_MAX, code)) {
        complain("text needs a whole number as the result code, not \"%s\"", options.arguments.front());
        return EXIT_USAGE;
    }
    const Language language = options.language_given ? options.language : Language::both;
    if (language != Language::german) {
        std::printf("en: %s\n", qo3964_errortext_en(static_cast<int32_t>(code)));
    }
    if (language != Language::english) {
        std::printf("de: %s\n", qo3964_errortext(static_cast<int32_t>(code)));
    }
    return EXIT_DONE;
}

}  // namespace qoctl
