#include "core/network/datagram_channel.h"

#include <sys/socket.h>

KT_DatagramChannel::~KT_DatagramChannel() {
  Close();
}

int KT_DatagramChannel::Initialize() {
  StartSocketLayer();
  return 1;
}

void KT_DatagramChannel::Close() {
  if (socket_ >= 0) ops_->Close(socket_);
  socket_ = -1;
  open_ = 0;
}

int KT_DatagramChannel::WaitForData(int seconds) {
  const int r = ops_->WaitReadable(socket_, seconds);
  if (r < 0) {
    LogError(ERR_DATAGRAM, DATAGRAM_FN_WAIT, 1, GetSocketError());
    return -1;
  }
  return r;
}

int KT_DatagramChannel::SetBroadcastOption() {
  const int on = 1;
  if (ops_->SetSockOpt(socket_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) < 0) return GetSocketError();
  return 0;
}

int KT_DatagramChannel::SendTo(KT_Address* address, int addressType, const uint8_t* data, size_t length,
                               int flags) {
  if (!CheckData(data, length)) {
    LogError(ERR_DATAGRAM, DATAGRAM_FN_SEND, 1, 0);
    return -1;
  }
  if (!open_ || socket_ < 0) {
    LogError(ERR_DATAGRAM, DATAGRAM_FN_SEND, 2, 0);
    return -1;
  }
  sockaddr_storage to{};
  socklen_t toLength = 0;
  if (address == nullptr || address->GetType() != addressType || address->ToSockAddr(to, toLength) < 0) {
    LogError(ERR_DATAGRAM, DATAGRAM_FN_SEND, 3, 0);
    return -1;
  }
  if (ops_->SendTo(socket_, data, length, flags, reinterpret_cast<const sockaddr*>(&to), toLength) < 0) {
    LogError(ERR_DATAGRAM, DATAGRAM_FN_SEND, 4, GetSocketError());
    return -1;
  }
  return 0;
}

int KT_DatagramChannel::NewSocket(int domain) {
  Close();
  const int fd = ops_->Socket(domain, SOCK_DGRAM, 0);
  if (fd < 0) {
    LogError(ERR_DATAGRAM, DATAGRAM_FN_OPEN, 1, GetSocketError());
    return -1;
  }
  if (ops_->SetNonBlocking(fd) < 0) return FailOpen(fd, 2);
  return fd;
}

int KT_DatagramChannel::FailOpen(int fd, int32_t code) {
  const int32_t err = GetSocketError();
  ops_->Close(fd);
  socket_ = -1;
  open_ = 0;
  LogError(ERR_DATAGRAM, DATAGRAM_FN_OPEN, code, err);
  return -1;
}
