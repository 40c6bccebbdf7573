#include "telegram_buffers.h"

TelegramSlot snd_set{};
ReceiveFifo p3964_fifo{};
