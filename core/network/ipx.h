// KT_IPX: the IPX datagram channel, used for IPX discovery (SAP) and for agents that reach
// their client agents over IPX.
//
// The channel opens an AF_IPX datagram socket. Current Linux kernels no longer carry IPX:
// there Open fails with a clear trace line and an error record (class 8, function 1,
// code 1, system error EAFNOSUPPORT), and every IPX path reports that failure.
//
// A sender cuts a long message into 512-byte pieces; ReceiveData joins them: after a piece of
// exactly 512 bytes it waits (250 ms at a time, at most 100 times per message) for the next
// one. A datagram is received whole into a 2056-byte buffer (a longer one is a failure), and
// a joined message never grows beyond kIpxMaxMessage bytes.
//
// Addresses: type 2, the IP address field holding the network number and the port field the
// socket number, both in network byte order, and the 6-byte node.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/network/address.h"
#include "core/network/datagram_channel.h"

inline constexpr size_t kIpxReceiveBuffer = 2056;
inline constexpr size_t kIpxPieceLength = 512;
inline constexpr int kIpxPieceWaitMs = 250;
inline constexpr int kIpxPieceWaits = 100;
// Largest joined message: the largest SCP frame.
inline constexpr size_t kIpxMaxMessage = 0xFFFF;
// Send flag "do not route" (the local network only).
inline constexpr int kIpxDontRoute = MSG_DONTROUTE;

class KT_IPX : public KT_DatagramChannel {
 public:
  KT_IPX() : KT_DatagramChannel(DefaultSocketOps()) {}

  // Creates a non-blocking IPX datagram socket bound to `socketNumber` (stored as given;
  // 0 lets the system choose). 0, or -1. The local address is not filled.
  int Open(int socketNumber) override;
  // One datagram to a type-2 address (flags 0). 0, or -1.
  int SendData(KT_Address* address, const uint8_t* data, size_t length) override;
  // One message, joined from its 512-byte pieces. 1 with data, 0 when nothing was waiting
  // or the datagram was empty, -1 on failure.
  int ReceiveData(KT_Address* address, std::vector<uint8_t>& buffer) override;
  const char* GetHostName() override { return local_.GetHostName(); }
  uint16_t GetPort() override { return local_.GetPort(); }

  // SendData with send flags (kIpxDontRoute).
  int SendDatagram(KT_Address* address, const uint8_t* data, size_t length, int flags) {
    return SendTo(address, ADDRESS_IPX, data, length, flags);
  }
  // Allows broadcasts on the socket. IPX sockets on Linux receive broadcasts without a
  // further option. 0, or the system error.
  int EnableBroadcast() { return SetBroadcastOption(); }

  // The socket calls new IPX channels start with (tests); null restores the system's.
  static void SetDefaultSocketOps(SocketOps* ops);
  static SocketOps* DefaultSocketOps();

 protected:
  SocketOps* DefaultOps() const override { return DefaultSocketOps(); }

 private:
  static constexpr ssize_t kNothingWaiting = -2;
  // One datagram; -1 with an error record on failure (also when it was longer than the
  // buffer); kNothingWaiting, without a record, when `quietWhenEmpty` and none was there.
  ssize_t ReceivePiece(uint8_t* data, KT_Address* address, bool storeSender, bool quietWhenEmpty);

  KT_IPX_Address local_;
};
