// Peer process for the shared-memory channel tests.
//
//   ipc_peer <role> echo <hex>             send the frame, wait (10 s) for one answer, print it
//   ipc_peer <role> send-and-kill <hex>    send the frame, then die by SIGKILL
//   ipc_peer <role> crash-writing          take the outgoing block's lock, write half a
//                                          message, then die by SIGKILL holding the lock
//   ipc_peer <role> send-many <id> <count> <length>
//                                          send count messages (id, sequence, pattern);
//                                          exit status = number of failed sends
//
// Output: the answer as hex on standard output. Exit status 0 on success.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/network/ipc.h"
#include "platform/named_object.h"

namespace {

std::vector<uint8_t> FromHex(const char* text) {
  std::vector<uint8_t> out;
  for (size_t i = 0; text[i] != '\0' && text[i + 1] != '\0'; i += 2) {
    out.push_back(static_cast<uint8_t>(std::strtoul(std::string(text + i, 2).c_str(), nullptr, 16)));
  }
  return out;
}

std::vector<uint8_t> Message(int id, int sequence, size_t length) {
  std::vector<uint8_t> m(length);
  for (size_t i = 0; i < length; ++i) m[i] = static_cast<uint8_t>(id * 31 + sequence * 7 + i);
  m[0] = static_cast<uint8_t>(id);
  m[1] = static_cast<uint8_t>(sequence >> 8);
  m[2] = static_cast<uint8_t>(sequence);
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 100;
  const int role = std::atoi(argv[1]);
  const std::string mode = argv[2];
  const bool agent = role == kIpcAgentRole;

  if (mode == "crash-writing") {
    KT_IPC ipc;
    if (ipc.Open(role) != 1) return 101;
    platform::NamedMutex lock;
    platform::NamedMapping block;
    if (!lock.Create(agent ? kIpcMutexFromDaemon : kIpcMutexToDaemon)) return 102;
    if (!block.Create(agent ? kIpcMapFromDaemon : kIpcMapToDaemon, kIpcMappingSize)) return 103;
    if (lock.Wait(platform::kInfinite) != platform::WaitResult::kSignaled) return 104;
    std::memset(block.Data() + kIpcHeaderSize, 0xEE, 2000);
    block.Data()[0] = 0xFF;  // a length half written
    ::raise(SIGKILL);
    return 105;
  }

  KT_IPC ipc;
  if (ipc.Open(role) != 1) return 101;

  if (mode == "echo" && argc >= 4) {
    const std::vector<uint8_t> frame = FromHex(argv[3]);
    if (ipc.SendData(nullptr, frame.data(), frame.size()) != 0) return 102;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::vector<uint8_t> answer;
    while (ipc.ReceiveData(nullptr, answer) != 1) {
      if (std::chrono::steady_clock::now() > end) return 103;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    for (uint8_t b : answer) std::printf("%02x", b);
    std::fflush(stdout);
    return 0;
  }
  if (mode == "send-and-kill" && argc >= 4) {
    const std::vector<uint8_t> frame = FromHex(argv[3]);
    if (ipc.SendData(nullptr, frame.data(), frame.size()) != 0) return 102;
    ::raise(SIGKILL);
    return 103;
  }
  if (mode == "send-many" && argc >= 6) {
    const int id = std::atoi(argv[3]);
    const int count = std::atoi(argv[4]);
    const size_t length = static_cast<size_t>(std::atoi(argv[5]));
    int failures = 0;
    for (int i = 0; i < count; ++i) {
      const std::vector<uint8_t> m = Message(id, i, length);
      if (ipc.SendData(nullptr, m.data(), m.size()) != 0) ++failures;
    }
    return failures;
  }
  return 100;
}
