// SPDX-License-Identifier: MIT
// The creation of the server's segment is exclusive: a segment that
// another program makes under the key at any moment before, also in the
// moment between a look for a left-over segment and the creation, is
// never taken over.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include "segment_owner.h"
#include "test_segment.h"
#include "test_support.h"

using namespace qo3964;

namespace {

// Where another program squats, and the segment it made there.
key_t squat_key = -1;
int squat_id = -1;

}  // namespace

// The server's calls reach the system through here: right before the call
// that creates the segment, another program makes one under the key.
extern "C" int shmget(key_t key, size_t size, int flags)
{
    using Shmget = int (*)(key_t, size_t, int);
    const auto real = reinterpret_cast<Shmget>(dlsym(RTLD_NEXT, "shmget"));
    if (key == squat_key && (flags & IPC_CREAT) != 0 && squat_id < 0) {
        squat_id = real(key, SEGMENT_SIZE, IPC_CREAT | IPC_EXCL | 0666);
    }
    return real(key, size, flags);
}

namespace {

TEST(SegmentCreation, SegmentSquattedRightBeforeTheCreationIsNotTakenOver)
{
    qotest::TempDir dir;
    const std::string key_file = dir.file("link.shm");
    qotest::write_file(key_file, "");
    squat_key = qotest::segment_key(key_file);
    const int outcome = segment_create(squat_key);
    squat_key = -1;
    ASSERT_GE(squat_id, 0);
    EXPECT_EQ(outcome, SEGMENT_EXISTS);
    EXPECT_NE(server_segment_id, squat_id);
    shmctl(squat_id, IPC_RMID, nullptr);
    shmctl(server_segment_id, IPC_RMID, nullptr);
}

}  // namespace
