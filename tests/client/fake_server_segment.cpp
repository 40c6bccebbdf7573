// SPDX-License-Identifier: MIT
#include "fake_server_segment.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/shm.h>

#include "line_record.h"

using namespace qo3964;

namespace qotest {

namespace {

void put_text(volatile char* field, const char* text)
{
    for (size_t i = 0; i <= std::strlen(text); ++i) {
        field[i] = text[i];
    }
}

}  // namespace

FakeServerSegment::FakeServerSegment(const TempDir& dir, const std::string& name)
{
    // Keys are made from inode numbers and may meet a segment of another
    // test; a fresh key file then gives a fresh key.
    int id = -1;
    for (int attempt = 0; attempt < 50 && id < 0; ++attempt) {
        key_file_ = dir.file(name + "_key_" + std::to_string(attempt));
        write_file(key_file_, "key file\n");
        id = create_segment(key_file_);
        if (id < 0 && errno != EEXIST) {
            std::perror("shmget");
            break;
        }
    }
    attachment_ = std::make_unique<SegmentAttachment>(id);
    if (!ok()) {
        return;
    }
    // What a freshly started server leaves in its segment.
    volatile SharedSegment& fresh = segment();
    for (volatile JobBlock* block : {&fresh.send_job, &fresh.receive_job}) {
        block->block_mark = 255;
        block->spare_id = 255;
    }
    put_text(fresh.info.server_version, SERVER_VERSION);
    put_text(fresh.info.server_name, SERVER_NAME);
    put_text(fresh.info.server_date, SERVER_DATE);
    fresh.info.word_bits = 32;
    fresh.info.info_code = SERVER_INFO_CODE;
    // The test is the server of the key file's line.
    fill_line_record(fresh.info.line, key_file_.c_str(), "/dev/ttyS1");

    rc_file_ = dir.file(name + ".rc");
    write_file(rc_file_, "# made by the test\nSHMNAME " + key_file_ + "\n");
}

FakeServerSegment::~FakeServerSegment()
{
    // By its ID: once removed, its key may be another test's.
    shmctl(id(), IPC_RMID, nullptr);
}

void FakeServerSegment::mark_shutdown() const
{
    send_job().block_mark = SHUTDOWN_MARK;
    send_job().shutdown_mark = SHUTDOWN_MARK;
    receive_job().spare_mark = SHUTDOWN_MARK;
    receive_job().shutdown_mark = SHUTDOWN_MARK;
}

Bytes FakeServerSegment::snapshot() const
{
    const volatile uint8_t* bytes = reinterpret_cast<const volatile uint8_t*>(&segment());
    Bytes copy(SEGMENT_SIZE);
    for (size_t i = 0; i < copy.size(); ++i) {
        copy[i] = bytes[i];
    }
    return copy;
}

}  // namespace qotest
