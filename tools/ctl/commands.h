// SPDX-License-Identifier: MIT
// The commands of qo3964_ctl. Each returns the program's exit status.
#pragma once

#include "ctl_options.h"

namespace qoctl {

int run_status(const CtlOptions& options);
int run_send(const CtlOptions& options);
int run_receive(const CtlOptions& options);
int run_stop(const CtlOptions& options);
int run_text(const CtlOptions& options);

}  // namespace qoctl
