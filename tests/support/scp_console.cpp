#include "tests/support/scp_console.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/scp/scp_frame.h"

namespace testing_support {

ScpConsole::ScpConsole(const std::string& ip, uint16_t port) : ip_(ip) {
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  if (inet_pton(AF_INET, ip.c_str(), &a.sin_addr) != 1 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd_);
    fd_ = -1;
    return;
  }
  socklen_t len = sizeof a;
  ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
}

ScpConsole::~ScpConsole() {
  if (fd_ >= 0) ::close(fd_);
}

bool ScpConsole::Send(const std::string& ip, uint16_t port, const std::vector<uint8_t>& bytes) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  if (inet_pton(AF_INET, ip.c_str(), &a.sin_addr) != 1) return false;
  return ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a) ==
         static_cast<ssize_t>(bytes.size());
}

std::optional<std::vector<uint8_t>> ScpConsole::Receive(int timeoutMs, std::string* fromIp,
                                                        uint16_t* fromPort) {
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, timeoutMs) <= 0) return std::nullopt;
  std::vector<uint8_t> buffer(65536);
  sockaddr_in from{};
  socklen_t length = sizeof from;
  const ssize_t n =
      ::recvfrom(fd_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &length);
  if (n < 0) return std::nullopt;
  buffer.resize(static_cast<size_t>(n));
  char text[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
  if (fromIp != nullptr) *fromIp = text;
  if (fromPort != nullptr) *fromPort = ntohs(from.sin_port);
  return buffer;
}

std::vector<std::vector<uint8_t>> ScpConsole::ReceiveAll(int quietMs) {
  std::vector<std::vector<uint8_t>> all;
  while (auto d = Receive(quietMs)) all.push_back(std::move(*d));
  return all;
}

std::vector<uint8_t> GetFrame(std::vector<uint8_t> key, uint8_t extraCode) {
  std::vector<uint8_t> frame;
  BuildScpFrame(KT_ScpMessage(SCP_GET, std::move(key), {}, extraCode), frame);
  return frame;
}

std::vector<uint8_t> SetFrame(std::vector<uint8_t> key, std::vector<uint8_t> data) {
  std::vector<uint8_t> frame;
  BuildScpFrame(KT_ScpMessage(SCP_SET, std::move(key), std::move(data)), frame);
  return frame;
}

std::optional<KT_ScpMessage> Decode(const std::vector<uint8_t>& bytes) {
  KT_ScpMessage m;
  if (DecodeScpFrame(bytes.data(), bytes.size(), m) < 0) return std::nullopt;
  return m;
}

bool IsStatusPush(const std::vector<uint8_t>& bytes) {
  const auto m = Decode(bytes);
  return m && m->type == SCP_DATA && m->key == std::vector<uint8_t>{1};
}

}  // namespace testing_support
