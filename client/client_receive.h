// SPDX-License-Identifier: MIT
// Fetching a received telegram, for qo3964m_receive and the waiting
// qo3964m_receive_wait.
//
// Internal to the library: nothing here is part of the public header.
#pragma once

namespace qo3964::client {

// What qo3964m_receive returns; `taken` tells whether a telegram (or a
// receive error) was taken from the block, which a result of 0 does not
// tell for a telegram of 0 bytes.
int fetch_received(int handle, void* buffer, int size, bool& taken);

}  // namespace qo3964::client
