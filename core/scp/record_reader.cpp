#include "core/scp/record_reader.h"

#include <cstring>
#include <new>

#include "core/scp/record_writer.h"

KT_RecordReader::KT_RecordReader(const uint8_t* data, size_t length)
    : data_(data), length_(data == nullptr ? 0 : length) {}

int KT_RecordReader::Fail(int32_t failure) {
  // Bad input is the sender's fault, not ours: the reason is kept in the record for the
  // caller but not appended to error.dat, which would fill up with one line per bad packet.
  errorClass = ERR_BLOCK_CONVERSION;
  function = RECORD_FN_READ;
  code = failure;
  systemError = 0;
  failed_ = true;
  return -1;
}

int KT_RecordReader::Get8(uint8_t& value) {
  if (!Has(1)) return Fail(RECORD_TRUNCATED);
  value = data_[position_++];
  return 1;
}

int KT_RecordReader::Get16(uint16_t& value) {
  if (!Has(2)) return Fail(RECORD_TRUNCATED);
  value = static_cast<uint16_t>((data_[position_] << 8) | data_[position_ + 1]);
  position_ += 2;
  return 1;
}

int KT_RecordReader::Get32(uint32_t& value) {
  if (!Has(4)) return Fail(RECORD_TRUNCATED);
  const uint8_t* p = data_ + position_;
  value = (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
          (static_cast<uint32_t>(p[2]) << 8) | p[3];
  position_ += 4;
  return 1;
}

int KT_RecordReader::Get32(int32_t& value) {
  uint32_t u = 0;
  if (Get32(u) < 0) return -1;
  value = static_cast<int32_t>(u);
  return 1;
}

int KT_RecordReader::GetText(std::optional<std::string>& text) {
  if (!Has(1)) return Fail(RECORD_TRUNCATED);
  const size_t count = data_[position_];
  if (count == 0) {
    ++position_;
    text.reset();
    return 1;
  }
  if (!Has(1 + count)) return Fail(RECORD_TRUNCATED);
  const char* chars = reinterpret_cast<const char*>(data_ + position_ + 1);
  if (chars[count - 1] != '\0') return Fail(RECORD_BAD_TEXT);
  try {
    text.emplace(chars, std::strlen(chars));
  } catch (const std::bad_alloc&) {
    LogError(ERR_BLOCK_CONVERSION, RECORD_FN_READ, RECORD_TEXT_NO_MEMORY, GetSocketError());
    failed_ = true;
    return -1;
  }
  position_ += 1 + count;
  return 1;
}

int KT_RecordReader::GetBytes(uint8_t* out, size_t count) {
  if (!Has(count)) return Fail(RECORD_TRUNCATED);
  if (count != 0) {
    if (out == nullptr) return Fail(RECORD_TRUNCATED);
    std::memcpy(out, data_ + position_, count);
  }
  position_ += count;
  return 1;
}

int KT_RecordReader::GetBytes(std::vector<uint8_t>& out, size_t count) {
  if (!Has(count)) return Fail(RECORD_TRUNCATED);
  try {
    out.assign(data_ + position_, data_ + position_ + count);
  } catch (const std::bad_alloc&) {
    LogError(ERR_BLOCK_CONVERSION, RECORD_FN_READ, RECORD_TEXT_NO_MEMORY, GetSocketError());
    failed_ = true;
    return -1;
  }
  position_ += count;
  return 1;
}

int KT_RecordReader::Skip(size_t count) {
  if (!Has(count)) return Fail(RECORD_TRUNCATED);
  position_ += count;
  return 1;
}
