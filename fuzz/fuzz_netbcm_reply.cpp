// Fuzzes the network BCM driver's reply handling: the input after its first byte is one
// datagram from the adapter. It is parsed for every reply type, and the joined data of each
// type that parses goes to the driver's decoder of that type; the whole datagram is also read
// as a status reply. The first byte picks the UPS model and whether an identification (with
// its meter and alarm maps) is decoded first. Any bytes must be handled without reading
// outside the datagram; a failed parse hands on no data and every parse is counted.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/adapters/netbcm.h"
#include "core/adapters/netbcm_reply.h"
#include "core/scp/scp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static constexpr int kModels[] = {255, 1, 5, 10, 13, 16, 3, 18};
  KT_SCP scp;
  scp.upsInfo.SetModelIndex(kModels[data[0] % 8]);
  KT_NetBCM driver(&scp, 1);
  const uint8_t* datagram = data + 1;
  const size_t length = size - 1;

  NetBcmParseCounters counters;
  std::vector<uint8_t> joined;
  if (data[0] & 0x80) {
    // A fixed identification first, so that meters and alarms have maps to follow.
    const std::vector<uint8_t> id{1, 0x02, 0x01, 0, 30, 0, 1, 0, 2, 'U', 'P', 5, 1, 0, 230, 1, 1, 2, 0xFF, 0x03, 80, 0};
    driver.DecodeIdentification(id);
  }
  for (int type = 0; type < 256; ++type) {
    if (ParseNetBcmReply(datagram, length, static_cast<uint8_t>(type), joined, &counters) != NETBCM_REPLY_COMPLETE) {
      if (!joined.empty()) __builtin_trap();  // nothing is handed on from a reply that failed
      continue;
    }
    if (joined.size() > length) __builtin_trap();  // the data can only come from the datagram
    switch (type) {
      case BCM_REPLY_IDENTIFICATION: {
        NetBcmIdentification id;
        ParseNetBcmIdentification(joined, id);
        driver.DecodeIdentification(joined);
        break;
      }
      case BCM_REPLY_CONFIG: driver.DecodeConfig(joined); break;
      case BCM_REPLY_RATINGS: driver.DecodeRatings(joined); break;
      case BCM_REPLY_SUPPORTED_COMMANDS: driver.DecodeSupportedCommands(joined); break;
      case BCM_REPLY_LOAD_SEGMENTS: driver.DecodeLoadSegments(joined); break;
      case BCM_REPLY_METERS: driver.Decoder().DecodeMeters(joined); break;
      default: break;
    }
  }
  // Every parse is counted once.
  uint32_t counted = 0;
  for (uint32_t n : counters.outcome) counted += n;
  if (counted != 256) __builtin_trap();
  const int first = FirstNetBcmBlockType(datagram, length);
  if (first < -1 || first > 255) __builtin_trap();
  driver.DecodeStatusDatagram(datagram, length);
  return 0;
}
