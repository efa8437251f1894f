// Fuzzes the IPX channel's joining of 512-byte pieces. The input scripts a stream of
// datagrams (a 2-byte big-endian length, a byte telling after how many waits it arrives, then
// its bytes); the channel must hand out messages that are each a run of consecutive
// datagrams, never longer than 65535 bytes, and must not lose or invent bytes.
#include <netipx/ipx.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

#include "core/network/ipx.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

struct Datagram {
  std::vector<uint8_t> bytes;
  int afterSleeps;
};

class ScriptedIpx : public SocketOps {
 public:
  std::deque<Datagram> incoming;
  std::vector<std::vector<uint8_t>> taken;  // every datagram the channel received, in order
  int sleeps = 0;

  bool Ready() const { return !incoming.empty() && incoming.front().afterSleeps <= sleeps; }
  int Socket(int, int, int) override { return 9; }
  int SetNonBlocking(int) override { return 0; }
  int Bind(int, const sockaddr*, socklen_t) override { return 0; }
  int GetSockName(int, sockaddr*, socklen_t*) override { return 0; }
  int SetSockOpt(int, int, int, const void*, socklen_t) override { return 0; }
  ssize_t SendTo(int, const void*, size_t length, int, const sockaddr*, socklen_t) override {
    return static_cast<ssize_t>(length);
  }
  ssize_t ReceiveFrom(int, void* buffer, size_t capacity, sockaddr* from, socklen_t* fromLength,
                      bool* truncated) override {
    if (!Ready()) {
      errno = EAGAIN;
      return -1;
    }
    Datagram d = std::move(incoming.front());
    incoming.pop_front();
    const size_t n = std::min(capacity, d.bytes.size());
    if (n > 0) std::memcpy(buffer, d.bytes.data(), n);
    *truncated = d.bytes.size() > capacity;
    sockaddr_ipx src{};
    src.sipx_family = AF_IPX;
    std::memcpy(from, &src, std::min<size_t>(*fromLength, sizeof src));
    *fromLength = sizeof src;
    taken.push_back(std::move(d.bytes));
    return static_cast<ssize_t>(n);
  }
  int BytesWaiting(int, int* count) override {
    *count = Ready() ? static_cast<int>(incoming.front().bytes.size()) : 0;
    return 0;
  }
  int WaitReadable(int, int) override { return Ready() ? 1 : 0; }
  int Close(int) override { return 0; }
  void SleepMs(int) override { ++sleeps; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ScriptedIpx ops;
  size_t at = 0;
  while (at + 3 <= size && ops.incoming.size() < 400) {
    size_t length = (static_cast<size_t>(data[at]) << 8) | data[at + 1];
    const int after = data[at + 2];
    at += 3;
    // Lengths near the piece size are the interesting ones; long datagrams repeat the input.
    if (length % 4 == 0) length = kIpxPieceLength;
    std::vector<uint8_t> bytes(length % 2600);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = at < size ? data[at++] : static_cast<uint8_t>(i);
    ops.incoming.push_back({std::move(bytes), after});
  }

  KT_IPX ipx;
  ipx.SetSocketOps(&ops);
  Check(ipx.Open(0) == 0);
  size_t consumed = 0;  // datagrams of `ops.taken` already accounted for
  for (int rounds = 0; rounds < 1000 && !ops.incoming.empty(); ++rounds) {
    KT_Address from;
    std::vector<uint8_t> message;
    const int r = ipx.ReceiveData(&from, message);
    Check(r >= -1 && r <= 1);
    Check(message.size() <= kIpxMaxMessage);
    if (r == 1) {
      // The message is exactly the datagrams taken in this call, joined.
      std::vector<uint8_t> joined;
      for (size_t i = consumed; i < ops.taken.size(); ++i) {
        joined.insert(joined.end(), ops.taken[i].begin(), ops.taken[i].end());
      }
      Check(joined == message);
      Check(from.GetType() == ADDRESS_IPX);
    } else {
      Check(message.empty());
    }
    consumed = ops.taken.size();
    if (r == 0 && !ops.Ready()) ops.sleeps += 1000;  // let the rest of the script arrive
  }
  return 0;
}
