// KT_NetBCM: construction, the adapter, the channel and the request exchange with its tries.
#include "core/adapters/netbcm.h"

#include <arpa/inet.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "core/base/ktdiag.h"
#include "core/scp/scp.h"

namespace {

std::mutex g_message_mutex;
KT_NetBCM::MessageHandler g_message_handler;

constexpr const char* kBcmFailureLines[] = {
    "!!!!! FAILED TO GET A RESPONSE TO A BCM MESSAGE on try ",
    "!!!!! Empty RESPONSE TO A BCM MESSAGE on try ",
    "!!!!! BCM_BUSY RESPONSE TO A BCM MESSAGE on try ",
};
enum TryFailure { TRY_NO_RESPONSE = 0, TRY_EMPTY = 1, TRY_BUSY = 2 };

// The agent's message-box style: exclamation icon, foreground, topmost.
constexpr uint32_t kAdapterMessageStyle = 0x50030;
constexpr const char* kAdapterMessageCaption = "Tremona Agent Message";

// The longest piece of a wait or pause between two looks at the stop check.
constexpr std::chrono::milliseconds kStopSlice{100};

// Datagrams read at most once the time to wait is up, or when dropping what is waiting before a
// request: a sender that never stops cannot hold the driver.
constexpr int kOvertimeReads = 256;
constexpr int kDrainReads = 4096;
// The adapter's datagrams held from the pause after one request (it sends two or three).
constexpr size_t kHeldDatagrams = 16;

}  // namespace

KT_NetBCM::KT_NetBCM() : KT_NetBCM(&GetProcessScp(), 0) {}

KT_NetBCM::KT_NetBCM(KT_SCP* scp, int agentSide)
    : own_image_(scp == nullptr ? std::make_unique<KT_SCP>() : nullptr),
      scp_(scp != nullptr ? scp : own_image_.get()),
      decoder_(*scp_),
      agent_side_(scp != nullptr && agentSide != 0 ? 1 : 0) {
  std::memcpy(access_code_.data(), kNetBcmDefaultAccessCode, kNetBcmAccessCodeLength);
  adapter_.SetType(ADDRESS_IP);
  adapter_.SetPort(htons(static_cast<uint16_t>(kNetBcmAdapterPort)));
  adapter_.SetReadCommunity(access_code_.data());
}

KT_NetBCM::~KT_NetBCM() = default;

int KT_NetBCM::SetAdapter(const char* host, const char* accessCode, int port) {
  CloseChannel();
  adapter_.Clear();
  adapter_.SetType(ADDRESS_IP);
  adapter_host_.reset();
  // The default code, with as much of the given one as fits over its first bytes.
  std::memcpy(access_code_.data(), kNetBcmDefaultAccessCode, kNetBcmAccessCodeLength);
  access_code_[kNetBcmAccessCodeLength] = '\0';
  if (accessCode != nullptr) {
    const size_t n = strnlen(accessCode, kNetBcmAccessCodeLength);
    std::memcpy(access_code_.data(), accessCode, n);
  }
  adapter_.SetReadCommunity(access_code_.data());
  if (host != nullptr) {
    adapter_host_ = host;
    adapter_.SetHostName(host);
    if (adapter_.Resolve(host) < 0) {
      Diag() << "KT_NetBCM::SetAdapter: " << host << " cannot be resolved now" << kendl;
    }
    if (port <= 0 || port > 65535) port = kNetBcmAdapterPort;
    adapter_.SetPort(htons(static_cast<uint16_t>(port)));
  }
  connection_set_ = 1;
  return 1;
}

int KT_NetBCM::Open() {
  Initialize();
  return OpenChannel(0) < 0 ? -1 : 0;
}

void KT_NetBCM::PauseSeconds(int seconds) {
  if (seconds <= 0) return;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<int64_t>(seconds) * second_ms_);
  while (!Stopping()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    std::this_thread::sleep_for(std::min(left, kStopSlice));
  }
}

