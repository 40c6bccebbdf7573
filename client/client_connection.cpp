// SPDX-License-Identifier: MIT
#include "client_connection.h"

#include <array>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <ctime>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include "client_rc_file.h"
#include "qo3964_client.h"
#include "result_codes.h"
#include "segment_access_check.h"

using namespace qo3964;

// The public identification record is the segment's identification block.
static_assert(sizeof(qo3964_server_info) == sizeof(ServerInfoBlock));
static_assert(offsetof(qo3964_server_info, server_name) == offsetof(ServerInfoBlock, server_name));
static_assert(offsetof(qo3964_server_info, server_version) == offsetof(ServerInfoBlock, server_version));
static_assert(offsetof(qo3964_server_info, server_date) == offsetof(ServerInfoBlock, server_date));
static_assert(offsetof(qo3964_server_info, reserved_48) == offsetof(ServerInfoBlock, reserved_48));
static_assert(offsetof(qo3964_server_info, reserved_80) == offsetof(ServerInfoBlock, reserved_80));
static_assert(offsetof(qo3964_server_info, word_bits) == offsetof(ServerInfoBlock, word_bits));
static_assert(offsetof(qo3964_server_info, info_code) == offsetof(ServerInfoBlock, info_code));
static_assert(QO3964_MAX_HANDLES == qo3964::client::HANDLE_COUNT);
static_assert(QO3964_TELEGRAM_MAX == TELEGRAM_MAX);
static_assert(sizeof(int) == 4, "the calls carry signed 32-bit integers");
// One version number, set in the project's CMakeLists.txt.
static_assert(QO3964_VERSION_MAJOR == QO3964_PROJECT_VERSION_MAJOR &&
                  QO3964_VERSION_MINOR == QO3964_PROJECT_VERSION_MINOR &&
                  QO3964_VERSION_PATCH == QO3964_PROJECT_VERSION_PATCH,
              "the version macros of qo3964_client.h differ from the project version");
static_assert(std::string_view(QO3964_VERSION_STRING) == QO3964_PROJECT_VERSION,
              "QO3964_VERSION_STRING differs from the project version");

int debug = 0;
int shm_size = SEGMENT_SIZE;

namespace qo3964::client {

namespace {

// Ten handles, all unattached at program start.
std::array<ClientConnection, HANDLE_COUNT> qo512_cstruct_array{};

void* const SHMAT_FAILED = reinterpret_cast<void*>(-1);

// Writes a text with its NUL to the start of a field of a caller's record.
void put_text(unsigned char* field, const char* text)
{
    std::memcpy(field, text, std::strlen(text) + 1);
}

// What a caller finds in the identification record after an error.
void prefill_info(unsigned char* record)
{
    put_text(record + offsetof(ServerInfoBlock, server_name), "--NONE--");
    put_text(record + offsetof(ServerInfoBlock, server_version), "----");
    put_text(record + offsetof(ServerInfoBlock, server_date), "----");
    put_text(record + offsetof(ServerInfoBlock, reserved_48), "----");
    put_text(record + offsetof(ServerInfoBlock, reserved_80), "----");
    record[offsetof(ServerInfoBlock, word_bits)] = 0;
    record[offsetof(ServerInfoBlock, info_code)] = 0;
}

void detach(ClientConnection& connection)
{
    if (connection.attached != 0) {
        shmdt(const_cast<SharedSegment*>(connection.segment));
        connection.attached = 0;
    }
}

// Looks up the server's segment by the key file and attaches it.
int32_t attach(ClientConnection& connection)
{
    const ClientRcSettings& settings = connection.settings;
    const key_t key = ftok(settings.shm_namefile, SEGMENT_PROJECT_ID);
    // A missing key file fails here already; a key of -1 must not go on to
    // find some unrelated segment under that value.
    const int id = key == -1 ? -1 : shmget(key, static_cast<size_t>(shm_size), 0644);
    if (id < 0) {
        report_segment_error("QO7-Client get", settings.shm_namefile);
        return RC_NO_SEGMENT;
    }
    if (check_segment_owner(id, settings.shm_namefile, settings.server_user, settings.server_uid) != 0) {
        return RC_NO_SEGMENT;
    }
    void* address = shmat(id, nullptr, 0);
    connection.segment = static_cast<volatile SharedSegment*>(address);
    if (address == SHMAT_FAILED) {
        report_segment_error("QO7-Client shmat", settings.shm_namefile);
        return RC_NO_SEGMENT;
    }
    // A segment under the same key may be another line's.
    if (check_segment_line(connection.segment->info, settings.shm_namefile, line_port(settings)) != 0) {
        shmdt(address);
        connection.segment = static_cast<volatile SharedSegment*>(SHMAT_FAILED);
        return RC_NO_SEGMENT;
    }
    // A send handed over to another segment is not this one's.
    if (id != connection.segment_id) {
        connection.send_owner = JobOwner{};
    }
    connection.segment_id = id;
    connection.next_liveness_ms = 0;
    connection.server_gone = false;
    return 0;
}

}  // namespace

int64_t now_us()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

int64_t now_ms()
{
    return now_us() / 1000;
}

ClientConnection* connection_for(int handle)
{
    if (handle < 0 || handle >= HANDLE_COUNT) {
        return nullptr;
    }
    return &qo512_cstruct_array[static_cast<std::size_t>(handle)];
}

int32_t check_attached(int handle)
{
    const ClientConnection* connection = connection_for(handle);
    if (connection == nullptr) {
        return RC_BAD_HANDLE;
    }
    if (connection->attached != 1) {
        return RC_NOT_ATTACHED;
    }
    return 0;
}

}  // namespace qo3964::client

