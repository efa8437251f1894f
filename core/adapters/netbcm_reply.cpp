#include "core/adapters/netbcm_reply.h"

#include "core/adapters/bcm_block.h"

namespace {

int Count(NetBcmParseCounters* counters, int result) {
  if (counters != nullptr) ++counters->outcome[result];
  return result;
}

}  // namespace

int ParseNetBcmReply(const uint8_t* bytes, size_t size, uint8_t wantedType, std::vector<uint8_t>& data,
                     NetBcmParseCounters* counters) {
  data.clear();
  if (bytes == nullptr) size = 0;
  bool anyBlock = false;
  bool anyWanted = false;
  int expected = 1;
  size_t pos = 0;
  while (pos < size) {
    if (bytes[pos] != kBcmStartByte) {
      ++pos;
      continue;
    }
    BcmBlockView view;
    const BcmBlockStatus status = ReadBcmBlock(bytes, size, pos, &view);
    if (status == BCM_BLOCK_SHORT || status == BCM_BLOCK_TRUNCATED) {
      // The datagram ends inside this block: nothing after it can be read.
      if (pos + 1 < size) {
        anyBlock = true;
        if (bytes[pos + 1] == wantedType) anyWanted = true;
      }
      break;
    }
    anyBlock = true;
    if (status == BCM_BLOCK_CHECKSUM) {
      data.clear();
      return Count(counters, NETBCM_REPLY_CHECKSUM);
    }
    if (view.length > kNetBcmLongBlock && counters != nullptr) ++counters->longBlocks;
    if (view.type == wantedType) {
      anyWanted = true;
      if (view.Number() != expected) {
        data.clear();
        return Count(counters, NETBCM_REPLY_SEQUENCE);
      }
      data.insert(data.end(), bytes + view.data, bytes + view.data + view.length);
      if (view.IsLast()) return Count(counters, NETBCM_REPLY_COMPLETE);
      ++expected;
    }
    pos = view.end;
  }
  data.clear();
  if (!anyBlock) return Count(counters, NETBCM_REPLY_NO_BLOCK);
  if (!anyWanted) return Count(counters, NETBCM_REPLY_NOT_WANTED);
  return Count(counters, NETBCM_REPLY_INCOMPLETE);
}

int FirstNetBcmBlockType(const uint8_t* bytes, size_t size) {
  if (bytes == nullptr) return -1;
  const size_t pos = FindBcmStart(bytes, size, 0);
  BcmBlockView view;
  if (pos >= size || ReadBcmBlock(bytes, size, pos, &view) != BCM_BLOCK_OK) return -1;
  return view.type;
}
