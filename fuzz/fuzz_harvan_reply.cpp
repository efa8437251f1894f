// Fuzzes the Varnis II reply handling: the input is a reply as the UPS sent it, decoded key by
// key into a fresh SCP object, also read as a capability list, and each of its lines is given
// to the decimal reader. Any text must be handled without a crash or an overflow; the lines
// come without their line ends and only a number with a point reads as a decimal.
#include <cstddef>
#include <cstdint>
#include <string>

#include "agent/protocols/harvan_decoder.h"
#include "core/scp/scp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  KT_SCP scp;
  if (size > 0) scp.upsInfo.SetModelIndex(data[0] % 2 ? 13 : 255);
  scp.upsInfo.SetNumberOfPhases(3);
  HarvanReplyDecoder decoder(scp);
  const int processed = decoder.Process(data, size);
  if (processed < -1 || processed > 1) __builtin_trap();
  HarvanReplyDecoder::MarkCapabilities(data, size);
  for (const std::string& line : HarvanLines(data, size)) {
    // Lines are whole and without their line ends.
    if (line.empty() || line.find_first_of("\r\n") != std::string::npos) __builtin_trap();
    int a = 0;
    int b = 0;
    if (ParseHarvanDecimal(line, &a, &b) && line.find('.') == std::string::npos) __builtin_trap();
    decoder.DecodeName(line);
  }
  return 0;
}
