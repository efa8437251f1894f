#include "tests/dialogs/harness/agent_link.h"

#include <poll.h>

#include "core/discovery/discover.h"
#include "core/scp/scp_frame.h"
#include "dialogs/frame/event_pump.h"
#include "dialogs/frame/host_control.h"
#include "dialogs/frame/kt_dialog.h"
#include "dialogs/frame/reply_routing.h"
#include "dialogs/frame/reply_status.h"
#include "dialogs/frame/request_path.h"
#include "dialogs/frame/trem_globals.h"

namespace trem_harness {

namespace {

std::string KeyText(const KT_ScpMessage& m) {
  std::string text;
  for (size_t i = 0; i < m.key.size(); ++i) {
    if (i > 0) text += ",";
    text += std::to_string(m.key[i]);
  }
  return text;
}

bool WaitReadable(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLIN) != 0;
}

}  // namespace

std::string DescribeMessage(const KT_ScpMessage& m) {
  switch (m.type) {
    case SCP_GET:
      return "GET " + KeyText(m) + (m.extraCode != 0 ? " (register)" : "");
    case SCP_SET:
      return "SET " + KeyText(m);
    case SCP_DATA:
      return "DATA " + KeyText(m);
    case SCP_STATUS:
      return "STATUS " + KeyText(m) + " = " +
             (m.data.empty() ? std::string("none") : ScpReplyCodeText(m.data[0]));
    default:
      return "type " + std::to_string(m.type) + " " + KeyText(m);
  }
}

// ---- agents ----

InProcessAgent::InProcessAgent() : scp_(std::make_unique<KT_SCP>()) {}

bool InProcessAgent::Exchange(const std::vector<uint8_t>& frame, int hostIndex,
                              std::vector<std::vector<uint8_t>>& answers) {
  KT_ScpMessage message;
  if (DecodeScpFrame(frame.data(), frame.size(), message) < 0) return false;
  received_.push_back(message);
  hosts_.push_back(hostIndex);
  std::vector<uint8_t> reply;
  if (forced_status_ >= 0) {
    BuildStatusReplyFrame(message, reply, static_cast<uint8_t>(forced_status_));
  } else {
    scp_->ExecuteCommand(message, reply);
  }
  if (!reply.empty()) answers.push_back(reply);
  return true;
}

void InProcessAgent::MarkAllFresh() {
  auto lock = scp_->Lock();
  for (int id : kScpBlockIds) {
    KT_Block* block = scp_->GetBlock(id);
    if (block == nullptr) continue;
    for (const KT_BranchTable::Entry& e : std::vector<KT_BranchTable::Entry>(block->Branches().Entries())) {
      block->Branches().Touch(e.branch);
    }
  }
}

std::vector<KT_ScpMessage> InProcessAgent::ReceivedSets() const {
  std::vector<KT_ScpMessage> sets;
  for (const KT_ScpMessage& m : received_)
    if (m.type == SCP_SET) sets.push_back(m);
  return sets;
}

void InProcessAgent::ClearReceived() {
  received_.clear();
  hosts_.clear();
}

bool UdpAgent::Open(std::string& error, const char* bindIp) {
  udp_.Initialize();
  if (bindIp != nullptr && udp_.SetBindAddress(bindIp) < 0) {
    error = std::string("bad bind address ") + bindIp;
    return false;
  }
  if (udp_.OpenChannel(0) < 0) {
    error = "cannot open a UDP channel";
    return false;
  }
  return true;
}

bool UdpAgent::Exchange(const std::vector<uint8_t>& frame, int hostIndex,
                        std::vector<std::vector<uint8_t>>& answers) {
  KT_Address to(ADDRESS_IP);
  {
    KT_HostControl guard(0);
    HostEntry* host = gHosts.GetHostByIndex(hostIndex);
    if (host == nullptr || host->Address().GetType() != ADDRESS_IP) return false;
    to.SetIpAddress(host->Address().GetIpAddress());
    to.SetPort(host->Address().GetPort());
  }
  if (udp_.Send(&to, frame) < 0) return false;
  Drain(answers, answer_timeout_ms_);
  return true;
}

void UdpAgent::Poll(std::vector<std::vector<uint8_t>>& answers) {
  Drain(answers, 0);
}

