#include "core/network/ipx.h"

#include <netipx/ipx.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>

#include "core/base/ktdiag.h"

namespace {
std::atomic<SocketOps*> g_default_ops{nullptr};
}  // namespace

void KT_IPX::SetDefaultSocketOps(SocketOps* ops) {
  g_default_ops.store(ops);
}

SocketOps* KT_IPX::DefaultSocketOps() {
  SocketOps* ops = g_default_ops.load();
  return ops != nullptr ? ops : &SocketOps::System();
}

int KT_IPX::Open(int socketNumber) {
  // Each IPX search opens the channel again; NewSocket releases the previous socket.
  const int fd = NewSocket(AF_IPX);
  if (fd < 0) {
    if (code == 1) {
      Diag().Printf("ERROR(KT_IPX::Open): Unable to create IPX socket: %s%s\n", std::strerror(systemError),
                    systemError == EAFNOSUPPORT ? " (this system does not offer IPX)" : "");
    }
    return -1;
  }

  sockaddr_ipx sipx{};
  sipx.sipx_family = AF_IPX;
  sipx.sipx_port = static_cast<uint16_t>(socketNumber);
  if (ops_->Bind(fd, reinterpret_cast<const sockaddr*>(&sipx), sizeof sipx) < 0) return FailOpen(fd, 3);

  socket_ = fd;
  open_ = 1;

  sockaddr_ipx bound{};
  socklen_t len = sizeof bound;
  if (ops_->GetSockName(fd, reinterpret_cast<sockaddr*>(&bound), &len) < 0) return FailOpen(fd, 4);
  return 0;
}

int KT_IPX::SendData(KT_Address* address, const uint8_t* data, size_t length) {
  return SendDatagram(address, data, length, 0);
}

ssize_t KT_IPX::ReceivePiece(uint8_t* data, KT_Address* address, bool storeSender, bool quietWhenEmpty) {
  sockaddr_ipx from{};
  socklen_t fromLength = sizeof from;
  bool truncated = false;
  const ssize_t n =
      ops_->ReceiveFrom(socket_, data, kIpxReceiveBuffer, reinterpret_cast<sockaddr*>(&from), &fromLength, &truncated);
  if (n < 0) {
    const int32_t err = GetSocketError();
    if (quietWhenEmpty && (err == EAGAIN || err == EWOULDBLOCK)) return kNothingWaiting;
    LogError(ERR_DATAGRAM, DATAGRAM_FN_RECEIVE, 1, err);
    return -1;
  }
  if (truncated || static_cast<size_t>(n) > kIpxReceiveBuffer) {
    Diag() << "ERROR(KT_IPX::ReceiveData): datagram longer than 2056 bytes discarded\n";
    LogError(ERR_DATAGRAM, DATAGRAM_FN_RECEIVE, 1, EMSGSIZE);
    return -1;
  }
  if (storeSender && address != nullptr) {
    if (fromLength >= sizeof(sockaddr_ipx) && from.sipx_family == AF_IPX) {
      address->SetSender(ADDRESS_IPX, from.sipx_network, from.sipx_port, from.sipx_node);
    } else {
      address->SetSender(ADDRESS_IPX, 0, 0);
    }
  }
  return n;
}

int KT_IPX::ReceiveData(KT_Address* address, std::vector<uint8_t>& buffer) {
  buffer.clear();
  int waiting = 0;
  if (ops_->BytesWaiting(socket_, &waiting) < 0) {
    LogError(ERR_DATAGRAM, DATAGRAM_FN_RECEIVE, 1, GetSocketError());
    return -1;
  }
  // The byte count cannot tell an empty datagram from none. When it says 0, one
  // non-blocking receive still runs: it takes an empty datagram away (so that a caller's
  // waiting loop does not spin on it) or finds nothing.
  uint8_t piece[kIpxReceiveBuffer];
  ssize_t n = ReceivePiece(piece, address, true, waiting <= 0);
  if (n == kNothingWaiting) return 0;
  if (n < 0) return -1;
  if (waiting <= 0) waiting = static_cast<int>(n);

  std::vector<uint8_t> joined;
  try {
    joined.assign(piece, piece + n);
    size_t last = static_cast<size_t>(n);
    int waits = 0;
    while (waiting >= static_cast<int>(kIpxPieceLength) && last == kIpxPieceLength) {
      if (ops_->BytesWaiting(socket_, &waiting) < 0) waiting = 0;
      while (waiting <= 0 && waits < kIpxPieceWaits) {
        ops_->SleepMs(kIpxPieceWaitMs);
        ++waits;
        if (ops_->BytesWaiting(socket_, &waiting) < 0) waiting = 0;
      }
      if (waiting <= 0) break;
      n = ReceivePiece(piece, address, false, false);
      if (n < 0) return -1;
      if (n == 0) break;
      if (joined.size() + static_cast<size_t>(n) > kIpxMaxMessage) {
        Diag() << "ERROR(KT_IPX::ReceiveData): joined message longer than 65535 bytes discarded\n";
        LogError(ERR_DATAGRAM, DATAGRAM_FN_RECEIVE, 1, EMSGSIZE);
        return -1;
      }
      joined.insert(joined.end(), piece, piece + n);
      last = static_cast<size_t>(n);
    }
  } catch (const std::bad_alloc&) {
    LogError(ERR_DATAGRAM, DATAGRAM_FN_RECEIVE, 2, 0);
    return -1;
  }
  if (joined.empty()) return 0;
  buffer = std::move(joined);
  return 1;
}
