#include "core/scp/block.h"

#include <algorithm>
#include <new>

#include "core/scp/scp_frame.h"
#include "platform/clock.h"

int KT_Block::ConvertBlock(int direction, KT_RecordWriter* writer, KT_RecordReader* reader) {
  // Index loop: the entry list is not changed by a conversion, but is re-read each turn.
  for (size_t i = 0; i < branches_.Entries().size(); ++i) {
    const int branch = branches_.Entries()[i].branch;
    if (branch == 0) continue;
    if (ConvertBranch(branch, direction, writer, reader) < 0) return -1;
  }
  return 1;
}

int KT_Block::ConvertBranch(int branch, int direction, KT_RecordWriter* writer, KT_RecordReader* reader) {
  const int fields = branches_.GetFieldCount(branch) - 1;
  if (fields <= 0) return 1;
  for (int field = 1; field <= fields; ++field) {
    if (ConvertField(branch, field, direction, writer, reader) < 0) return -1;
  }
  if (direction == CONVERT_DECODE) {
    // The block as a whole and the branch just decoded are now filled; other branches keep
    // their own times.
    branches_.Touch(0);
    branches_.Touch(branch);
  }
  return 1;
}

int KT_Block::ConvertMessage(std::vector<uint8_t>& reply, const KT_ScpMessage& message) {
  reply.clear();
  const int key_length = message.KeyLength();
  if (key_length < 1 || key_length > 3) {
    LogError(ERR_BLOCK_CONVERSION, RECORD_FN_MESSAGE, RECORD_BAD_KEY, key_length);
    return -1;
  }
  const bool encode = message.type == SCP_GET;
  const int direction = encode ? CONVERT_ENCODE : CONVERT_DECODE;
  KT_RecordWriter writer;
  KT_RecordReader reader(message.data);
  KT_RecordWriter* out = encode ? &writer : nullptr;
  KT_RecordReader* in = encode ? nullptr : &reader;

  const int branch = message.KeyByte(kScpKeyBranch);
  const int field = message.KeyByte(kScpKeyField);
  int result;
  if (key_length == 1 || branch == 0) {
    result = ConvertBlock(direction, out, in);
  } else if (key_length == 2 || field == 0) {
    result = ConvertBranch(branch, direction, out, in);
  } else {
    result = ConvertField(branch, field, direction, out, in);
  }
  if (!encode || result < 0) return result;

  const size_t k = message.key.size();
  const size_t d = writer.Size();
  const size_t total = kScpDataHeader + k + d;
  if (total > kScpMaxFrame) {
    LogError(ERR_BLOCK_CONVERSION, RECORD_FN_MESSAGE, RECORD_REPLY_TOO_LONG, static_cast<int32_t>(d));
    return -1;
  }
  try {
    reply.resize(total);
  } catch (const std::bad_alloc&) {
    reply.clear();
    LogError(ERR_BLOCK_CONVERSION, RECORD_FN_MESSAGE, RECORD_NO_REPLY_MEMORY, GetSocketError());
    return -1;
  }
  uint8_t* p = reply.data();
  p[0] = kScpFrameMarker;
  PutBe16(p + 1, static_cast<uint32_t>(total));
  p[3] = SCP_DATA;
  p[4] = static_cast<uint8_t>(k);
  std::copy(message.key.begin(), message.key.end(), p + 5);
  PutBe16(p + 5 + k, static_cast<uint32_t>(d));
  if (d != 0) std::copy(writer.Bytes(), writer.Bytes() + d, p + 7 + k);
  return 1;
}

int KT_Block::StoreReceived(int branch, const std::vector<uint8_t>& data) {
  if (data.empty()) return 0;
  branches_.SetReceived(branch, data[0]);
  return 1;
}

bool KT_Block::IsFresh(int branch) const {
  const int64_t t = branches_.GetTime(branch);
  if (t == 0) return false;
  if (refresh_period_ >= kRefreshNever) return true;
  return platform::Now() - t <= refresh_period_;
}
