#include "shared_segment.h"

#include <atomic>
#include <cstring>

namespace qo3964 {

void copy_to_block(volatile JobBlock& block, const void* source, int32_t length)
{
    if (length <= 0 || length > TELEGRAM_MAX) {  // callers check; never overrun
        return;
    }
    std::atomic_signal_fence(std::memory_order_seq_cst);
    std::memcpy(const_cast<uint8_t*>(block.data), source, static_cast<size_t>(length));
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

void copy_from_block(void* target, const volatile JobBlock& block, int32_t length)
{
    if (length <= 0 || length > TELEGRAM_MAX) {  // callers check; never overrun
        return;
    }
    std::atomic_signal_fence(std::memory_order_seq_cst);
    std::memcpy(target, const_cast<const uint8_t*>(block.data), static_cast<size_t>(length));
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

}  // namespace qo3964
