// SPDX-License-Identifier: MIT
#include "shared_segment.h"

#include <cstring>

namespace qo3964 {

void copy_to_block(volatile JobBlock& block, const void* source, int32_t length)
{
    if (length <= 0 || length > TELEGRAM_MAX) {  // callers check; never overrun
        return;
    }
    std::memcpy(const_cast<uint8_t*>(block.data), source, static_cast<size_t>(length));
}

void copy_from_block(void* target, const volatile JobBlock& block, int32_t length)
{
    if (length <= 0 || length > TELEGRAM_MAX) {  // callers check; never overrun
        return;
    }
    std::memcpy(target, const_cast<const uint8_t*>(block.data), static_cast<size_t>(length));
}

}  // namespace qo3964
