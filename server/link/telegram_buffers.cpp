// SPDX-License-Identifier: MIT
#include "telegram_buffers.h"

namespace qo3964 {

TelegramSlot snd_set{};
ReceiveFifo p3964_fifo{};

}  // namespace qo3964
