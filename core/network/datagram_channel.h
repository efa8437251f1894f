// What the UDP and IPX channels share: the socket and the socket calls behind it, closing,
// waiting for a datagram, the broadcast option and the checked send.
//
// Error records (class 8): function 2 send (1 refused buffer, 2 not open, 3 no destination,
// 4 send), 4 wait (1). The system error is errno.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/network/address.h"
#include "core/network/comm_base.h"
#include "core/network/socket_ops.h"

enum KT_DatagramFunction : int32_t {
  DATAGRAM_FN_OPEN = 1,
  DATAGRAM_FN_SEND = 2,
  DATAGRAM_FN_RECEIVE = 3,
  DATAGRAM_FN_WAIT = 4,
};

class KT_DatagramChannel : public KT_CommBase {
 public:
  ~KT_DatagramChannel() override;

  // Starts the socket layer for this process (see CleanupWinsock). 1.
  int Initialize() override;
  // Closes the socket; handle -1, open flag 0.
  void Close() override;

  // Waits up to `seconds` for a datagram: the number of ready sockets (0 on time-out), or -1.
  int WaitForData(int seconds);

  // Replaces the socket calls (tests); null restores the channel's default.
  void SetSocketOps(SocketOps* ops) { ops_ = ops != nullptr ? ops : DefaultOps(); }

 protected:
  explicit KT_DatagramChannel(SocketOps* ops) : ops_(ops) {}
  virtual SocketOps* DefaultOps() const { return &SocketOps::System(); }

  // Sets SO_BROADCAST. 0, or the system error.
  int SetBroadcastOption();
  // One datagram to an address of `addressType`, after the checks. 0, or -1.
  int SendTo(KT_Address* address, int addressType, const uint8_t* data, size_t length, int flags);
  // Starts Open: releases an earlier socket (a second Open replaces the endpoint instead of
  // leaking it) and makes a non-blocking one. The socket, or -1 after the error record.
  int NewSocket(int domain);
  // Ends a failed Open: closes the socket, records (8, 1, code, errno) and answers -1.
  int FailOpen(int fd, int32_t code);

  SocketOps* ops_;
};
