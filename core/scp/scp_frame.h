// SCP frame: the bytes of one SCP message on every transport (UDP, IPX, shared memory).
//
// All multi-byte numbers are big-endian. K = key length, D = data length, L = frame length.
//
//   GET (type 1), L = 6 + K:           C0 | L (2) | 01 | extra code | K | key (K)
//   SET, DATA, STATUS (types 2..4),    C0 | L (2) | type | K | key (K) | D (2) | data (D)
//     L = 7 + K + D
//
// A status reply is a type-4 frame with one data byte, the reply code (L = K + 8). A frame is
// always sent whole, so L must fit its 16-bit field: a message that would need more is refused
// by the builders (it is never wrapped), and the caller answers with a failure status instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/base/error_status.h"
#include "core/scp/scp_message.h"

inline constexpr uint8_t kScpFrameMarker = 0xC0;
// Fixed bytes of a GET frame (marker, length, type, extra code, key length).
inline constexpr size_t kScpGetHeader = 6;
// Fixed bytes of the other frames (marker, length, type, key length, data length).
inline constexpr size_t kScpDataHeader = 7;
// Largest frame the 16-bit length field can describe.
inline constexpr size_t kScpMaxFrame = 0xFFFF;
// Largest key the key-length byte can describe.
inline constexpr size_t kScpMaxKey = 0xFF;

// Function and failure codes of the frame builder's error records (class 20).
enum ScpFrameError : int32_t {
  SCP_FRAME_FN_BUILD = 1,
  SCP_FRAME_NO_MEMORY = 1,
  SCP_FRAME_TOO_LONG = 2,   // L would not fit the length field
  SCP_FRAME_KEY_TOO_LONG = 3,
  SCP_FRAME_BAD_TYPE = 4,   // a type outside 1..4 cannot be framed
};

// Encodes a message into `frame` (exactly L bytes). Returns 1; on failure -1 with `frame`
// empty and an error record (class 20, function 1) in `status` (or only in error.dat when
// `status` is null).
int BuildScpFrame(const KT_ScpMessage& message, std::vector<uint8_t>& frame, KT_ErrorStatus* status = nullptr);

// Decodes one frame from `buffer` into `message` (emptied first). Returns -1 when no valid
// frame is found, 0 when the frame used up the buffer, or, for types 2..4, the offset of the
// first byte after the frame when more bytes follow. Nothing is read beyond `length` bytes.
// On failure the message keeps what was already decoded: for types 2..4 the key is filled
// before the data length is checked, so the receiver can answer "Invalid packet" for it.
int DecodeScpFrame(const uint8_t* buffer, size_t length, KT_ScpMessage& message);

// Builds the status reply to `request`: its key, one data byte `code`. Without a request key
// nothing is built, error (15, 1, 1) is recorded and the result is -1 (code 2 when the frame
// cannot be allocated); else 1.
int BuildStatusReplyFrame(const KT_ScpMessage& request, std::vector<uint8_t>& frame, uint8_t code,
                          KT_ErrorStatus* status = nullptr);

// Big-endian helpers shared by the frame and record code.
inline void PutBe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline uint32_t GetBe16(const uint8_t* p) { return (static_cast<uint32_t>(p[0]) << 8) | p[1]; }
