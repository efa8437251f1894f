// BCM blocks: the binary framing of the maker's UPS protocol, shared by the serial BCM driver
// (agent/protocols/bcm.h) and the network BCM driver (which carries the same blocks in UDP datagrams).
//
// Sent block (request, command, authorization, and the network select/access blocks):
//
//   +------+-----+------------------+-----+
//   | 0xAB |  n  |  n payload bytes | sum |     n = 1..255
//   +------+-----+------------------+-----+
//   The payload starts with the request or command number; the checksum byte makes the sum
//   of all n + 3 bytes 0 modulo 256.
//
// Reply block (one reply is one or more blocks of the same type, their data joined):
//
//   +------+------+-----+-----+------------------+-----+
//   | 0xAB | type |  l  | seq |  l data bytes    | sum |
//   +------+------+-----+-----+------------------+-----+
//   seq: bits 0-6 the block number (1, 2, 3, ...), bit 7 set on the last block of the reply;
//   the checksum makes the sum of all l + 5 bytes 0 modulo 256. Numbers inside the data are
//   little-endian.
//
// Requests (one payload byte) and the reply type that answers them:
//   '1' 49 identification -> 1     '2' 50 alarm history -> 2    '3' 51 status -> 3
//   '4' 52 meters -> 4             '5' 53 active alarms -> 5    '6' 54 configuration -> 6
//   ':' 58 waveform -> 10          ';' 59 battery test -> 11    '<' 60 ratings -> 12
//   '@' 64 supported commands -> 16                            'A' 65 load segments -> 17
//   0xA0 resynchronise (leaves a text service menu; answered by any block)
// Commands (sent after an authorization block; answered by type 9: result code, command):
//   138 delayed off (seconds: 1 byte, or 2 bytes little-endian on UPSes that take them)
//   145 / 147 on / off after minutes (u16)    146 / 148 on / off at a local date and time (BCD)
//   149 set a configuration value             151 load-segment parameter (sub, segment, u16)
//   177 battery test (0, seconds)
// Network adapter blocks: select 0xCE (UPS or load segment), access 0xCF (6-byte code).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Framing bytes.
inline constexpr uint8_t kBcmStartByte = 0xAB;
inline constexpr uint8_t kBcmLastBlockFlag = 0x80;
inline constexpr uint8_t kBcmBlockNumberMask = 0x7F;
// Start, length and checksum around a sent payload.
inline constexpr size_t kBcmSendOverhead = 3;
inline constexpr size_t kBcmMaxPayload = 255;
// Start, type, length, sequence before the data of a reply block; the checksum after it.
inline constexpr size_t kBcmReplyHeaderBytes = 4;
inline constexpr size_t kBcmReplyOverhead = 5;
// The shortest reply the serial parser accepts (a header, one data byte, the checksum).
inline constexpr size_t kBcmMinReplyBytes = 6;

// Requests.
enum BcmRequest : uint8_t {
  BCM_REQ_IDENTIFICATION = 49,
  BCM_REQ_ALARM_HISTORY = 50,
  BCM_REQ_STATUS = 51,
  BCM_REQ_METERS = 52,
  BCM_REQ_ALARMS = 53,
  BCM_REQ_CONFIG = 54,
  BCM_REQ_WAVEFORM = 58,
  BCM_REQ_BATTERY_TEST = 59,
  BCM_REQ_RATINGS = 60,
  BCM_REQ_SUPPORTED_COMMANDS = 64,
  BCM_REQ_LOAD_SEGMENTS = 65,
  BCM_REQ_RESYNC = 0xA0,
};

// Reply types.
enum BcmReplyType : uint8_t {
  BCM_REPLY_IDENTIFICATION = 1,
  BCM_REPLY_ALARM_HISTORY = 2,
  BCM_REPLY_STATUS = 3,
  BCM_REPLY_METERS = 4,
  BCM_REPLY_ALARMS = 5,
  BCM_REPLY_CONFIG = 6,
  BCM_REPLY_ACK = 9,
  BCM_REPLY_WAVEFORM = 10,
  BCM_REPLY_BATTERY_TEST = 11,
  BCM_REPLY_RATINGS = 12,
  BCM_REPLY_SUPPORTED_COMMANDS = 16,
  BCM_REPLY_LOAD_SEGMENTS = 17,
};

// Commands.
enum BcmCommand : uint8_t {
  BCM_CMD_IMMEDIATE_ON = 137,
  BCM_CMD_DELAYED_OFF = 138,
  BCM_CMD_IMMEDIATE_OFF = 139,
  BCM_CMD_ON_AFTER_MINUTES = 145,
  BCM_CMD_ON_AT_TIME = 146,
  BCM_CMD_OFF_AFTER_MINUTES = 147,
  BCM_CMD_OFF_AT_TIME = 148,
  BCM_CMD_SET_CONFIG = 149,
  BCM_CMD_SEGMENT_PARAMETER = 151,
  BCM_CMD_BATTERY_TEST = 177,
  BCM_CMD_CHECK_ACCESS = 178,
};

// Sub-commands of 151 (segment parameter) and the segment indicator offsets they take.
inline constexpr uint8_t kBcmSegmentRestartDelay = 2;
inline constexpr uint8_t kBcmSegmentOff = 3;
inline constexpr uint8_t kBcmSegmentOn = 4;
inline constexpr uint8_t kBcmSegmentSwitchBase = 11;  // segment + 11 for on / off
inline constexpr uint8_t kBcmSegmentDelayBase = 22;   // segment + 22 for the restart delay
// Values of 149 (set configuration value).
inline constexpr uint8_t kBcmConfigLowBatteryWarning = 5;
inline constexpr uint8_t kBcmConfigAudibleAlarm = 6;
// Bit 7 of the first year byte of a date-and-time command.
inline constexpr uint8_t kBcmDateYearFlag = 0x80;

