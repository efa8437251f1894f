// A block's answer to a GET, and a SET or DATA message put to it, as the block tests use them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/scp/block.h"
#include "core/scp/scp_frame.h"
#include "core/scp/scp_message.h"

namespace block_messages {

using Bytes = std::vector<uint8_t>;

// The data of the block's answer to a GET of `key` (the answer must decode).
inline Bytes Get(KT_Block& block, const Bytes& key) {
  Bytes reply;
  EXPECT_EQ(block.ConvertMessage(reply, KT_ScpMessage(SCP_GET, key)), 1);
  KT_ScpMessage m;
  EXPECT_EQ(DecodeScpFrame(reply.data(), reply.size(), m), 0);
  return m.data;
}

// The block's result for a message of `type` (SCP_SET or SCP_DATA) carrying `data`.
inline int Put(KT_Block& block, const Bytes& key, const Bytes& data, uint8_t type = SCP_DATA) {
  Bytes reply;
  return block.ConvertMessage(reply, KT_ScpMessage(type, key, data));
}

}  // namespace block_messages
