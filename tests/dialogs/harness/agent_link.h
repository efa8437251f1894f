// A stand-in for the console's communication worker, for the dialog tests: it drains
// gScp's table of outstanding requests, has an agent answer them, applies the answers to gScp
// and hands them on as the console's reply handler does. It runs on the user-interface thread,
// step by step, from the pumps below, so tests stay deterministic.
//
// One step (AgentLink::Step):
//   1. under a reader KT_HostControl guard and the named mutex "Mutex to lock SCP queue": the
//      next unsent request (KT_ScpQueue::Next), marked sent;
//   2. the agent answers: InProcessAgent through an agent-side KT_SCP::ExecuteCommand (tests
//      fill its blocks and read what SETs changed), UdpAgent over UDP from a real VigilNT;
//   3. each answer is decoded, applied to gScp (ExecuteCommand), and its request removed from
//      the table (key and host index);
//   4. then as the reply handler: the block's status decides - Get Resend asks the answering
//      host again; Set OK / Get OK go to RouteScpReply and the block's status becomes 255; Set
//      Failed, Get Failed and Invalid packet become message boxes "SCP Status: FieldAddress=b,r,i
//      - ..."; Not Available goes to the serial device or network adapter dialog for (4, 11),
//      (4, 13) and (4, 12) when open, else a box.
//
//   InProcessAgent agent;                 // or UdpAgent agent; agent.Open(error)
//   AgentLink link(agent);
//   auto* dlg = new CManageDiagTest(nullptr, "localhost");
//   link.PumpUntil([&] { return !dlg->IsBusy(); });
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/network/udp.h"
#include "core/scp/scp.h"
#include "core/scp/scp_message.h"

class QWidget;

namespace trem_harness {

// The blocks of an SCP image, by id.
inline constexpr int kScpBlockIds[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 24, 25, 26, 27, 28};

class AgentEndpoint {
 public:
  virtual ~AgentEndpoint() = default;
  // Delivers one request frame for the host index; the agent's answer frames (possibly none)
  // are appended to `answers`. False when the request could not be delivered.
  virtual bool Exchange(const std::vector<uint8_t>& frame, int hostIndex,
                        std::vector<std::vector<uint8_t>>& answers) = 0;
  // Frames that arrived without a request (status pushes); empty by default.
  virtual void Poll(std::vector<std::vector<uint8_t>>& /*answers*/) {}
};

// An agent in this process: its own KT_SCP serves the requests.
class InProcessAgent : public AgentEndpoint {
 public:
  InProcessAgent();
  bool Exchange(const std::vector<uint8_t>& frame, int hostIndex,
                std::vector<std::vector<uint8_t>>& answers) override;

  // The agent's image (lock it with scp().Lock() while filling).
  KT_SCP& scp() { return *scp_; }
  // Marks every branch of every block as just filled, so GETs are answered with data.
  void MarkAllFresh();
  // The messages the agent received, in order.
  const std::vector<KT_ScpMessage>& Received() const { return received_; }
  // The SETs among them, in order.
  std::vector<KT_ScpMessage> ReceivedSets() const;
  // Host indexes the requests were for.
  const std::vector<int>& Hosts() const { return hosts_; }
  void ClearReceived();
  // When set, every request is answered with this status code instead of being served.
  void ForceStatus(int code) { forced_status_ = code; }

 private:
  std::unique_ptr<KT_SCP> scp_;
  std::vector<KT_ScpMessage> received_;
  std::vector<int> hosts_;
  int forced_status_ = -1;
};

// Real agents over UDP: each request goes to its host's address in gHosts (type 1).
class UdpAgent : public AgentEndpoint {
 public:
  UdpAgent() = default;
  // Opens the channel on a port of the system's choosing, bound to `bindIp` (null: any).
  bool Open(std::string& error, const char* bindIp = nullptr);
  bool Exchange(const std::vector<uint8_t>& frame, int hostIndex,
                std::vector<std::vector<uint8_t>>& answers) override;
  void Poll(std::vector<std::vector<uint8_t>>& answers) override;
  // How long a request waits for its first answer.
  void SetAnswerTimeoutMs(int ms) { answer_timeout_ms_ = ms; }

 private:
  void Drain(std::vector<std::vector<uint8_t>>& answers, int firstWaitMs);
  KT_UDP udp_;
  int answer_timeout_ms_ = 2000;
};

class AgentLink {
 public:
  explicit AgentLink(AgentEndpoint& endpoint);

  // One worker step (see the head of the file). 1 when a request was sent, 0 when the table
  // had nothing to send, -1 when the named mutex is missing.
  int Step();
  // Runs steps and the Qt event loop until done() holds or boundMs passed; true when done.
  bool PumpUntil(const std::function<bool()>& done, int boundMs = 5000);
  // Until the request table is empty and the event loop has nothing left (bounded).
  bool PumpIdle(int boundMs = 5000);
  // Steps and events for a while.
  void PumpFor(int ms);

  // Owner of the handler's message boxes (null: none).
  void SetBoxOwner(QWidget* owner) { box_owner_ = owner; }
  // Every line of traffic: "request GET 4,8,1 host 1", "reply Get OK 4,8,1 -> 2 dialogs", ...
  void SetObserver(std::function<void(const std::string&)> observer) { observer_ = std::move(observer); }
  const std::vector<std::string>& Log() const { return log_; }
  // Decoded requests sent, in order.
  const std::vector<KT_ScpMessage>& Sent() const { return sent_; }
  int RepliesApplied() const { return replies_applied_; }
  // Dialog reply events posted by the handler.
  int RepliesRouted() const { return replies_routed_; }

 private:
  void Apply(const std::vector<uint8_t>& bytes, int hostIndex);
  void Note(const std::string& line);

  AgentEndpoint& endpoint_;
  QWidget* box_owner_ = nullptr;
  std::function<void(const std::string&)> observer_;
  std::vector<std::string> log_;
  std::vector<KT_ScpMessage> sent_;
  int replies_applied_ = 0;
  int replies_routed_ = 0;
};

// The console's reply handler for one reply applied to gScp (see step 4 above), answered by
// the host of that index. Returns the number of dialogs the reply was posted to; boxes through
// the message box layer.
int HandleReplyNotice(uint32_t packedKey, QWidget* boxOwner, std::string* note = nullptr, int hostIndex = 1);

// "GET 4,8,1", "SET 27,5", "DATA 2", "STATUS 4,8,1 = Set OK".
std::string DescribeMessage(const KT_ScpMessage& message);

}  // namespace trem_harness
