// Fuzzes the Varnis II reply handling: the input is a reply as the UPS sent it, decoded key by
// key into a fresh SCP object, also read as a capability list, and each of its lines is given
// to the decimal reader. Any text must be handled without a crash or an overflow.
#include <cstddef>
#include <cstdint>
#include <string>

#include "agent/harvan_decoder.h"
#include "core/scp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  KT_SCP scp;
  if (size > 0) scp.upsInfo.SetModelIndex(data[0] % 2 ? 13 : 255);
  scp.upsInfo.SetNumberOfPhases(3);
  HarvanReplyDecoder decoder(scp);
  decoder.Process(data, size);
  HarvanReplyDecoder::MarkCapabilities(data, size);
  for (const std::string& line : HarvanLines(data, size)) {
    int a = 0;
    int b = 0;
    ParseHarvanDecimal(line, &a, &b);
    decoder.DecodeName(line);
  }
  return 0;
}