// Network adapter blocks.
inline constexpr uint8_t kBcmSelectBlock = 0xCE;
inline constexpr uint8_t kBcmAccessBlock = 0xCF;

// Acknowledgement result codes (byte 0 of a type-9 reply).
enum BcmAckCode : uint8_t {
  BCM_ACK_NOT_RESPONDED = 0,
  BCM_ACK_ACCEPTED = '1',
  BCM_ACK_NOT_IMPLEMENTED = '2',
  BCM_ACK_BUSY = '3',
  BCM_ACK_UNRECOGNIZED = '4',
  BCM_ACK_RANGE_ERROR = '5',
  BCM_ACK_INVALID_PARAMETER = '6',
  BCM_ACK_ADJUSTED = '7',
};
// The text of an acknowledgement result code ("Command Accepted." ...).
const char* BcmCommandResultText(int code);
// True for the codes that mean the UPS took the command ('1' and '7').
inline bool BcmCommandAccepted(int code) { return code == BCM_ACK_ACCEPTED || code == BCM_ACK_ADJUSTED; }

// The checksum byte that makes the sum of `bytes` and itself 0 modulo 256.
uint8_t BcmChecksum(const uint8_t* bytes, size_t count);
// True when the bytes sum to 0 modulo 256.
bool BcmSumIsZero(const uint8_t* bytes, size_t count);

// Appends one sent block with the payload to `out`. False (nothing appended) for an empty
// payload or one longer than 255 bytes.
bool AppendBcmBlock(std::vector<uint8_t>& out, const uint8_t* payload, size_t count);
// The block of a payload; empty when the payload is empty or too long.
std::vector<uint8_t> BuildBcmBlock(const std::vector<uint8_t>& payload);

// One reply block found in a buffer; offsets are into that buffer.
struct BcmBlockView {
  uint8_t type = 0;
  uint8_t sequence = 0;     // the raw sequence byte
  size_t data = 0;          // offset of the first data byte
  size_t length = 0;        // data bytes
  size_t end = 0;           // offset of the byte after the checksum
  int Number() const { return sequence & kBcmBlockNumberMask; }
  bool IsLast() const { return (sequence & kBcmLastBlockFlag) != 0; }
};

// Outcome of reading one reply block at an offset.
enum BcmBlockStatus : int {
  BCM_BLOCK_OK = 0,
  BCM_BLOCK_NO_START = 1,   // the byte at the offset is not 0xAB
  BCM_BLOCK_SHORT = 2,      // the header or the checksum lies beyond the buffer
  BCM_BLOCK_TRUNCATED = 3,  // the data length runs past the buffer
  BCM_BLOCK_CHECKSUM = 4,   // the bytes do not sum to 0
};

// Reads the reply block that starts at `offset`. Every offset and length is checked against
// `size`; `view` is filled only for BCM_BLOCK_OK (and the checksum case, for a diagnosis).
BcmBlockStatus ReadBcmBlock(const uint8_t* bytes, size_t size, size_t offset, BcmBlockView* view);
// Offset of the first start byte at or after `offset`; `size` when there is none.
size_t FindBcmStart(const uint8_t* bytes, size_t size, size_t offset);

// One reply of the serial line: its type and the joined data of its blocks.
struct BcmReply {
  uint8_t type = 0;
  std::vector<uint8_t> data;
  int blocks = 0;
};

// Error codes of ParseBcmReply (the serial driver records them as class 11, function 2).
enum BcmParseError : int {
  BCM_PARSE_TOO_SHORT = 1,      // fewer than 6 bytes from the first start byte on
  BCM_PARSE_NO_START = 2,       // no 0xAB where a block must start (or none at all)
  BCM_PARSE_PAST_END = 3,       // the reply ends before its last block
  BCM_PARSE_TYPE_CHANGED = 4,   // a block of another type inside one reply
  BCM_PARSE_SEQUENCE = 5,       // a block number that is not the next one
  BCM_PARSE_BLOCK_TOO_LONG = 6, // a block longer than the bytes present
  BCM_PARSE_CHECKSUM = 7,
};

// Parses one reply of the serial line from `offset` on: bytes before the first start byte are
// skipped; then blocks 1, 2, ... of one type up to the one with bit 7 set. Result: the offset
// of the byte after the last block when more bytes follow, 0 when the reply used the buffer
// up, -1 on error with *error set (the collected data is dropped then).
int ParseBcmReply(const uint8_t* bytes, size_t size, size_t offset, BcmReply* reply, int* error);

// Little-endian readers for reply data; the caller checks the bounds.
inline uint16_t BcmU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t BcmU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
// The characters of a fixed-length text field of reply data: from `offset`, up to `length`
// bytes, the end of the data or the first zero byte, whichever comes first.
std::string BcmFixedText(const std::vector<uint8_t>& data, size_t offset, size_t length);
// The value of a two-digit BCD byte; -1 when a nibble is not a decimal digit.
int BcmFromBcd(uint8_t b);
// The BCD byte of 0..99 (other values are taken modulo 100).
uint8_t BcmToBcd(int v);
// The six date bytes of the on/off-at-a-time commands for a moment (seconds since 1970) in
// local time: century with bit 7 set, year, month, day, hour, minute, all BCD. False when the
// local time cannot be had.
bool BcmLocalDate(int64_t when, uint8_t out[6]);
