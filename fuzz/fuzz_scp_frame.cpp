// Fuzzes the SCP frame decoder: any bytes must decode to -1, 0 or an offset inside the buffer,
// never read beyond the buffer, and every frame it accepts must build back into a frame that
// decodes to the same message.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/scp/scp_frame.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Copy into a buffer of exactly `size` bytes so that any read past it is caught.
  std::vector<uint8_t> buffer(data, data + size);
  size_t at = 0;
  for (int frames = 0; frames < 64 && at <= buffer.size(); ++frames) {
    KT_ScpMessage message;
    const int result = DecodeScpFrame(buffer.data() + at, buffer.size() - at, message);
    if (result < 0) break;
    Check(message.type >= SCP_GET && message.type <= SCP_STATUS);
    Check(message.key.size() <= kScpMaxKey);
    Check(message.type != SCP_GET || message.data.empty());

    std::vector<uint8_t> frame;
    Check(BuildScpFrame(message, frame) == 1);
    KT_ScpMessage again;
    Check(DecodeScpFrame(frame.data(), frame.size(), again) == 0);
    Check(again == message);

    if (result == 0) break;
    Check(static_cast<size_t>(result) < buffer.size() - at);
    at += static_cast<size_t>(result);
  }
  return 0;
}
