// Fuzzes the SCP object's server path: the input is decoded as SCP frames, one after the
// other, and each message is executed on one SCP object, as the agent's servers do. Every
// answer must be a whole frame carrying the request's key; the object must stay usable.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/scp/scp.h"
#include "core/scp/scp_frame.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static KT_SCP* scp = new KT_SCP;  // one object across inputs, like an agent's
  std::vector<uint8_t> input(data, data + size);
  size_t at = 0;
  for (int frames = 0; frames < 16 && at < input.size(); ++frames) {
    KT_ScpMessage message;
    const int next = DecodeScpFrame(input.data() + at, input.size() - at, message);
    if (next < 0) break;
    std::vector<uint8_t> reply;
    const int result = scp->ExecuteCommand(message, reply);
    if (!reply.empty()) {
      KT_ScpMessage answer;
      Check(DecodeScpFrame(reply.data(), reply.size(), answer) == 0);
      Check(answer.key == message.key);
      Check(answer.type == SCP_DATA || answer.type == SCP_STATUS);
    } else {
      Check(result < 0 || message.type == SCP_DATA || message.type == SCP_STATUS);
    }
    if (next == 0) break;
    at += static_cast<size_t>(next);
  }
  // A whole-object read still works (or is refused cleanly when the image grew too large).
  std::vector<uint8_t> reply;
  for (uint8_t id : {1, 2, 3, 6, 8, 27}) {
    Check(scp->ExecuteCommand(KT_ScpMessage(SCP_GET, {id}), reply) == 1);
  }
  return 0;
}
