// The Smart-UPS protocol takes whatever comes back on the line: no reply may crash it, hang
// it or make it read past what arrived. The input is a list of replies, each a length byte
// and that many bytes (cut short by the end of the input); every command the protocol writes
// gets the next reply, and reads take at most their capacity of what is waiting. The whole
// input also goes through the reply parsers directly.
#include <cstddef>
#include <cstdint>
#include <string>

#include "agent/protocols/apc.h"
#include "agent/protocols/apc_reply.h"
#include "core/scp/scp.h"
#include "tests/agent/protocols/protocol_fakes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string all(reinterpret_cast<const char*>(data), size);
  const std::string text = ApcReplyText(ApcReplyLine(all));
  int number = 0;
  uint8_t reg = 0;
  ApcReplyNumber(text, &number);
  ApcStatusRegister(text, &reg);
  ApcHasWholeLine(all);

  KT_SCP scp;
  protocol_testing::Scripted<KT_APC> apc(scp);
  apc.lines = KT_SerialPort::kCts;
  for (size_t i = 0; i < size;) {
    const size_t n = std::min<size_t>(data[i], size - i - 1);
    apc.replies.emplace_back(reinterpret_cast<const char*>(data + i + 1), n);
    i += 1 + n;
  }
  apc.Probe();
  apc.UpdateInfo();
  apc.UpdateCapabilities();
  apc.UpdateStatus();
  apc.UpdateMeter();
  apc.InitiateBatteryTest();
  apc.UpdateBatteryTest();
  apc.UpdateBatteryTest();
  apc.LoadControl(KT_UpsProtocol::kOutputOffAfterDelay, KT_UpsProtocol::kAllSegments, 25);
  apc.LoadControl(KT_UpsProtocol::kOutputOnAfterDelay, KT_UpsProtocol::kAllSegments, 1000);
  apc.LoadControl(KT_UpsProtocol::kOutputOffAfterOs, KT_UpsProtocol::kAllSegments, 120);
  // Every command gets at most one reply and SetValue is bounded: the writes stay few.
  if (apc.writes.size() > 200) __builtin_trap();
  return 0;
}
