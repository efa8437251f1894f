// Fuzzes the BCM serial driver's reply handling: the input is what the UPS sent, read as one
// buffer by a BCM protocol object whose port is closed (so the service-menu recovery finds no
// line), and its data after the first byte is also given straight to each decoder by the
// type the first byte names. Any bytes must be handled without reading outside the reply.
// The first byte also picks the UPS model the object believes it talks to.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "agent/protocols/bcm.h"
#include "core/scp/scp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  KT_SCP scp;
  static constexpr int kModels[] = {255, 1, 5, 10, 11, 12, 13};
  scp.upsInfo.SetModelIndex(kModels[data[0] % 7]);
  KT_BCM bcm(scp);
  KT_ReadRecord record;
  record.data.assign(data + 1, data + size);
  record.length = static_cast<int>(size - 1);
  bcm.ProcessBlock(record);
  // The same bytes as the data of a reply of each kind, with the maps the buffer left behind.
  const std::vector<uint8_t> body(data + 1, data + size);
  static constexpr uint8_t kTypes[] = {1, 2, 3, 4, 5, 6, 9, 10, 11, 12, 16, 17, 99};
  const uint8_t type = kTypes[(data[0] >> 3) % 13];
  const int decoded = bcm.Decoder().Decode(type, body);
  if (decoded < -1 || (type == 99 && decoded != 0)) __builtin_trap();  // an unknown type decodes nothing
  return 0;
}
