// Fuzzes the IPX service-response reader and the discovery's IPX collection: any datagram
// must parse without reading beyond it, every name must be at most 48 bytes without a zero
// byte, and the collection must add exactly the named entries of server type 0x085E.
#include <netipx/ipx.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "core/discovery/discover.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// Hands out one datagram, then nothing.
class OneDatagram : public SocketOps {
 public:
  explicit OneDatagram(std::vector<uint8_t> d) : datagram_(std::move(d)) {}
  int Socket(int, int, int) override { return 7; }
  int SetNonBlocking(int) override { return 0; }
  int Bind(int, const sockaddr*, socklen_t) override { return 0; }
  int GetSockName(int, sockaddr*, socklen_t*) override { return 0; }
  int SetSockOpt(int, int, int, const void*, socklen_t) override { return 0; }
  ssize_t SendTo(int, const void*, size_t length, int, const sockaddr*, socklen_t) override {
    return static_cast<ssize_t>(length);
  }
  ssize_t ReceiveFrom(int, void* buffer, size_t capacity, sockaddr* from, socklen_t* fromLength,
                      bool* truncated) override {
    if (taken_) {
      errno = EAGAIN;
      return -1;
    }
    taken_ = true;
    const size_t n = std::min(capacity, datagram_.size());
    if (n > 0) std::memcpy(buffer, datagram_.data(), n);
    *truncated = datagram_.size() > capacity;
    sockaddr_ipx src{};
    src.sipx_family = AF_IPX;
    std::memcpy(from, &src, std::min<size_t>(*fromLength, sizeof src));
    *fromLength = sizeof src;
    return static_cast<ssize_t>(n);
  }
  int BytesWaiting(int, int* count) override {
    *count = taken_ ? 0 : static_cast<int>(datagram_.size());
    return 0;
  }
  int WaitReadable(int, int) override { return taken_ ? 0 : 1; }
  int Close(int) override { return 0; }
  void SleepMs(int) override {}

 private:
  std::vector<uint8_t> datagram_;
  bool taken_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> datagram(data, data + size);
  std::vector<KT_SapEntry> entries;
  const int type = ParseSapResponse(datagram.data(), datagram.size(), entries);
  Check(type == 0 || type == kSapGeneralResponse || type == kSapNearestResponse);
  Check(type != 0 || entries.empty());
  Check(entries.size() <= size / kSapEntryLength);
  std::set<std::string> expected;
  for (const auto& e : entries) {
    Check(e.name.size() <= kSapNameLength);
    Check(e.name.find('\0') == std::string::npos);
    if (e.serverType == kSapServerType && !e.name.empty()) expected.insert(e.name);
  }

  // The same datagram through a whole IPX collection (shorter than a piece, so no waits).
  if (size < kIpxPieceLength) {
    OneDatagram ops(datagram);
    KT_Discover discover;
    discover.IpxChannel().SetSocketOps(&ops);
    Check(discover.IpxChannel().Open(0) == 0);
    int found = 0;
    Check(discover.CollectReplies([&](KT_Address& a) {
      ++found;
      Check(a.GetType() == ADDRESS_IPX && a.StoredHostName() != nullptr);
    }, 0, 1) == 1);
    std::set<std::string> hosts;
    std::string h;
    discover.ResetHostCursor();
    while (discover.GetNextHost(h)) hosts.insert(h);
    Check(size == 0 || hosts == expected);
    Check(found >= static_cast<int>(expected.size()));
  }
  return 0;
}
