#include "core/adapters/bcm_block.h"

#include <ctime>

const char* BcmCommandResultText(int code) {
  switch (code) {
    case BCM_ACK_NOT_RESPONDED: return "Command Not Responded To.";
    case BCM_ACK_ACCEPTED: return "Command Accepted.";
    case BCM_ACK_NOT_IMPLEMENTED: return "Command Not Implemented.";
    case BCM_ACK_BUSY: return "Command Not Accepted. Busy.";
    case BCM_ACK_UNRECOGNIZED: return "Command Unrecognized.";
    case BCM_ACK_RANGE_ERROR: return "Command Failed.  Parameter Range Error.";
    case BCM_ACK_INVALID_PARAMETER: return "Command Failed.  Invalid Parameter.";
    case BCM_ACK_ADJUSTED: return "Command Accepted.  Parameter Adjusted.";
    default: return "Command Failed.  Unknown Reason.";
  }
}

uint8_t BcmChecksum(const uint8_t* bytes, size_t count) {
  unsigned sum = 0;
  for (size_t i = 0; i < count; ++i) sum += bytes[i];
  return static_cast<uint8_t>((0x100 - (sum & 0xFF)) & 0xFF);
}

bool BcmSumIsZero(const uint8_t* bytes, size_t count) {
  unsigned sum = 0;
  for (size_t i = 0; i < count; ++i) sum += bytes[i];
  return (sum & 0xFF) == 0;
}

bool AppendBcmBlock(std::vector<uint8_t>& out, const uint8_t* payload, size_t count) {
  if (payload == nullptr || count == 0 || count > kBcmMaxPayload) return false;
  const size_t start = out.size();
  out.push_back(kBcmStartByte);
  out.push_back(static_cast<uint8_t>(count));
  out.insert(out.end(), payload, payload + count);
  out.push_back(BcmChecksum(out.data() + start, count + 2));
  return true;
}

std::vector<uint8_t> BuildBcmBlock(const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> out;
  AppendBcmBlock(out, payload.data(), payload.size());
  return out;
}

BcmBlockStatus ReadBcmBlock(const uint8_t* bytes, size_t size, size_t offset, BcmBlockView* view) {
  if (bytes == nullptr || offset >= size) return BCM_BLOCK_SHORT;
  if (bytes[offset] != kBcmStartByte) return BCM_BLOCK_NO_START;
  const size_t left = size - offset;
  if (left < kBcmReplyOverhead) return BCM_BLOCK_SHORT;
  const size_t length = bytes[offset + 2];
  if (length > left - kBcmReplyOverhead) return BCM_BLOCK_TRUNCATED;
  BcmBlockView v;
  v.type = bytes[offset + 1];
  v.sequence = bytes[offset + 3];
  v.data = offset + kBcmReplyHeaderBytes;
  v.length = length;
  v.end = offset + length + kBcmReplyOverhead;
  if (view != nullptr) *view = v;
  if (!BcmSumIsZero(bytes + offset, length + kBcmReplyOverhead)) return BCM_BLOCK_CHECKSUM;
  return BCM_BLOCK_OK;
}

size_t FindBcmStart(const uint8_t* bytes, size_t size, size_t offset) {
  if (bytes == nullptr) return size;
  for (size_t i = offset; i < size; ++i) {
    if (bytes[i] == kBcmStartByte) return i;
  }
  return size;
}

int ParseBcmReply(const uint8_t* bytes, size_t size, size_t offset, BcmReply* reply, int* error) {
  int dummy = 0;
  if (error == nullptr) error = &dummy;
  BcmReply collected;
  auto fail = [&](int code) {
    *error = code;
    if (reply != nullptr) *reply = BcmReply();
    return -1;
  };
  size_t pos = FindBcmStart(bytes, size, offset);
  if (pos >= size) return fail(offset < size && size - offset < kBcmMinReplyBytes ? BCM_PARSE_TOO_SHORT : BCM_PARSE_NO_START);
  if (size - pos < kBcmMinReplyBytes) return fail(BCM_PARSE_TOO_SHORT);
  int expected = 1;
  for (;;) {
    BcmBlockView view;
    switch (ReadBcmBlock(bytes, size, pos, &view)) {
      case BCM_BLOCK_OK: break;
      case BCM_BLOCK_NO_START: return fail(BCM_PARSE_NO_START);
      case BCM_BLOCK_SHORT: return fail(BCM_PARSE_PAST_END);
      case BCM_BLOCK_TRUNCATED: return fail(BCM_PARSE_BLOCK_TOO_LONG);
      case BCM_BLOCK_CHECKSUM: return fail(BCM_PARSE_CHECKSUM);
    }
    if (collected.blocks == 0) {
      collected.type = view.type;
    } else if (view.type != collected.type) {
      return fail(BCM_PARSE_TYPE_CHANGED);
    }
    if (view.Number() != expected) return fail(BCM_PARSE_SEQUENCE);
    collected.data.insert(collected.data.end(), bytes + view.data, bytes + view.data + view.length);
    ++collected.blocks;
    pos = view.end;
    if (view.IsLast()) break;
    if (pos >= size) return fail(BCM_PARSE_PAST_END);
    ++expected;
  }
  if (reply != nullptr) *reply = std::move(collected);
  *error = 0;
  return pos < size ? static_cast<int>(pos) : 0;
}

std::string BcmFixedText(const std::vector<uint8_t>& data, size_t offset, size_t length) {
  std::string text;
  for (size_t i = offset; i < data.size() && i - offset < length; ++i) {
    if (data[i] == 0) break;
    text += static_cast<char>(data[i]);
  }
  return text;
}

int BcmFromBcd(uint8_t b) {
  const int hi = b >> 4;
  const int lo = b & 0x0F;
  if (hi > 9 || lo > 9) return -1;
  return hi * 10 + lo;
}

uint8_t BcmToBcd(int v) {
  v %= 100;
  if (v < 0) v += 100;
  return static_cast<uint8_t>(((v / 10) << 4) | (v % 10));
}

bool BcmLocalDate(int64_t when, uint8_t out[6]) {
  const time_t t = static_cast<time_t>(when);
  std::tm tm{};
  if (localtime_r(&t, &tm) == nullptr) return false;
  const int year = tm.tm_year + 1900;
  if (year < 0 || year > 9999) return false;
  out[0] = static_cast<uint8_t>(BcmToBcd(year / 100) | kBcmDateYearFlag);
  out[1] = BcmToBcd(year % 100);
  out[2] = BcmToBcd(tm.tm_mon + 1);
  out[3] = BcmToBcd(tm.tm_mday);
  out[4] = BcmToBcd(tm.tm_hour);
  out[5] = BcmToBcd(tm.tm_min);
  return true;
}
