// Writer of the record encoding of block fields, the same on the wire (SCP data) and in the
// agent's record files. All numbers big-endian:
//
//   byte / flag / small number   1 byte
//   16-bit number                2 bytes, high byte first
//   32-bit number, time          4 bytes, high byte first
//   text                         present, L characters: L + 1, the characters, 0
//                                absent: a single 0
//   list                         a count byte, then each entry's fields in order
//
// The buffer grows as needed (new capacity = old capacity + needed bytes + 10).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/error_status.h"

// Function and failure codes of the record conversion's error records (class 16).
enum RecordError : int32_t {
  RECORD_FN_MESSAGE = 1,       // ConvertMessage
  RECORD_BAD_KEY = 1,          //   key length other than 1..3
  RECORD_NO_REPLY_MEMORY = 2,  //   reply buffer could not be allocated
  RECORD_REPLY_TOO_LONG = 3,   //   the data reply would not fit a frame
  RECORD_FN_WRITE = 2,         // writer
  RECORD_NO_MEMORY = 1,        //   buffer could not grow
  RECORD_TEXT_TOO_LONG = 2,    //   text of more than 254 characters
  RECORD_COUNT_TOO_LARGE = 3,  //   list count above 255
  RECORD_FN_READ = 3,          // reader
  RECORD_TEXT_NO_MEMORY = 1,   //   text could not be allocated
  RECORD_TRUNCATED = 2,        //   fewer bytes left than the field needs
  RECORD_BAD_TEXT = 3,         //   counted text without its terminating zero
};

// Longest text a count byte can describe (count = length + 1 <= 255).
inline constexpr size_t kRecordMaxText = 254;

class KT_RecordWriter : public KT_ErrorStatus {
 public:
  KT_RecordWriter() = default;

  // Each Put returns 1, or -1 with an error record (class 16, function 2) and nothing written.
  int Put8(uint32_t value);
  int Put16(uint32_t value);
  int Put32(uint32_t value);
  // Texts: a null pointer or std::nullopt is the absent text. A text ends at its first zero
  // character; one of more than 254 characters cannot be counted and is refused.
  int PutText(const char* text);
  int PutText(const std::string& text);
  int PutText(const std::optional<std::string>& text);
  int PutBytes(const uint8_t* bytes, size_t count);
  // The count byte of a list; a list of more than 255 entries is refused rather than wrapped.
  int PutCount8(size_t count);

  const std::vector<uint8_t>& Data() const { return buffer_; }
  const uint8_t* Bytes() const { return buffer_.data(); }
  size_t Size() const { return buffer_.size(); }
  size_t Capacity() const { return buffer_.capacity(); }
  // Hands the bytes over and leaves the writer empty.
  std::vector<uint8_t> Take();
  void Clear() { buffer_.clear(); }

 private:
  uint8_t* Reserve(size_t count);
  int PutTextView(std::string_view text);

  std::vector<uint8_t> buffer_;
};