void KT_NetBCM::SetMessageHandler(MessageHandler handler) {
  std::lock_guard<std::mutex> lock(g_message_mutex);
  g_message_handler = std::move(handler);
}

void KT_NetBCM::ShowMessage(const std::string& text) {
  MessageHandler handler;
  {
    std::lock_guard<std::mutex> lock(g_message_mutex);
    handler = g_message_handler;
  }
  if (handler) {
    handler(text, kAdapterMessageCaption, kAdapterMessageStyle);
  } else {
    Diag() << kAdapterMessageCaption << ": " << text << kendl;
  }
}

// ---- request building ---------------------------------------------------------------------

void KT_NetBCM::AppendSelect(std::vector<uint8_t>& out, uint8_t indicator) {
  const uint8_t payload[] = {kBcmSelectBlock, indicator};
  AppendBcmBlock(out, payload, sizeof payload);
}

void KT_NetBCM::AppendAccess(std::vector<uint8_t>& out) const {
  uint8_t payload[1 + kNetBcmAccessCodeLength];
  payload[0] = kBcmAccessBlock;
  std::memcpy(payload + 1, access_code_.data(), kNetBcmAccessCodeLength);
  AppendBcmBlock(out, payload, sizeof payload);
}

void KT_NetBCM::AppendPayload(std::vector<uint8_t>& out, const std::vector<uint8_t>& payload) {
  AppendBcmBlock(out, payload.data(), payload.size());
}

std::vector<uint8_t> KT_NetBCM::Query(uint8_t query, bool access) const {
  std::vector<uint8_t> out;
  AppendSelect(out, kNetBcmUpsIndicator);
  if (access) AppendAccess(out);
  AppendPayload(out, {query});
  return out;
}

std::vector<uint8_t> KT_NetBCM::CommandRequest(uint8_t select, const std::vector<std::vector<uint8_t>>& payloads) const {
  std::vector<uint8_t> out;
  AppendSelect(out, select);
  AppendAccess(out);
  for (const auto& p : payloads) AppendPayload(out, p);
  return out;
}

// ---- the exchange -------------------------------------------------------------------------

int KT_NetBCM::Wait(int seconds) { return WaitMs(static_cast<int64_t>(seconds < 0 ? 0 : seconds) * second_ms_); }

int KT_NetBCM::WaitMs(int64_t ms) {
  if (GetSocket() < 0) return -1;
  if (ms < 0) ms = 0;
  pollfd p{};
  p.fd = GetSocket();
  p.events = POLLIN;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    // With a stop check the wait goes in slices, so that a stop ends it within one.
    const int64_t slice = stop_ ? std::min<int64_t>(left.count(), kStopSlice.count()) : left.count();
    const int timeout = static_cast<int>(std::clamp<int64_t>(slice, 0, INT_MAX));
    const int r = ::poll(&p, 1, timeout);
    if (r > 0) return r;
    if (r == 0) {
      if (left.count() <= slice || Stopping()) return 0;
      continue;
    }
    if (errno != EINTR) {
      LogError(ERR_DATAGRAM, DATAGRAM_FN_WAIT, 1, errno);
      return -1;
    }
  }
}

std::optional<KT_NetBCM::Endpoint> KT_NetBCM::EndpointOf(KT_Address& address) {
  sockaddr_storage to{};
  socklen_t length = 0;
  if (address.GetType() != ADDRESS_IP || address.ToSockAddr(to, length) < 0 || to.ss_family != AF_INET) {
    return std::nullopt;
  }
  const auto& sin = reinterpret_cast<const sockaddr_in&>(to);
  return Endpoint{sin.sin_addr.s_addr, sin.sin_port};
}

KT_Address KT_NetBCM::SendAddress(const std::optional<Endpoint>& endpoint) {
  KT_Address to(ADDRESS_IP);
  if (endpoint) to.SetSender(ADDRESS_IP, endpoint->ip, endpoint->port);
  return to;
}

