// KT_UDP: the UDP datagram channel. The agent's network server listens on port 7010; the
// consoles and discovery open port 0 (the system chooses) and send to 7010.
//
// The socket is non-blocking: a receive with nothing waiting is an error record, so callers
// wait with WaitForData first. A datagram is received whole into a 5000-byte buffer; a longer
// one is a failure (its bytes are lost), never a cut message. Ports that anyone may send to
// read with ReceiveBounded, for which a longer datagram is the sender's fault, not the
// channel's: it is dropped without an error record.
//
// Local bind address: by default the socket is bound to 0.0.0.0. A process (the agent, a
// console) may name the local IPv4 address to bind, for all its channels with
// SetDefaultBindAddress or for one channel with SetBindAddress, so that two agents can run
// side by side on 127.0.0.1 and 127.0.0.2. A socket bound to one address does not receive
// broadcasts: discovery answers only reach agents bound to 0.0.0.0.
//
// Error records (class 8): function 1 Open (codes 1 socket, 2 non-blocking, 3 bind, 4 read
// back, 5 host name), 3 ReceiveData (1 receive, 2 memory); sending and waiting as in
// core/network/datagram_channel.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/network/address.h"
#include "core/network/datagram_channel.h"

// The agent's UDP port.
inline constexpr int kScpUdpPort = 7010;
// Largest datagram a UDP channel receives.
inline constexpr size_t kUdpReceiveBuffer = 5000;
// ReceiveBounded's answer for a longer one.
inline constexpr int kUdpOversize = -2;

class KT_UDP : public KT_DatagramChannel {
 public:
  KT_UDP() : KT_DatagramChannel(&SocketOps::System()) {}

  // Creates a non-blocking UDP socket bound to the bind address and `port` (host byte order;
  // 0 lets the system choose) and records the local address. 0, or -1.
  int Open(int port) override;
  int SendData(KT_Address* address, const uint8_t* data, size_t length) override;
  int ReceiveData(KT_Address* address, std::vector<uint8_t>& buffer) override;
  // ReceiveData, except that a datagram longer than kUdpReceiveBuffer is dropped without a
  // trace line or an error record, so that a stranger's stream of them cannot fill error.dat:
  // kUdpOversize, with its sender in the address, for the caller to count or trace.
  int ReceiveBounded(KT_Address* address, std::vector<uint8_t>& buffer);
  const char* GetHostName() override { return local_.GetHostName(); }
  uint16_t GetPort() override { return local_.GetPort(); }

  // Allows sending to broadcast addresses. 0, or the system error.
  int EnableBroadcast() { return SetBroadcastOption(); }

  // The local address this channel binds to ("a.b.c.d"); null or "" binds 0.0.0.0 again.
  // 1, or -1 for a text that is no dotted IPv4 address. Takes effect at the next Open.
  int SetBindAddress(const char* dotted);
  // The same for every channel of the process that was given no address of its own.
  static int SetDefaultBindAddress(const char* dotted);
  // The address a channel binds to when none is set (network byte order; 0 = any).
  static uint32_t DefaultBindAddress();

  const KT_Address& LocalAddress() const { return local_; }

 protected:
  KT_IP_Address local_;
  std::optional<uint32_t> bind_address_;

 private:
  int ReceiveOne(KT_Address* address, std::vector<uint8_t>& buffer, bool bounded);
};
