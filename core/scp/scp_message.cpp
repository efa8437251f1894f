#include "core/scp/scp_message.h"

#include <utility>

KT_ScpMessage::KT_ScpMessage(int t, std::vector<uint8_t> k, std::vector<uint8_t> d, uint8_t extra)
    : type(t), key(std::move(k)), data(std::move(d)), extraCode(extra) {}

bool KT_ScpMessage::operator==(const KT_ScpMessage& other) const {
  return type == other.type && extraCode == other.extraCode && key == other.key && data == other.data;
}

void KT_ScpMessage::Clear() {
  type = 0;
  key.clear();
  data.clear();
  extraCode = 0;
}
