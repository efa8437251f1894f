#include "core/scp/scp_frame.h"

#include <cstring>
#include <new>

namespace {

void Record(KT_ErrorStatus* status, int32_t cls, int32_t fn, int32_t code, int32_t sys) {
  if (status != nullptr) {
    status->LogError(cls, fn, code, sys);
  } else {
    AppendErrorLog(cls, fn, code, sys);
  }
}

}  // namespace

int BuildScpFrame(const KT_ScpMessage& message, std::vector<uint8_t>& frame, KT_ErrorStatus* status) {
  frame.clear();
  if (message.type < SCP_GET || message.type > SCP_STATUS) {
    Record(status, ERR_FRAME_BUILDER, SCP_FRAME_FN_BUILD, SCP_FRAME_BAD_TYPE, 0);
    return -1;
  }
  const size_t k = message.key.size();
  if (k > kScpMaxKey) {
    Record(status, ERR_FRAME_BUILDER, SCP_FRAME_FN_BUILD, SCP_FRAME_KEY_TOO_LONG, 0);
    return -1;
  }
  const bool get = message.type == SCP_GET;
  const size_t d = get ? 0 : message.data.size();
  const size_t total = (get ? kScpGetHeader : kScpDataHeader) + k + d;
  if (total > kScpMaxFrame) {
    Record(status, ERR_FRAME_BUILDER, SCP_FRAME_FN_BUILD, SCP_FRAME_TOO_LONG, 0);
    return -1;
  }
  try {
    frame.resize(total);
  } catch (const std::bad_alloc&) {
    frame.clear();
    Record(status, ERR_FRAME_BUILDER, SCP_FRAME_FN_BUILD, SCP_FRAME_NO_MEMORY, GetSocketError());
    return -1;
  }
  uint8_t* p = frame.data();
  p[0] = kScpFrameMarker;
  PutBe16(p + 1, static_cast<uint32_t>(total));
  p[3] = static_cast<uint8_t>(message.type);
  size_t at = 4;
  if (get) p[at++] = message.extraCode;
  p[at++] = static_cast<uint8_t>(k);
  if (k != 0) std::memcpy(p + at, message.key.data(), k);
  at += k;
  if (!get) {
    PutBe16(p + at, static_cast<uint32_t>(d));
    at += 2;
    if (d != 0) std::memcpy(p + at, message.data.data(), d);
  }
  return 1;
}

int DecodeScpFrame(const uint8_t* buffer, size_t length, KT_ScpMessage& message) {
  message.Clear();
  if (buffer == nullptr || length == 0) return -1;
  const void* found = std::memchr(buffer, kScpFrameMarker, length);
  if (found == nullptr) return -1;
  size_t pos = static_cast<size_t>(static_cast<const uint8_t*>(found) - buffer) + 1;

  // Length field.
  if (length - pos < 2) return -1;
  const size_t frame_length = GetBe16(buffer + pos);
  pos += 2;
  if (length < frame_length) return -1;

  // Type.
  if (pos >= length) return -1;
  const int type = buffer[pos++];
  if (type < SCP_GET || type > SCP_STATUS) return -1;
  message.type = type;

  try {
    if (type == SCP_GET) {
      if (length - pos < 2) return -1;
      message.extraCode = buffer[pos++];
      const size_t k = buffer[pos++];
      if (length - pos < k) return -1;
      // A GET carries no data length of its own: its length field must describe it exactly,
      // which also means that it must begin at the start of the buffer.
      if (pos + k != frame_length) return -1;
      message.key.assign(buffer + pos, buffer + pos + k);
      return 0;
    }

    if (pos >= length) return -1;
    const size_t k = buffer[pos++];
    if (length - pos < k) return -1;
    message.key.assign(buffer + pos, buffer + pos + k);
    pos += k;
    if (length - pos < 2) return -1;
    const size_t d = GetBe16(buffer + pos);
    pos += 2;
    if (length - pos < d) return -1;
    message.data.assign(buffer + pos, buffer + pos + d);
    pos += d;
  } catch (const std::bad_alloc&) {
    return -1;
  }
  return pos < length ? static_cast<int>(pos) : 0;
}

int BuildStatusReplyFrame(const KT_ScpMessage& request, std::vector<uint8_t>& frame, uint8_t code,
                          KT_ErrorStatus* status) {
  frame.clear();
  if (request.key.empty()) {
    Record(status, ERR_SCP_OBJECT, 1, 1, GetSocketError());
    return -1;
  }
  KT_ScpMessage reply;
  reply.type = SCP_STATUS;
  try {
    reply.key = request.key;
    reply.data.assign(1, code);
  } catch (const std::bad_alloc&) {
    Record(status, ERR_SCP_OBJECT, 1, 2, GetSocketError());
    return -1;
  }
  // A decoded key always fits; a longer one is refused by the builder with its own record.
  if (BuildScpFrame(reply, frame, status) < 0) return -1;
  return 1;
}
