// The Varnis II reply decoder: a reply is text lines ended by carriage returns, read as pairs
// of a key line and a value line ("STBO" CR "11" CR "MOUL1" CR "229.5" CR ...). The key's
// first letter picks the decoder: 'A' identity, 'B' and 'M' meters, 'N' nominal values, 'S'
// status; other keys are passed over. Values are decimals "a.b" or flags ("11" true).
//
// Also here: the capability list of "UPCL" (marks of the command table below) and the binary
// load-command frames (0x80, command, n, n data bytes, sum of all bytes before it).
//
// KT_Harvan (agent/protocols/harvan.h) owns one decoder per UPS. Each call takes the SCP object's lock
// for the time it changes blocks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/base/error_status.h"

class KT_SCP;

// The Varnis II command table; the capability marks are indexed by it.
inline constexpr int kHarvanCommandCount = 22;
extern const char* const kHarvanCommands[kHarvanCommandCount];
enum HarvanCommandIndex : int {
  HARVAN_UPCL = 0,   // capability list
  HARVAN_UPBT = 1,   // battery test
  HARVAN_UPCD = 2,   // second delay of the shutdown sequence
  HARVAN_UPDS = 3,   // meters
  HARVAN_UPDV = 4,   // nominal limits
  HARVAN_UPEA = 5,
  HARVAN_UPIS = 6,   // general systems test
  HARVAN_UPPC = 7,   // confirms the shutdown sequence
  HARVAN_UPPD = 8,
  HARVAN_UPPF = 9,
  HARVAN_UPPN = 10,
  HARVAN_UPPU = 11,
  HARVAN_UPSD = 12,  // shutdown delay
  HARVAN_UPSN = 13,  // serial number
  HARVAN_UPTP = 14,  // type plate (name and ratings)
  HARVAN_UPLR = 15,
  HARVAN_UPLC = 16,
  HARVAN_UPLC0 = 17,
  HARVAN_UPPM = 18,
  HARVAN_UPPM0 = 19,
  HARVAN_UPPMP = 20,
  HARVAN_BINARY = 21,  // "UP??": binary load commands understood
};
// The confirmation code that goes with "UPPC" and "UPPF".
inline constexpr const char* kHarvanConfirmCode = "TOVRABSENK";

// Binary load commands.
inline constexpr uint8_t kHarvanFrameStart = 0x80;
inline constexpr size_t kHarvanFrameOverhead = 4;  // start, command, n, sum
enum HarvanLoadCommand : uint8_t {
  HARVAN_LOAD_QUERY = 0,        // no data; the reply's byte 3 is the number of segments
  HARVAN_LOAD_OFF = 2,          // segment, delay minutes (high, low)
  HARVAN_LOAD_ON = 3,
  HARVAN_LOAD_OFF_ON_FAIL = 4,  // segment, delay in half seconds (high, low)
  HARVAN_LOAD_RESTART_DELAY = 5,
  HARVAN_LOAD_ON_NOW = 6,       // segment
  HARVAN_LOAD_ARM = 7,          // segment
};
// Byte of a load-query reply that holds the segment count.
inline constexpr size_t kHarvanSegmentCountByte = 3;

// The frame of a binary load command; empty when n exceeds 255.
std::vector<uint8_t> BuildHarvanLoadFrame(uint8_t command, const uint8_t* data, size_t n);

// A reply cut into its lines: split at carriage returns, line feeds dropped, empty lines
// skipped, and an unterminated last line (a reply cut short by the read) left out.
std::vector<std::string> HarvanLines(const uint8_t* bytes, size_t size);

// A decimal "a.b": a the integer part (sign allowed), b the digits after the point read as
// an integer ("59.9" gives 59 and 9). False without a point or digits on both sides, or for
// numbers too long to be readings.
bool ParseHarvanDecimal(const std::string& text, int* a, int* b);
// "11" is true, anything else false.
inline bool HarvanFlag(const std::string& value) { return value == "11"; }

// Error record functions (class 12).
enum HarvanErrorFunction : int32_t {
  HARVAN_FN_PROCESS = 1,
  HARVAN_FN_SEND = 2,
  HARVAN_FN_METER = 3,    // code: the meter key's position 1..27
  HARVAN_FN_NOMINAL = 4,  // code: the nominal key's position 1..10
  HARVAN_FN_SHUTDOWN = 5,
  HARVAN_FN_CAPABILITIES = 6,
  HARVAN_FN_LOAD_COMMAND = 7,
};

class HarvanReplyDecoder : public KT_ErrorStatus {
 public:
  explicit HarvanReplyDecoder(KT_SCP& scp);

  // Decodes every key of a reply. -1 when a decoder failed (or no data: error (12, 1, 1)),
  // 1 when any key was decoded, 0 when none.
  int Process(const uint8_t* bytes, size_t size);
  int Process(const std::vector<uint8_t>& reply) { return Process(reply.data(), reply.size()); }

  // One key and its value; the block changes happen under the lock the caller holds.
  int DecodeIdentity(const std::string& key, const std::string& value);
  int DecodeStatus(const std::string& key, const std::string& value);
  int DecodeMeter(const std::string& key, const std::string& value);
  int DecodeNominal(const std::string& key, const std::string& value);
  int DecodeName(const std::string& text);

  // The capability marks of a "UPCL" reply: every non-empty line marks the first command
  // whose text contains it.
  static std::array<bool, kHarvanCommandCount> MarkCapabilities(const uint8_t* bytes, size_t size);

  // Nominal voltage limits read from the UPS (0 = not known).
  unsigned maxInputVoltage = 0;
  unsigned minInputVoltage = 0;
  unsigned maxOutputVoltage = 0;
  unsigned minOutputVoltage = 0;

 private:
  int Fail(int32_t function, int32_t code);

  KT_SCP& scp_;
};
