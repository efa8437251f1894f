// The BCM reply decoders: each turns the data of one reply type (core/adapters/bcm_block.h) into the
// SCP object's blocks and keeps what later replies need (the meter and alarm maps of the
// identification, the capability word, the supported-command table, the last command
// acknowledgement). KT_BCM (agent/protocols/bcm.h) owns one per UPS and feeds it every reply it reads;
// the network BCM driver (core/adapters/netbcm.h) uses the status, alarm and meter decoders for the
// replies the adapter relays, after filling the maps from its own identification.
//
// Every offset and count inside a reply is checked against the reply's length; a reply too
// short for what it announces is refused with an error record (class 11) and changes nothing.
// Multi-byte numbers are little-endian.
//
// Each decoder takes the SCP object's lock itself for the time it changes blocks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/adapters/bcm_block.h"
#include "core/base/error_status.h"

class KT_SCP;

// Capability word bits: which optional requests and commands the UPS takes.
enum BcmCapability : uint32_t {
  BCM_CAP_CONFIG_BLOCK = 0x0001,       // request 54
  BCM_CAP_STATISTICS = 0x0004,         // a statistics block follows the identification
  BCM_CAP_BATTERY_TEST = 0x0010,       // command 177, request 59
  BCM_CAP_RATING_BLOCK = 0x0020,       // request 60
  BCM_CAP_DELAYED_OFF = 0x0080,        // command 138, one delay byte
  BCM_CAP_MINUTE_TIMERS = 0x0100,      // commands 145 and 147
  BCM_CAP_DATE_TIMERS = 0x0200,        // commands 146 and 148
  BCM_CAP_SET_CONFIG = 0x0400,         // command 149
  BCM_CAP_DELAYED_OFF_WORD = 0x2000,   // command 138 with a two-byte delay
};
// The capability word of most UPS type codes.
inline constexpr uint32_t kBcmFullCapabilities = 0x1D98;

// What the type code of a configuration reply says of the UPS.
struct BcmTypeCodeModel {
  bool keepsModel = false;  // a UPS already known as one of the maker's own families keeps what it is
  int model = -1;           // model index; -1 for a code not known here
  uint32_t capabilities = kBcmFullCapabilities;
  int adapterVariant = 0;   // the variant the network adapter's UPS is taken for
};
// The model of a type code, for a UPS now known as `knownModel`.
BcmTypeCodeModel BcmModelForTypeCode(int typeCode, int knownModel);

// Error record functions (class 11) and the codes the decoders use besides the documented
// "no data" ones.
enum BcmErrorFunction : int32_t {
  BCM_FN_SEND = 1,
  BCM_FN_PARSE = 2,
  BCM_FN_REPLY_TYPE = 3,
  BCM_FN_IDENTIFICATION = 4,
  BCM_FN_ALARMS = 5,
  BCM_FN_STATUS = 6,
  BCM_FN_CONFIG = 7,
  BCM_FN_METERS = 8,
  BCM_FN_ACK = 9,
  BCM_FN_HISTORY = 10,       // also the battery test and the BCD date of a command
  BCM_FN_BCD = 11,
  BCM_FN_RATINGS = 12,
  BCM_FN_SUPPORTED_COMMANDS = 13,
  BCM_FN_LOAD_SEGMENTS = 14,
  BCM_FN_WAVEFORM = 15,
};
inline constexpr int32_t kBcmCodeNoData = 1;
inline constexpr int32_t kBcmCodeTooShort = 3;  // a count or offset beyond the reply's end
inline constexpr int32_t kBcmCodeBadValue = 4;  // a count the reply may not carry (0, 255)

// True for the BCM alarm numbers that have a standard meaning.
bool IsStandardBcmAlarm(int number);

class BcmReplyDecoder : public KT_ErrorStatus {
 public:
  static constexpr int kMaxNonStandardAlarms = 10;
  static constexpr size_t kCommandTableSize = 256;

  explicit BcmReplyDecoder(KT_SCP& scp);

  // Decodes one reply by its type. Results: > 0 decoded, 0 nothing to decode (an unknown
  // type: error (11, 3, 1); a rating block that is too short), -1 a damaged reply.
  int Decode(uint8_t type, const std::vector<uint8_t>& data);

  int DecodeIdentification(const std::vector<uint8_t>& d);
  int DecodeAlarmHistory(const std::vector<uint8_t>& d);
  int DecodeStatus(const std::vector<uint8_t>& d);
  int DecodeMeters(const std::vector<uint8_t>& d);
  int DecodeAlarms(const std::vector<uint8_t>& d);
  int DecodeConfig(const std::vector<uint8_t>& d);
  int DecodeAck(const std::vector<uint8_t>& d);
  int DecodeWaveform(const std::vector<uint8_t>& d);
  int DecodeBatteryTest(const std::vector<uint8_t>& d);
  int DecodeRatings(const std::vector<uint8_t>& d);
  int DecodeSupportedCommands(const std::vector<uint8_t>& d);
  int DecodeLoadSegments(const std::vector<uint8_t>& d);

  // State kept between replies.
  uint32_t capabilities = 0;
  std::array<uint8_t, kCommandTableSize> supportedCommands{};
  std::vector<uint16_t> alarmMap;
  std::vector<uint16_t> meterIds;
  std::vector<uint16_t> meterFormats;
  std::vector<uint16_t> nonStandardAlarms;
  std::optional<std::string> modelName;
  uint8_t ackCommand = 0;
  uint8_t ackResult = 0;
  int segments = 1;
  uint8_t batteryTestState = 0;

  bool HasCapability(uint32_t bit) const { return (capabilities & bit) != 0; }
  bool IsCommandSupported(int command) const {
    return command >= 0 && command < static_cast<int>(kCommandTableSize) && supportedCommands[command] != 0;
  }
  // Forgets the last acknowledgement (before a command goes out).
  void ClearAck() {
    ackCommand = 0;
    ackResult = BCM_ACK_NOT_RESPONDED;
  }

  // Receives the state of a battery-test reply (1 running, above 1 finished with that result
  // code) and gives the decoder's result; the protocol object installs it to keep its
  // battery-test record and the battery log. Without it the state is only kept.
  std::function<int(uint8_t state)> onBatteryTestState;

 private:
  int Fail(int32_t function, int32_t code);

  KT_SCP& scp_;
};
