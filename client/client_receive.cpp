// Fetching a received telegram from `receive_job`.
#include <cstdint>

#include "client_connection.h"
#include "qo3964_client.h"
#include "result_codes.h"

using namespace qo3964;

extern "C" int qo3964m_receive(int handle, void* buffer, int size)
{
    const int32_t checked = qo3964::client::check_attached(handle);
    if (checked != 0) {
        return checked;
    }
    volatile JobBlock& job = qo3964::client::connection_for(handle)->segment->receive_job;
    if (job.shutdown_mark != 0) {
        return RC_SHUTDOWN;
    }
    // Too small a buffer leaves the telegram for a call with a larger one.
    if (job.length > size) {
        return RC_TOO_LONG;
    }
    if (job.server_busy != 0) {
        return RC_IN_WORK;  // the server is filling the block
    }
    if (job.state == JOB_IDLE) {
        // A free block with client_busy up was left by a fetch that ended
        // between freeing it and lowering the byte (a killed process): the
        // server would never fill the block again, so lower it here.
        if (job.client_busy != 0) {
            job.client_busy = 0;
        }
        return RC_IN_WORK;  // nothing received
    }
    // The length that counts is the one seen after the state; it must fit
    // the caller's buffer and the block.
    const int32_t length = job.length;
    if (length < 0 || length > size || length > TELEGRAM_MAX || (buffer == nullptr && length > 0)) {
        return RC_TOO_LONG;
    }
    job.client_busy = 1;
    if (length != 0) {
        copy_from_block(buffer, job, length);
    }
    const int32_t status = job.result;
    const int32_t result = status < 0 ? status : length;
    job.length = 0;
    job.result = 0;
    job.state = JOB_IDLE;
    job.client_busy = 0;
    return result;
}
