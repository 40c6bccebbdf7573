// SPDX-License-Identifier: MIT
// What qo3964_ctl status has found out about a server, gathered once and
// then printed as text, as one JSON object (--json) or in the text format
// of node_exporter's textfile collector (--prometheus).
#pragma once

#include <cstdint>
#include <sys/types.h>

#include "counter_snapshot.h"
#include "qo3964_client.h"
#include "server_segment.h"

using namespace qo3964;

namespace qoctl {

// One look at a job block, every field read once.
struct JobSnapshot {
    int32_t state;
    int32_t length;
    int32_t result;
    uint8_t server_busy;
    uint8_t client_busy;
    uint8_t block_mark;
    uint8_t spare_mark;
    uint8_t shutdown_mark;
    uint8_t spare_flag;
};

enum class Condition {
    absent,         // no segment under the key: no server
    running,        // the server process that the segment records runs
    shutting_down,  // ... and has left its main loop
    abandoned,      // that process has ended
    unknown,        // the segment holds no record of a server
};

struct StatusReport {
    const char* rc_path = "";
    char line_name[256] = "";  // the rc-file's name without its directory and ".rc"
    Condition condition = Condition::absent;
    qo3964_server_info info{};
    KeyFile key_file{};
    key_t key = -1;
    int shmid = -1;
    int32_t attached = -1;
    LockfileName lockfile{};
    pid_t pid = 0;                 // named in the lockfile
    bool lockfile_locked = false;  // ... and its lock held: a server runs on it
    JobSnapshot send{};
    JobSnapshot receive{};
    int8_t shutdown_request = 0;
    CounterSnapshot counters{};

    bool served() const { return condition == Condition::running || condition == Condition::shutting_down; }
};

// The line's name for the label of the metrics: "line1" for
// /etc/qo3964/line1.rc.
void name_line(const char* rc_path, StatusReport& report);

// The word for the condition, as in the text's "condition:" line.
const char* condition_word(Condition condition);

// The counters' section of the text form.
void print_counters_text(const StatusReport& report);
void print_status_json(const StatusReport& report);
void print_status_prometheus(const StatusReport& report);

}  // namespace qoctl
