// qo3964_server: couples the programs attached to its shared segment to a
// partner device on one serial line, speaking the 3964 / 3964R procedure.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <termios.h>
#include <unistd.h>

#include "job_dispatcher.h"
#include "lockfile.h"
#include "protocol_engine.h"
#include "segment_owner.h"
#include "serial_line.h"
#include "server_config.h"
#include "server_process.h"

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
    std::printf("%s [2] reading configuration file \"%s\" ...", PROGRESS, rc_path);
    // "r+": a file the server's user may not write counts as missing.
    FILE* file = std::fopen(rc_path, "r+");
    if (file == nullptr) {
        std::printf("\n%s [3] file \"%s\"not found", PROGRESS, rc_path);
        server_shutdown("no configuration file");
    }
    if (rc_read_file(file) != 0) {
        server_shutdown("[4] error in configuration file");
    }
    if (link_settings.shm_name[0] == '\0') {
        std::snprintf(link_settings.shm_name, sizeof link_settings.shm_name, "%s", link_settings.port_path);
    }
}

void claim_lockfile()
{
    lockfile_path_for(link_settings.shm_name, lockfile_path, sizeof lockfile_path);
    const int owner = lockfile_claim(lockfile_path);
    if (owner > 0 && owner != static_cast<int>(getpid())) {
        server_shutdown("[4a] a server, attaching this shm,is already running");
    }
    lockfile_held = true;
}

void open_segment()
{
    if (debugging()) {
        std::printf("\n\n%s [5] trying to open shared memory ...\n", PROGRESS);
        std::printf("   name file is \"%s\"\n", link_settings.shm_name);
    }
    const int key = segment_key(link_settings.shm_name);
    if (key == -1) {
        server_shutdown("[6] invalid ftok: probably no existing SHMNAME file");
    }
    if (debugging()) {
        std::printf("   key = %d\n", key);
    }
    const int outcome = segment_create(key);
    if (outcome == SEGMENT_EXISTS) {
        server_shutdown("[7a] shared memory already or still exists");
    }
    if (outcome == SEGMENT_NO_MEMORY) {
        server_shutdown("[7] not able to get shared memory");
    }
    segment_ready = true;
    if (debugging()) {
        std::printf("%s length of shared memory structure = %d", PROGRESS, SEGMENT_SIZE);
    }
    if (!segment_attach()) {
        server_shutdown("[8] shmat-error: access denied");
    }
    if (debugging()) {
        std::printf("%s [9] shared memory attached, now initializing ..\n", PROGRESS);
    }
    reset_segment();
    fill_server_info();
}

void open_port()
{
    const LinkSettings& s = link_settings;
    std::printf("%s [10] initializing  port %s\n", PROGRESS, s.port_path);
    if (link_open(s.port_path, s.baud, s.parity, s.flow, s.tds, s.tdr, s.mmode, s.zvz, s.qvz,
                  s.bcc_mode, s.io_debug) < 0) {
        server_shutdown("[11] error on initializing the communication port");
    }
    port_ready = true;
    std::printf("%s [12] connecting via Port %s", PROGRESS, s.port_path);
    std::printf("%s [13] cleaning the line ....\n", PROGRESS);
    std::fflush(stdout);
    // Bytes that arrived before the server was ready belong to no telegram.
    tcflush(serial_line.line_fd, TCIFLUSH);
    std::printf("%s [14] is up and ok ....\n", PROGRESS);
    std::fflush(stdout);
}

}  // namespace
}  // namespace qo3964

int main(int argc, char** argv)
{
    using namespace qo3964;
    install_signal_handlers();
    print_banner();
    read_command_line(argc, argv);
    read_configuration();
    claim_lockfile();
    open_segment();
    open_port();

    while (stop_reason == STOP_NONE) {
        service_jobs();
    }

    write_shutdown_marks();
    server_shutdown(stop_reason == STOP_ORDER ? "got shutdown-command from pikter"
                                              : "shutdown initiated by signal");
}