void UdpAgent::Drain(std::vector<std::vector<uint8_t>>& answers, int firstWaitMs) {
  if (!udp_.IsOpen()) return;
  int wait = firstWaitMs;
  while (WaitReadable(udp_.GetSocket(), wait)) {
    KT_Address from;
    std::vector<uint8_t> buffer;
    if (udp_.Receive(&from, buffer) < 0) break;
    if (!buffer.empty()) answers.push_back(std::move(buffer));
    wait = 0;
  }
}

// ---- the reply handler ----

int HandleReplyNotice(uint32_t packedKey, QWidget* boxOwner, std::string* note, int hostIndex) {
  // The harness's notices carry no status: it is read from the block the reply went to.
  KT_Block* b = ReplyStatusBlock(PackedKeyBlock(packedKey));
  int status = 0;
  if (b != nullptr) {
    auto lock = gScp.Lock();
    status = b->GetStatus();
  }
  const ReplyStatusOutcome outcome = ActOnReplyStatus(packedKey, status, hostIndex, boxOwner);
  if (note != nullptr) *note = outcome.text.toStdString();
  return outcome.routed;
}

// ---- the link ----

AgentLink::AgentLink(AgentEndpoint& endpoint) : endpoint_(endpoint) {}

void AgentLink::Note(const std::string& line) {
  log_.push_back(line);
  if (observer_) observer_(line);
}

int AgentLink::Step() {
  ScpQueueEntry entry;
  {
    KT_HostControl guard(0);
    ScpQueueLock lock;
    if (!lock.locked()) return -1;
    const int slot = gScp.requestTable.Next(entry);
    if (slot < 0) {
      entry.frame.clear();
    } else {
      gScp.requestTable.MarkSent(slot);
    }
  }
  std::vector<std::vector<uint8_t>> answers;
  int result = 0;
  if (!entry.frame.empty()) {
    result = 1;
    KT_ScpMessage request;
    if (DecodeScpFrame(entry.frame.data(), entry.frame.size(), request) >= 0) {
      sent_.push_back(request);
      Note("request " + DescribeMessage(request) + " host " + std::to_string(entry.host));
    }
    if (!endpoint_.Exchange(entry.frame, entry.host, answers)) {
      Note("request not delivered to host " + std::to_string(entry.host));
    }
  }
  endpoint_.Poll(answers);
  const int host = entry.frame.empty() ? 1 : entry.host;
  for (const auto& bytes : answers) Apply(bytes, host);
  return result;
}

void AgentLink::Apply(const std::vector<uint8_t>& bytes, int hostIndex) {
  KT_ScpMessage message;
  if (DecodeScpFrame(bytes.data(), bytes.size(), message) < 0 &&
      TranslateAdapterReply(bytes.data(), bytes.size(), message) != 1) {
    Note("dropped a datagram that is no SCP frame");
    return;
  }
  const uint32_t packed = PackedKeyOf(message);
  const int block = message.KeyByte(kScpKeyBlock);
  if (block == BLOCK_STATUS || block == BLOCK_UPS_INFO) {
    KT_HostControl guard(0);
    HostEntry* first = gHosts.GetFirstHost();
    if (first == nullptr) return;
    first->TouchCommTime();
  }
  int status = 0;  // the harness's notice reads it from the block (HandleReplyNotice)
  if (!ApplyReplyToScp(message, status)) {
    Note("reply " + DescribeMessage(message) + " not applied");
    return;
  }
  RemoveAnsweredRequest(message, hostIndex);
  ++replies_applied_;
  std::string note;
  const int routed = HandleReplyNotice(packed, box_owner_, &note, hostIndex);
  replies_routed_ += routed;
  Note("reply " + DescribeMessage(message) + ": " + note + " -> " + std::to_string(routed) + " dialog(s)");
}

bool AgentLink::PumpUntil(const std::function<bool()>& done, int boundMs) {
  return PumpEventsUntil(done, boundMs, [this] { return Step(); });
}

bool AgentLink::PumpIdle(int boundMs) {
  int quiet = 0;
  return PumpUntil(
      [&] {
        bool empty;
        {
          ScpQueueLock lock;
          empty = gScp.requestTable.GetCount() == 0;
        }
        quiet = empty ? quiet + 1 : 0;
        return quiet >= 3;
      },
      boundMs);
}

void AgentLink::PumpFor(int ms) {
  PumpUntil([] { return false; }, ms);
}

}  // namespace trem_harness
