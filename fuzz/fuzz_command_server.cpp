// Fuzzes the agent's command servers as a stream of datagrams from many senders: each piece of
// the input (a length byte, a sender byte, the datagram) is served as the network and local
// servers serve one, then the registered consoles are pushed. Every answer must be a whole frame
// (status 5 for a frame that does not decode but carried a key; none for a data or status frame,
// which the servers refuse); the registered consoles stay bounded; nothing the datagrams say is
// ever run or opened.
#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "agent/servers/client_list.h"
#include "agent/servers/command_server.h"
#include "core/network/comm_base.h"
#include "core/scp/scp.h"
#include "core/scp/scp_frame.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// A channel that keeps the last frame sent and checks every one.
class CheckingChannel : public KT_CommBase {
 public:
  CheckingChannel() { open_ = 1; }
  int Initialize() override { return 1; }
  int Open(int) override { return 0; }
  void Close() override {}
  int SendData(KT_Address*, const uint8_t* data, size_t length) override {
    KT_ScpMessage m;
    Check(DecodeScpFrame(data, length, m) == 0);
    Check(m.type == SCP_DATA || m.type == SCP_STATUS);
    return 0;
  }
  int ReceiveData(KT_Address*, std::vector<uint8_t>&) override { return -1; }
  const char* GetHostName() override { return nullptr; }
  uint16_t GetPort() override { return 0; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static KT_SCP* scp = new KT_SCP;
  static KT_ClientList* clients = new KT_ClientList;
  static CheckingChannel* channel = new CheckingChannel;
  size_t at = 0;
  while (at + 2 <= size) {
    const size_t length = data[at];
    KT_Address sender(ADDRESS_IP);
    sender.SetIpAddress(htonl(0x7F000001u + data[at + 1] % 8));
    sender.SetPort(htons(static_cast<uint16_t>(1024 + data[at + 1])));
    at += 2;
    const size_t n = length < size - at ? length : size - at;
    std::vector<uint8_t> datagram(data + at, data + at + n);
    at += n;
    std::vector<uint8_t> answer;
    const int outcome = ServeScpBlock(*scp, *clients, *channel, sender, datagram.data(), datagram.size(), answer);
    Check(outcome == SERVE_ANSWERED || answer.empty());
    KT_ScpMessage request;
    const bool decoded = DecodeScpFrame(datagram.data(), datagram.size(), request) >= 0;
    // Data and status frames are refused unanswered.
    Check(!decoded || (request.type != SCP_DATA && request.type != SCP_STATUS) || answer.empty());
    if (!answer.empty() && !decoded) {
      KT_ScpMessage reply;
      Check(DecodeScpFrame(answer.data(), answer.size(), reply) == 0);
      Check(reply.type == SCP_STATUS && reply.data == std::vector<uint8_t>{SCP_INVALID_PACKET});
    }
    clients->PushUpdates(*scp, *channel);
    Check(clients->Count() <= KT_ClientList::kMaxClients);
  }
  return 0;
}
