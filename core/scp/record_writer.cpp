#include "core/scp/record_writer.h"

#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

uint8_t* KT_RecordWriter::Reserve(size_t count) {
  const size_t used = buffer_.size();
  try {
    if (used + count > buffer_.capacity()) buffer_.reserve(buffer_.capacity() + count + 10);
    buffer_.resize(used + count);
  } catch (const std::bad_alloc&) {
    LogError(ERR_BLOCK_CONVERSION, RECORD_FN_WRITE, RECORD_NO_MEMORY, GetSocketError());
    return nullptr;
  } catch (const std::length_error&) {
    LogError(ERR_BLOCK_CONVERSION, RECORD_FN_WRITE, RECORD_NO_MEMORY, GetSocketError());
    return nullptr;
  }
  return buffer_.data() + used;
}

int KT_RecordWriter::Put8(uint32_t value) {
  uint8_t* p = Reserve(1);
  if (p == nullptr) return -1;
  p[0] = static_cast<uint8_t>(value);
  return 1;
}

int KT_RecordWriter::Put16(uint32_t value) {
  uint8_t* p = Reserve(2);
  if (p == nullptr) return -1;
  p[0] = static_cast<uint8_t>(value >> 8);
  p[1] = static_cast<uint8_t>(value);
  return 1;
}

int KT_RecordWriter::Put32(uint32_t value) {
  uint8_t* p = Reserve(4);
  if (p == nullptr) return -1;
  p[0] = static_cast<uint8_t>(value >> 24);
  p[1] = static_cast<uint8_t>(value >> 16);
  p[2] = static_cast<uint8_t>(value >> 8);
  p[3] = static_cast<uint8_t>(value);
  return 1;
}

int KT_RecordWriter::PutTextView(std::string_view text) {
  const size_t zero = text.find('\0');
  if (zero != std::string_view::npos) text = text.substr(0, zero);
  if (text.size() > kRecordMaxText) {
    LogError(ERR_BLOCK_CONVERSION, RECORD_FN_WRITE, RECORD_TEXT_TOO_LONG, static_cast<int32_t>(text.size()));
    return -1;
  }
  uint8_t* p = Reserve(text.size() + 2);
  if (p == nullptr) return -1;
  p[0] = static_cast<uint8_t>(text.size() + 1);
  if (!text.empty()) std::memcpy(p + 1, text.data(), text.size());
  p[text.size() + 1] = 0;
  return 1;
}

int KT_RecordWriter::PutText(const char* text) {
  if (text == nullptr) return Put8(0);
  return PutTextView(std::string_view(text));
}

int KT_RecordWriter::PutText(const std::string& text) { return PutTextView(text); }

int KT_RecordWriter::PutText(const std::optional<std::string>& text) {
  if (!text) return Put8(0);
  return PutTextView(*text);
}

int KT_RecordWriter::PutBytes(const uint8_t* bytes, size_t count) {
  if (count == 0) return 1;
  if (bytes == nullptr) return -1;
  uint8_t* p = Reserve(count);
  if (p == nullptr) return -1;
  std::memcpy(p, bytes, count);
  return 1;
}

int KT_RecordWriter::PutCount8(size_t count) {
  if (count > 0xFF) {
    LogError(ERR_BLOCK_CONVERSION, RECORD_FN_WRITE, RECORD_COUNT_TOO_LARGE, static_cast<int32_t>(count));
    return -1;
  }
  return Put8(static_cast<uint32_t>(count));
}

std::vector<uint8_t> KT_RecordWriter::Take() {
  std::vector<uint8_t> out = std::move(buffer_);
  buffer_ = {};
  return out;
}
