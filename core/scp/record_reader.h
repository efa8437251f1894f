// Reader of the record encoding of block fields (see core/scp/record_writer.h for the encoding).
//
// The reader is a cursor over bytes it does not own, with the count of bytes left. It never
// reads beyond them: a field that needs more bytes than are left, or a counted text whose
// stored terminator is missing, fails the read (-1) without consuming anything, and the
// reader remembers that it failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/base/error_status.h"

class KT_RecordReader : public KT_ErrorStatus {
 public:
  KT_RecordReader() = default;
  KT_RecordReader(const uint8_t* data, size_t length);
  explicit KT_RecordReader(const std::vector<uint8_t>& data) : KT_RecordReader(data.data(), data.size()) {}

  // Each Get returns 1 and moves on, or -1 and leaves the value and the cursor unchanged.
  int Get8(uint8_t& value);
  int Get16(uint16_t& value);
  int Get32(uint32_t& value);
  int Get32(int32_t& value);
  // A count byte of 0 gives the absent text; c > 0 takes the next c bytes, whose last must be
  // the terminating 0. The text ends at its first zero character.
  int GetText(std::optional<std::string>& text);
  int GetBytes(uint8_t* out, size_t count);
  int GetBytes(std::vector<uint8_t>& out, size_t count);
  int Skip(size_t count);

  size_t Remaining() const { return length_ - position_; }
  size_t Position() const { return position_; }
  bool AtEnd() const { return position_ == length_; }
  // True once any read failed; a converter may check it once at the end instead of each step.
  bool Failed() const { return failed_; }

 private:
  int Fail(int32_t code);
  bool Has(size_t count) const { return length_ - position_ >= count; }

  const uint8_t* data_ = nullptr;
  size_t length_ = 0;
  size_t position_ = 0;
  bool failed_ = false;
};
