// SPDX-License-Identifier: MIT
// qo3964_server: couples the programs attached to its shared segment to a
// partner device on one serial line, speaking the 3964 / 3964R procedure.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/eventfd.h>
#include <unistd.h>

#include "console_output.h"
#include "doorbell_listener.h"
#include "line_record.h"
#include "line_trace.h"
#include "link.h"
#include "link_counters.h"
#include "port_claim.h"
#include "runtime_log.h"
#include "segment_owner.h"
#include "server_config.h"
#include "server_lockfile.h"
#include "server_loop.h"
#include "server_options.h"
#include "server_process.h"
#include "service_notify.h"
#include "service_watchdog.h"
#include "standard_descriptors.h"

namespace qo3964 {
namespace {

constexpr char STARS[] = "***************************************************";
static_assert(sizeof STARS - 1 == 51);

constexpr char PROGRESS[] = "\n++++++ qo3964_server";

bool debugging()
{
    return link_settings.debug_level > 0;
}

void print_banner()
{
    std::printf("\n%s\n", STARS);
    std::printf("*  qo3964_server %2iBit V 1.0.1 vom 09.06.2009     *\n", WORD_BITS);
    std::printf("%s\n", STARS);
    std::printf("*                                                 *\n");
    std::printf("%s\n", STARS);
}

// The two usage lines; `trailer` is what follows the second one.
void print_usage_lines(const char* trailer)
{
    std::printf("SERVER_NAME <rc-file>    to start the server\n");
    std::printf("SERVER_NAME -v           getting informations about the server%s", trailer);
}

[[noreturn]] void invalid_parameters()
{
    std::printf("\nINVALID PARAMETERS.\nUSAGE:\n");
    print_usage_lines("\n\n\n");
    std::fflush(stdout);
    std::exit(-1);
}

void print_usage()
{
    std::printf("\nUSAGE:\n");
    print_usage_lines("\n\n");
    std::printf("This server:\n");
    std::printf("qo3964_server for %2iBit Intel or AMD systems\n", WORD_BITS);
    std::printf("Version V 1.0.1 compiled at 09.06.2009\n\n");
    std::printf("Capabilities of this server:\n");
    std::printf("Maximum count of parallel jobs (Auftraege):1 send 1 receive\n");
    std::printf("Maximum count of bytes whithin one fetch/write: 4096 bytes.\n");
    std::printf("\nCapabilities of the client library of this compilation:\n");
    std::printf("(libqo3964_client.a, qo3964_client.h)\n");
    std::printf("Maximum count of parallely accessible servers : %i\n", 10);
    std::printf("Maximum count of jobs (Auftraege) on each server: 1 send 1 receive\n");
    std::printf("\n\n");
}

// No argument: ./qo3964.rc; "-v": the usage text; one path: the rc-file.
// Anything else (two arguments, another option, a path too long for the
// rc path) is refused.
void read_command_line(int argc, char** argv)
{
    if (argc > 2) {
        invalid_parameters();
    }
    if (argc < 2) {
        return;
    }
    const char* argument = argv[1];
    if (std::strcmp(argument, "-v") == 0) {
        print_usage();
        std::fflush(stdout);
        std::exit(-1);
    }
    if (argument[0] == '-' || std::strlen(argument) >= sizeof rc_path) {
        invalid_parameters();
    }
    std::snprintf(rc_path, sizeof rc_path, "%s", argument);
}

void read_configuration()
{
    // Under the journal every line is an entry: the rc-file's reports
    // then begin lines of their own, with their priority.
    std::printf("%s [2] reading configuration file \"%s\" ...%s", PROGRESS, rc_path,
                console_is_journal(CONSOLE_OUT) ? "\n" : "");
    FILE* file = rc_open(rc_path);
    if (file == nullptr) {
        note_stop_cause("[3] no configuration file", errno);
        std::printf("\n%s [3] file \"%s\"not found", PROGRESS, rc_path);
        server_shutdown("no configuration file");
    }
    if (rc_read_file(file) != 0) {
        server_shutdown("[4] error in configuration file");
    }
    shm_name_default_to_port();
    const LinkSettings& s = link_settings;
    if (s.server_uid >= 0 && s.server_uid != static_cast<long>(geteuid())) {
        log_event(LOG_PRI_WARNING, "access",
                  "SERVERUSER is %s (user ID %ld), but the server runs as user ID %ld: applications will refuse "
                  "its segment",
                  s.server_user, s.server_uid, static_cast<long>(geteuid()));
    }
}

// The lockfile only ever gets write permission for its owner: nobody else
// has anything to write into it.
LockfileAccess lockfile_access()
{
    LockfileAccess access;
    if (link_settings.access_mode >= 0) {
        access.mode = static_cast<mode_t>((link_settings.access_mode & 0444) | 0600);
        access.exact_mode = true;
    }
    access.group = link_settings.group_id;
    return access;
}

// Replaces the rule that an unusable lockfile lets the start go on: a file
// put there by another account, a link, a FIFO or a directory stops the
// start, and the server neither writes nor removes it. A server runs while
// it holds the file's lock, not while the process ID in it is taken.
void claim_lockfile()
{
    lockfile_path_for(link_settings.shm_name, lockfile_path, sizeof lockfile_path);
    char why[256];
    const int owner = lockfile_claim(lockfile_path, lockfile_access(), lockfile_hold, why, sizeof why);
    if (owner == LOCKFILE_REFUSED) {
        static char reason[sizeof lockfile_path + sizeof why + 64];
        std::snprintf(reason, sizeof reason, "[4b] cannot use the lockfile \"%s\": %s", lockfile_path, why);
        add_stop_detail(LOG_PRI_NOTICE, "hint: the server uses only a regular file of its own account there; "
                                        "see who made %s and remove it",
                        lockfile_path);
        server_shutdown(reason);
    }
    if (owner > 0 || owner == LOCKFILE_HELD) {
        if (owner > 0) {
            add_stop_detail(LOG_PRI_NOTICE, "%s is locked by the running qo3964_server process %d", lockfile_path,
                            owner);
        } else {
            add_stop_detail(LOG_PRI_NOTICE, "%s is locked by a qo3964_server that is starting", lockfile_path);
        }
        server_shutdown("[4a] a server, attaching this shm,is already running");
    }
    if (why[0] != '\0') {
        log_event(LOG_PRI_WARNING, "lockfile", "%s: %s", lockfile_path, why);
    }
    lockfile_held = true;
}

// Who holds the key of a segment in the way, and how to clear it: removing
// it is offered only when no live server holds it.
void explain_segment_in_the_way(int key)
{
    SegmentMaker maker{};
    if (!segment_maker(key, maker)) {
        return;
    }
    add_stop_detail(LOG_PRI_ERR, "segment %d under key 0x%08x was made by process %ld of user ID %ld", maker.id,
                    static_cast<unsigned>(key), maker.pid, maker.uid);
    if (line_record_present(maker.line) && line_server_alive(maker.line, static_cast<pid_t>(maker.pid))) {
        add_stop_detail(LOG_PRI_NOTICE, "hint: another line uses the key: the running qo3964_server of key file "
                                        "\"%s\" and port %s; give this line another SHMNAME",
                        maker.line.key_file, maker.line.port);
    } else if (maker.uid != static_cast<long>(geteuid())) {
        add_stop_detail(LOG_PRI_NOTICE, "hint: it belongs to another account, not to this server's: find out "
                                        "who made it before removing it (ipcrm -m %d)",
                        maker.id);
    } else if (!line_record_present(maker.line)) {
        add_stop_detail(LOG_PRI_NOTICE, "hint: no qo3964_server made it: find out which program did before "
                                        "removing it (ipcrm -m %d)",
                        maker.id);
    } else {
        add_stop_detail(LOG_PRI_NOTICE, "hint: a server killed without its orderly stop leaves it: "
                                        "qo3964_ctl --rc %s status names it, ipcrm -m %d removes it",
                        rc_path, maker.id);
    }
}

void open_segment()
{
    if (debugging()) {
        std::printf("\n\n%s [5] trying to open shared memory ...\n", PROGRESS);
        std::printf("   name file is \"%s\"\n", link_settings.shm_name);
    }
    const LinkSettings& s = link_settings;
    const int key = segment_key(s.shm_name);
    if (key == -1) {
        note_stop_cause(nullptr, errno);
        add_stop_detail(LOG_PRI_ERR, "%s: %s", s.shm_name, std::strerror(errno));
        server_shutdown("[6] invalid ftok: probably no existing SHMNAME file");
    }
    if (debugging()) {
        std::printf("   key = %d\n", key);
    }
    const int outcome = segment_create(key, s.access_mode >= 0 ? s.access_mode : 0666, s.group_id);
    if (outcome == SEGMENT_EXISTS) {
        explain_segment_in_the_way(key);
        server_shutdown("[7a] shared memory already or still exists");
    }
    if (outcome == SEGMENT_NO_MEMORY) {
        note_stop_cause(nullptr, errno);
        add_stop_detail(LOG_PRI_ERR, "%s", std::strerror(errno));
        server_shutdown("[7] not able to get shared memory");
    }
    segment_ready = true;
    if (debugging()) {
        std::printf("%s length of shared memory structure = %d", PROGRESS, SEGMENT_SIZE);
    }
    if (!segment_attach()) {
        note_stop_cause(nullptr, errno);
        add_stop_detail(LOG_PRI_ERR, "%s", std::strerror(errno));
        server_shutdown("[8] shmat-error: access denied");
    }
    if (debugging()) {
        std::printf("%s [9] shared memory attached, now initializing ..\n", PROGRESS);
    }
    reset_segment();
    fill_server_info(s.shm_name, s.port_path);
    start_counting(s.baud, s.zvz, s.qvz, s.tds, s.tdr, s.mmode, s.bcc_mode);
}

// The system's reason why the port could not be set up, and what to do.
void explain_port_failure(const Link& link, int error)
{
    const char* port = link_settings.port_path;
    if (link.line.path_refusal[0] != '\0') {
        add_stop_detail(LOG_PRI_ERR, "%s", link.line.path_refusal);
        add_stop_detail(LOG_PRI_NOTICE, "hint: another account could point the server at a line of its own; keep "
                                        "the port's link in a directory that only root and the server's account "
                                        "may write");
        return;
    }
    if (error == 0) {
        return;
    }
    add_stop_detail(LOG_PRI_ERR, "%s: %s", port, std::strerror(error));
    if (error == EACCES || error == EPERM) {
        add_stop_detail(LOG_PRI_NOTICE, "hint: the server's account needs read and write access to %s: "
                                        "add it to the group that owns the port, usually dialout "
                                        "(usermod -a -G dialout ACCOUNT)",
                        port);
    } else if (error == ENOENT || error == ENODEV || error == ENXIO) {
        add_stop_detail(LOG_PRI_NOTICE, "hint: %s is not there: is the adapter plugged in?", port);
    } else if (error == EBUSY) {
        const pid_t holder = port_holder(port);
        if (holder > 0) {
            add_stop_detail(LOG_PRI_NOTICE, "hint: process %d holds %s (another qo3964_server?)",
                            static_cast<int>(holder), port);
        } else {
            add_stop_detail(LOG_PRI_NOTICE, "hint: another program holds %s open", port);
        }
    }
}

// The trace of a server that runs unattended. A trace that cannot be
// written is no reason to leave the line down: the server goes on
// without it.
void open_trace()
{
    const LinkSettings& s = link_settings;
    if (s.trace_path[0] == '\0') {
        return;
    }
    if (!trace_open(s.trace_path, static_cast<int64_t>(s.trace_kb) * 1024, s.zvz, s.port_path)) {
        log_event(LOG_PRI_WARNING, "trace", "trace file %s cannot be opened: %s; running without it", s.trace_path,
                  std::strerror(errno));
    }
}

void open_port(Link& link)
{
    const LinkSettings& s = link_settings;
    std::printf("%s [10] initializing  port %s\n", PROGRESS, s.port_path);
    errno = 0;
    if (link_open(link, s.port_path, s.baud, s.parity, s.flow, s.tds, s.tdr, s.mmode, s.zvz, s.qvz,
                  s.bcc_mode, s.io_debug) < 0) {
        note_stop_cause(nullptr, errno);
        explain_port_failure(link, errno);
        server_shutdown("[11] error on initializing the communication port");
    }
    port_ready = true;
    port_line = &link.line;
    open_trace();
    std::printf("%s [12] connecting via Port %s", PROGRESS, s.port_path);
    std::printf("%s [13] cleaning the line ....\n", PROGRESS);
    std::fflush(stdout);
    // Bytes that arrived before the server was ready belong to no telegram.
    serial_flush_input(link.line);
    std::printf("%s [14] is up and ok ....\n", PROGRESS);
    std::fflush(stdout);
    notify_ready();
    start_done = true;
}

// The loop's wake descriptor: rung by the stop signals and by the
// doorbell's listener.
int open_wake_descriptor()
{
    const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) {
        add_stop_detail(LOG_PRI_ERR, "eventfd: %s", std::strerror(errno));
        server_shutdown("[11] error on initializing the communication port");
    }
    return fd;
}

}  // namespace
}  // namespace qo3964

int main(int argc, char** argv)
{
    using namespace qo3964;
    // Before anything is opened: nothing meant for the console may reach
    // a file that took the number of a closed standard descriptor.
    if (!make_standard_descriptors_valid()) {
        return 1;
    }
    install_signal_handlers();
    answer_options(argc, argv);
    print_banner();
    read_command_line(argc, argv);
    read_configuration();
    claim_lockfile();
    open_segment();
    // The link lives for the whole run; it is large (its telegram buffers)
    // and is kept out of the stack.
    static Link link;
    server_wake_fd = open_wake_descriptor();
    open_port(link);

    DoorbellListener doorbell;
    if (!doorbell.start(*server_segment, server_wake_fd)) {
        log_event(LOG_PRI_WARNING, "doorbell", "no thread for the doorbell: jobs are found every %d ms",
                  static_cast<int>(LOOK_MS));
    }
    console_stop_waiting();
    run_server_loop(link, server_wake_fd);
    doorbell.stop();

    write_shutdown_marks();
    server_shutdown(stop_reason == STOP_ORDER ? "got shutdown-command from pikter"
                                              : "shutdown initiated by signal");
}
