// A scripted console for the agent's command servers: a UDP socket on a loopback address
// that sends SCP frames (or any bytes) and collects what comes back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/scp/scp_message.h"

namespace testing_support {

class ScpConsole {
 public:
  // Binds a UDP socket to the address (port 0: the system chooses; another port is bound as
  // given, for a client agent's 7010).
  explicit ScpConsole(const std::string& ip = "127.0.0.1", uint16_t port = 0);
  ~ScpConsole();
  ScpConsole(const ScpConsole&) = delete;
  ScpConsole& operator=(const ScpConsole&) = delete;

  bool ok() const { return fd_ >= 0; }
  uint16_t port() const { return port_; }
  const std::string& ip() const { return ip_; }

  bool Send(const std::string& ip, uint16_t port, const std::vector<uint8_t>& bytes);
  // One datagram within the time, or nothing; its sender's address and port when asked.
  std::optional<std::vector<uint8_t>> Receive(int timeoutMs, std::string* fromIp = nullptr,
                                              uint16_t* fromPort = nullptr);
  // Every datagram that arrives until none came for quietMs.
  std::vector<std::vector<uint8_t>> ReceiveAll(int quietMs);

 private:
  int fd_ = -1;
  std::string ip_;
  uint16_t port_ = 0;
};

// Frames.
std::vector<uint8_t> GetFrame(std::vector<uint8_t> key, uint8_t extraCode = 0);
std::vector<uint8_t> SetFrame(std::vector<uint8_t> key, std::vector<uint8_t> data);
// Decodes a received frame; nullopt when it does not decode.
std::optional<KT_ScpMessage> Decode(const std::vector<uint8_t>& bytes);
// True when the bytes are an SCP_DATA frame of the whole status block (a status push).
bool IsStatusPush(const std::vector<uint8_t>& bytes);

}  // namespace testing_support