using qo3964::client::ClientConnection;
using qo3964::client::connection_for;

extern "C" int qo3964m_open_shm(int handle, const char* rcfile)
{
    ClientConnection* connection = connection_for(handle);
    if (connection == nullptr) {
        return RC_BAD_HANDLE;
    }
    // Every open starts from the defaults, so that a second open never
    // keeps the key file of the first one.
    connection->settings = ClientRcSettings{};
    if (debug != 0) {
        std::printf("Auswertung rc-file %s..\n", rcfile != nullptr ? rcfile : "(null)");
    }
    const int32_t read = read_rcfile(rcfile, connection->settings, debug);
    if (read == -1) {
        return RC_NO_RCFILE;
    }
    if (read == -2) {
        return RC_RCFILE_ERROR;
    }
    if (debug != 0) {
        std::printf("Auswertung rc-file Ende\n");
    }
    // An earlier attachment of this handle is given up, not left mapped.
    qo3964::client::detach(*connection);
    if (debug != 0) {
        std::printf("get_qo_shm ..\n");
    }
    const int32_t attached = qo3964::client::attach(*connection);
    if (attached != 0) {
        return attached;
    }
    if (debug != 0) {
        std::printf("get_qo_shm ENDE\n");
    }
    connection->attached = 1;
    connection->owner_pid = static_cast<int32_t>(getpid());
    connection->aux_mark = -1;
    connection->send_phase = -1;
    if (debug != 0) {
        std::printf("qo512_open_shm ende\n");
    }
    return 0;
}

extern "C" int qo3964m_close_shm(int handle)
{
    ClientConnection* connection = connection_for(handle);
    if (connection == nullptr) {
        return RC_BAD_HANDLE;
    }
    qo3964::client::detach(*connection);
    return 0;
}

extern "C" int qo3964m_svr_info(int handle, void* destination)
{
    auto* record = static_cast<unsigned char*>(destination);
    if (record != nullptr) {
        qo3964::client::prefill_info(record);
    }
    const int32_t checked = qo3964::client::check_attached(handle);
    if (checked != 0) {
        return checked;
    }
    if (record == nullptr) {
        return RC_TOO_LONG;
    }
    // Byte by byte through the volatile view: the block is shared memory.
    const volatile uint8_t* info = reinterpret_cast<const volatile uint8_t*>(&connection_for(handle)->segment->info);
    for (std::size_t i = 0; i < sizeof(ServerInfoBlock); ++i) {
        record[i] = info[i];
    }
    return 0;
}

extern "C" char* qo7_version(char* buffer)
{
    static_assert(sizeof SERVER_VERSION == 8, "the version text and its NUL are 8 bytes");
    if (buffer != nullptr) {
        std::memcpy(buffer, SERVER_VERSION, sizeof SERVER_VERSION);
    }
    return buffer;
}

extern "C" char* qo_version(char* buffer)
{
    return qo7_version(buffer);
}