int KT_NetBCM::ReceiveFrom(const Endpoint& peer, int64_t ms) {
  reply_.clear();
  if (!held_.empty()) {
    reply_ = std::move(held_.front());
    held_.pop_front();
    return reply_.empty() ? 0 : 1;
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
  for (int overtime = 0;;) {
    if (Stopping()) return 0;
    const int64_t left =
        std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
    // Once the time is up, only what is already waiting is read, and not without end.
    if (left <= 0 && ++overtime > kOvertimeReads) return 0;
    const int ready = WaitMs(left);
    if (ready <= 0) return ready;
    KT_Address from;
    const int r = ReceiveBounded(&from, reply_);
    if (r >= 0 && from.GetIpAddress() == peer.ip && from.GetPort() == peer.port) return r;
    // Another sender's datagram, one too long for any reply (whoever sent it), or one that
    // could not be read (which says nothing of the adapter either): dropped, and the wait goes
    // on.
    if (r >= 0 || r == kUdpOversize) foreign_.Count(from.GetIpAddress(), from.GetPort());
    reply_.clear();
  }
}

void KT_NetBCM::HoldReplies(const Endpoint& peer, int seconds) {
  if (seconds <= 0) return;
  const auto end = std::chrono::steady_clock::now() +
                   std::chrono::milliseconds(static_cast<int64_t>(seconds) * second_ms_);
  std::vector<uint8_t> datagram;
  while (!Stopping()) {
    const int64_t left =
        std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
    if (left <= 0) return;
    const int ready = WaitMs(left);
    if (ready < 0) {
      // No socket to read: the pause as a plain sleep.
      std::this_thread::sleep_for(std::min(std::chrono::milliseconds(left), kStopSlice));
      continue;
    }
    if (ready == 0) continue;
    KT_Address from;
    const int r = ReceiveBounded(&from, datagram);
    if (r < 0 && r != kUdpOversize) continue;
    if (r == kUdpOversize || from.GetIpAddress() != peer.ip || from.GetPort() != peer.port) {
      foreign_.Count(from.GetIpAddress(), from.GetPort());
    } else if (held_.size() < kHeldDatagrams) {
      held_.push_back(std::move(datagram));
    }
    datagram.clear();
  }
}

void KT_NetBCM::Drain(const std::optional<Endpoint>& adapter) {
  held_.clear();
  std::vector<uint8_t> stale;
  for (int n = 0; n < kDrainReads && Wait(0) > 0; ++n) {
    KT_Address from;
    const int r = ReceiveBounded(&from, stale);
    if (r < 0 && r != kUdpOversize) break;
    if (r == kUdpOversize || !adapter || from.GetIpAddress() != adapter->ip ||
        from.GetPort() != adapter->port) {
      foreign_.Count(from.GetIpAddress(), from.GetPort());
      continue;
    }
    Diag() << "KT_NetBCM: dropped a waiting datagram of " << static_cast<int>(stale.size()) << " bytes" << kendl;
  }
  foreign_.Report();
}

bool KT_NetBCM::IsBusyAnswer(int wantedType, const std::vector<uint8_t>& data) const {
  // The UPS's busy answer is an acknowledgement whose code is '3'. A reply of the wanted
  // type counts only when it is that one byte: other data may well begin with 0x33.
  if (wantedType == BCM_REPLY_ACK) return !data.empty() && data[0] == BCM_ACK_BUSY;
  return data.size() == 1 && data[0] == BCM_ACK_BUSY;
}

int KT_NetBCM::Exchange(const std::vector<uint8_t>& request, int wantedType, int sleepSeconds, int retries,
                        int waitSeconds, std::vector<uint8_t>* data, int alsoType) {
  std::vector<uint8_t> joined;
  // An adapter given by name is looked up once an exchange (a name server that does not answer
  // costs every lookup its time-out); a name that cannot be found fails the send.
  const std::optional<Endpoint> adapter = EndpointOf(adapter_);
  KT_Address to = SendAddress(adapter);
  Drain(adapter);
  // What the pauses held belongs to this exchange; the next one starts afresh.
  struct ClearHeld {
    std::deque<std::vector<uint8_t>>& held;
    ~ClearHeld() { held.clear(); }
  } clearHeld{held_};
  for (int attempt = 0; attempt <= retries; ++attempt) {
    if (Stopping()) {
      Diag() << "KT_NetBCM: stopping, the request is not sent" << kendl;
      return -1;
    }
    if (Send(&to, request) <= 0 || !adapter) {
      // A datagram that cannot leave this computer will not leave it on the next try either.
      Diag() << kBcmFailureLines[TRY_NO_RESPONSE] << attempt << " of " << retries << " !!! (not sent)" << kendl;
      return -1;
    }
    HoldReplies(*adapter, sleepSeconds);
    TryFailure failure = TRY_NO_RESPONSE;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<int64_t>(
                                                             waitSeconds < 0 ? 0 : waitSeconds) * second_ms_);
    for (bool skipped = false;; skipped = true) {
      const int64_t left =
          std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
      // A stream of late or foreign datagrams cannot hold the try beyond its wait.
      if ((skipped && left <= 0) || ReceiveFrom(*adapter, left) <= 0) break;
      if (wantedType < 0) {
        reply_length_ = static_cast<int>(reply_.size());
        return 0;
      }
      const int wanted =
          ParseNetBcmReply(reply_.data(), reply_.size(), static_cast<uint8_t>(wantedType), joined, &counters_);
      int r = wanted;
      if (r == NETBCM_REPLY_COMPLETE && alsoType >= 0) {
        std::vector<uint8_t> also;
        r = ParseNetBcmReply(reply_.data(), reply_.size(), static_cast<uint8_t>(alsoType), also, &counters_);
      }
      if (r == NETBCM_REPLY_COMPLETE && !IsBusyAnswer(wantedType, joined)) {
        reply_length_ = static_cast<int>(reply_.size());
        if (data != nullptr) *data = std::move(joined);
        return 0;
      }
      std::vector<uint8_t> ack;
      const bool busy = r == NETBCM_REPLY_COMPLETE ||
                        (wantedType != BCM_REPLY_ACK &&
                         ParseNetBcmReply(reply_.data(), reply_.size(), BCM_REPLY_ACK, ack) == NETBCM_REPLY_COMPLETE &&
                         IsBusyAnswer(BCM_REPLY_ACK, ack));
      if (wanted == NETBCM_REPLY_NOT_WANTED && !busy) {
        // Intact blocks, none of them ours: an answer to an earlier request. Read on.
        Diag() << "KT_NetBCM: skipped a late datagram of " << static_cast<int>(reply_.size()) << " bytes" << kendl;
        continue;
      }
      failure = busy ? TRY_BUSY : TRY_EMPTY;
      break;
    }
    KtDiag& d = Diag();
    for (int i = 0; i < 3; ++i) d << kBcmFailureLines[failure] << attempt << " of " << retries << " !!!";
    d << kendl;
  }
  return -1;
}

int KT_NetBCM::Command(const std::vector<uint8_t>& request, int sleepSeconds, int retries) {
  std::vector<uint8_t> ack;
  if (Exchange(request, BCM_REPLY_ACK, sleepSeconds, retries, 10, &ack) < 0 || ack.empty()) return BCM_ACK_NOT_RESPONDED;
  return ack[0];
}

const char* KT_NetBCM::CommandResultText(int code) { return BcmCommandResultText(code); }

int KT_NetBCM::CommandResult(int code) { return BcmCommandAccepted(code) ? 1 : 0; }

void KT_NetBCM::LogResult(const std::string& head, int code) {
  Diag() << head << CommandResultText(code) << kendl;
}
