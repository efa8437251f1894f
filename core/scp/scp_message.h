// SCP message: one request or answer between a console and an agent (or two agents).
//
// A message addresses one SCP block, one branch of it or one field of a branch by a short
// key ([block], [block, branch] or [block, branch, field]; branch or field 0 again means the
// whole block or branch) and may carry the block's encoded fields as data. On every transport
// it travels as one SCP frame (see core/scp/scp_frame.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/base/error_status.h"

// Message types: the type byte of a frame.
enum ScpType : int {
  SCP_GET = 1,     // key and extra code, no data
  SCP_SET = 2,     // key and the encoded fields to apply
  SCP_DATA = 3,    // key and the encoded fields of the addressed block part
  SCP_STATUS = 4,  // key and one data byte: a reply code or a block status byte
};

// Reply codes: the one data byte of an SCP_STATUS answer.
enum ScpReplyCode : uint8_t {
  SCP_SET_OK = 0,
  SCP_GET_RESEND = 1,
  SCP_SET_FAILED = 2,
  SCP_GET_FAILED = 3,
  SCP_GET_OK = 4,
  SCP_INVALID_PACKET = 5,
  SCP_NOT_AVAILABLE = 6,
  SCP_SET_REFUSED = 7,
  SCP_EXECUTE_FAILED = 9,
};

// Positions of the key bytes.
inline constexpr int kScpKeyBlock = 0;
inline constexpr int kScpKeyBranch = 1;
inline constexpr int kScpKeyField = 2;

// The message owns its key and data bytes; copies are deep. Two messages are equal when type,
// key, data and extra code are equal (the error record does not take part).
class KT_ScpMessage : public KT_ErrorStatus {
 public:
  KT_ScpMessage() = default;
  KT_ScpMessage(int type, std::vector<uint8_t> key, std::vector<uint8_t> data = {}, uint8_t extra = 0);

  bool operator==(const KT_ScpMessage& other) const;
  bool operator!=(const KT_ScpMessage& other) const { return !(*this == other); }

  // Key length as carried in the frame (0..255 on the wire).
  int KeyLength() const { return static_cast<int>(key.size()); }
  // Data length as carried in the frame (0..65535 on the wire).
  int DataLength() const { return static_cast<int>(data.size()); }
  // Key byte i, or 0 when the key is shorter.
  uint8_t KeyByte(int i) const { return i >= 0 && static_cast<size_t>(i) < key.size() ? key[i] : 0; }

  // Empties the message: type 0, no key, no data, extra code 0.
  void Clear();

  int type = 0;
  std::vector<uint8_t> key;
  std::vector<uint8_t> data;
  // GET frames only: a GET of block 1 with a non-zero extra code registers the sender for
  // status pushes.
  uint8_t extraCode = 0;
};
