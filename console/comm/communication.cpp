#include "console/comm/communication.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <chrono>
#include <set>
#include <string>
#include <thread>

#include "console/comm/comm_frame.h"
#include "console/comm/comm_settings.h"
#include "console/comm/qt_handover.h"
#include "core/adapters/snmp.h"
#include "core/base/ktdiag.h"
#include "core/discovery/discover.h"
#include "core/scp/scp_frame.h"
#include "dialogs/frame/host_control.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/reply_routing.h"
#include "dialogs/frame/reply_status.h"
#include "dialogs/frame/request_path.h"
#include "dialogs/frame/trem_globals.h"
#include "platform/clock.h"
#include "platform/named_object.h"

const char* const kBuiltInHostNames[6] = {"ktlab-ups1", "ktlab-ups2", "ktlab-ups3",
                                          "ktlab-ups4", "ktlab-ups5", "ktlab-ups6"};

namespace {

constexpr int kStepSleepMs = 50;
constexpr int kUnregisterSettleMs = 500;
// The slices in which the worker waits on the local channel, so that a stop ends the wait.
constexpr int kLocalSliceMs = 20;
constexpr uint32_t kLostHostKey = PackScpKey(1, 1, 0, 0);
constexpr uint32_t kServiceHostKey = PackScpKey(1, 1, 1, 1);
constexpr uint32_t kBuiltInHostKey = PackScpKey(1, 2, 0, 0);

bool IsImageBlock(int block) {
  return block == BLOCK_STATUS || block == BLOCK_UPS_INFO;
}

// Whether a reply answers a request whose frame is of the type: a GET is answered with its data
// or a GET's status, a SET (or command) with a status that is not a GET's.
bool Answers(int requestType, const KT_ScpMessage& reply) {
  const int code = reply.data.empty() ? -1 : reply.data[0];
  switch (requestType) {
    case SCP_GET:
      return reply.type == SCP_DATA || (reply.type == SCP_STATUS && code != SCP_SET_OK &&
                                        code != SCP_SET_FAILED && code != SCP_SET_REFUSED);
    case SCP_SET:
      return reply.type == SCP_STATUS && code != SCP_GET_RESEND && code != SCP_GET_FAILED &&
             code != SCP_GET_OK;
    default:
      return false;
  }
}

// The type of the request (SCP_GET, SCP_SET) that a reply from the host answers; 0 when none of
// the table's requests is answered by it.
int AnsweredRequestType(const KT_ScpMessage& reply, int hostIndex) {
  const int type = gScp.requestTable.FrameType(reply.key.data(), reply.KeyLength(), hostIndex);
  return Answers(type, reply) ? type : 0;
}

// The agent's status push: the whole status block, asked for by no request.
bool IsStatusPush(const KT_ScpMessage& m) {
  return m.type == SCP_DATA && m.KeyLength() == 1 && m.KeyByte(kScpKeyBlock) == BLOCK_STATUS;
}

// The host indexes of gHosts, in table order (the caller holds a guard). Walks by index, so
// the table's shared cursor is left to the user-interface thread.
std::vector<int> HostIndexes() {
  std::vector<int> out;
  for (int i = 1; i < gHosts.GetNextIndex(); ++i) {
    if (gHosts.GetHostByIndex(i) != nullptr) out.push_back(i);
  }
  return out;
}

// Sends a frame over gDiscover's UDP channel (type 1; an address without a port gets the agents'
// port) or its IPX channel (type 2). True when sent; false for a closed channel or other types.
bool SendOverChannel(int type, KT_Address& to, const std::vector<uint8_t>& frame) {
  if (type == ADDRESS_IPX) {
    KT_IPX& ipx = gDiscover.IpxChannel();
    return ipx.IsOpen() && ipx.Send(&to, frame) == 1;
  }
  if (type != ADDRESS_IP || !gDiscover.IsOpen()) return false;
  if (to.GetPort() == 0) to.SetPort(htons(kScpUdpPort));
  return gDiscover.Send(&to, frame) == 1;
}

}  // namespace

CCommunication::CCommunication(CommNoticeRelay* relay, QObject* parent)
    : QThread(parent), relay_(relay), last_heartbeat_(platform::Now()) {
  wake_fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

CCommunication::~CCommunication() {
  Stop(10000);
  if (wake_fd_ >= 0) ::close(wake_fd_);
}

void CCommunication::SetReceiveWaits(int udpMs, int ipxMs) {
  if (udpMs > 0) udp_wait_ms_ = udpMs;
  if (ipxMs > 0) ipx_wait_ms_ = ipxMs;
}

bool CCommunication::Stop(unsigned long timeoutMs) {
  quit_.store(true);
  if (wake_fd_ >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wake_fd_, &one, sizeof one);
  }
  // quit() reaches only an event loop that already runs, so it is repeated until the thread
  // has ended or the time is up.
  QDeadlineTimer deadline(static_cast<qint64>(timeoutMs));
  for (;;) {
    const qint64 left = deadline.remainingTime();
    if (!isRunning() || (quit(), wait(QDeadlineTimer(left < 0 ? 20 : std::min<qint64>(left, 20))))) {
      TakeOver(this);  // what the ended thread did (see the end of run)
      return true;
    }
    if (deadline.hasExpired()) return false;
  }
}

bool CCommunication::WaitInitialised(int timeoutMs) {
  std::unique_lock<std::mutex> lock(init_mutex_);
  return init_cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return init_done_; });
}

void CCommunication::RequestDiscovery() {
  CCommFrame* frame = frame_.load();
  if (frame != nullptr) QCoreApplication::postEvent(frame, new CommFrameDiscoverEvent());
}

// ---- thread ----

void CCommunication::run() {
  if (InitCommunication() == 0) {
    ExitInstance();
    HandOver(this);
    return;
  }
  QTimer timer;
  timer.setSingleShot(true);
  step_timer_ = &timer;
  connect(&timer, &QTimer::timeout, &timer, [this] {
    Step();
    ScheduleStep();
  });
  if (!quit_.load()) {
    timer.start(0);
    exec();
  }
  step_timer_ = nullptr;
  ExitInstance();
  HandOver(this);
}

void CCommunication::ScheduleStep() {
  // An idle worker (transport not open, critical error) schedules nothing and sleeps in its
  // event loop until it is stopped.
  if (step_timer_ == nullptr || quit_.load() || running_.load() == 0 || stop_.load() != 0) return;
  step_timer_->start(kStepSleepMs);
}

int CCommunication::InitCommunication() {
  mode_ = gnCommMode;
  int result = 1;
  switch (mode_) {
    case 0:
      if (!gDiscover.IsOpen()) {
        gDiscover.Initialize();
        if (gDiscover.OpenChannel(0) < 0) running_.store(0);
      }
      break;
    case 1: {
      KT_IPX& ipx = gDiscover.IpxChannel();
      if (!ipx.IsOpen()) {
        ipx.Initialize();
        if (ipx.OpenChannel(0) < 0) running_.store(0);
      }
      break;
    }
    case 2:
      KT_SNMP::Initialize(&gScp);
      snmp_ = std::make_unique<KT_SNMP>();
      if (!gScp.HasSnmpSupport() && relay_ != nullptr) {
        relay_->PostBox(QStringLiteral("Unable to locate <mib.txt> file.\nSNMP Disabled"), gcsMessageBoxTitle,
                        MB_OK, false);
      }
      break;
    case 3:
      if (ipc_.Open(kIpcConsoleRole) < 0) {
        // Another program holds the channel's names (the channel's trace says which and who):
        // the worker runs on, and the channel opens at a later step as soon as they are free.
        Diag() << "CCommunication: the local channel cannot be opened yet; it is tried again at the next steps\n";
      } else if (const int dropped = DropLocalMessages(); dropped > 0) {
        // Nothing has been asked yet, so what waits in the channel was meant for a console
        // that used it before and has ended (its last answers, a status push for it).
        Diag() << "CCommunication: dropped " << dropped
               << " message(s) an earlier console left on the local channel\n";
      }
      break;
    case 4: {
      running_.store(0);
      gScp.ClearFlag(SCP_FLAG_UDP_OPEN);
      gScp.ClearFlag(SCP_FLAG_IPX_OPEN);
      KT_SNMP::Initialize(&gScp);
      snmp_ = std::make_unique<KT_SNMP>();
      if (!gDiscover.IsOpen()) {
        gDiscover.Initialize();
        gDiscover.OpenChannel(0);
      }
      if (gDiscover.IsOpen()) {
        gScp.SetFlag(SCP_FLAG_UDP_OPEN);
        running_.store(1);
      }
      KT_IPX& ipx = gDiscover.IpxChannel();
      if (!ipx.IsOpen()) {
        ipx.Initialize();
        ipx.OpenChannel(0);
      }
      if (ipx.IsOpen()) {
        gScp.SetFlag(SCP_FLAG_IPX_OPEN);
        running_.store(1);
      }
      break;
    }
    case 5:
      break;
    default:
      running_.store(0);
      result = 0;
      break;
  }
  if (result != 0) frame_.store(new CCommFrame());
  {
    std::lock_guard<std::mutex> lock(init_mutex_);
    init_done_ = true;
  }
  init_cv_.notify_all();
  emit initialised();
  if (result != 0 && running_.load() == 0) {
    Diag() << "CCommunication: the transport of mode " << mode_ << " did not open; the worker stays idle\n";
  }
  return result;
}

void CCommunication::Step() {
  if (running_.load() == 0 || stop_.load() != 0) return;
  ++steps_;
  Heartbeat();
  switch (mode_) {
    case 0:
      Send();
      ReceivePass(Via::Udp);
      break;
    case 1:
      Send();
      ReceivePass(Via::Ipx);
      break;
    case 2:
      Send();
      break;
    case 3:
      Send();
      ReceivePass(Via::Local);
      break;
    case 4:
      Send();
      ReceivePassAll();
      break;
    case 5:
      ListBuiltInHosts();
      break;
    default:
      break;
  }
  CheckForTimeout();
}

int CCommunication::ExitInstance() {
  running_.store(0);
  {
    ScpQueueLock queue;
    if (queue.locked()) gScp.requestTable.Clear();
  }
  Unregister();
  delete frame_.exchange(nullptr);
  return stop_.load() != 0 ? 1 : 0;
}

// ---- posting ----

void CCommunication::Post(int message, int wParam, uint32_t key, int status, int hostIndex,
                          bool answeredSet) {
  if (relay_ == nullptr) return;
  CommNotice n;
  n.message = message;
  n.wParam = wParam;
  n.key = key;
  n.status = status;
  n.hostIndex = hostIndex;
  n.answeredSet = answeredSet;
  relay_->PostNotice(n);
}

bool CCommunication::QueueLocked(const ScpQueueLock& queue, KT_HostControl& guard, const char* where) {
  if (queue.locked()) return true;
  guard.Release();
  CriticalError((std::string("(CCommunication::") + where +
                 (queue.missing() ? "): Could not open SCP mutex." : "): Could not wait on SCP mutex."))
                    .c_str());
  return false;
}

void CCommunication::CriticalError(const char* text) {
  stop_.store(1);
  running_.store(0);
  if (relay_ != nullptr) {
    relay_->PostBox(QString::fromUtf8(text), QStringLiteral("CRITICAL ERROR"),
                    MB_OK | MB_ICONERROR | MB_SETFOREGROUND, true);
  }
}

// ---- send ----

int CCommunication::Send() {
  if (stop_.load() != 0) return 1;
  ScpQueueEntry entry;
  bool delivered = false;
  bool snmp = false;
  KT_Address to;
  {
    KT_HostControl guard(0);
    ScpQueueLock queue;
    if (!QueueLocked(queue, guard, "Send")) return 0;
    int slot = gScp.requestTable.Next(entry);
    // A scan that began past the last unsent entry ends at the table's end with the cursor
    // back at 0: one more scan from the start finds it in this step, not the next.
    if (slot < 0) slot = gScp.requestTable.Next(entry);
    if (slot < 0) return 1;
    if (mode_ == 3) {
      delivered = SendLocal(entry.frame, false);
    } else {
      HostEntry* host = gHosts.GetHostByIndex(entry.host);
      if (host == nullptr) return 0;  // stays unsent
      to = host->Address();
      int type = to.GetType();
      if (mode_ == 1) type = ADDRESS_IPX;
      if (mode_ == 2) type = ADDRESS_SNMP;
      switch (type) {
        case ADDRESS_IP:
        case ADDRESS_IPX:
          delivered = SendOverChannel(type, to, entry.frame);
          break;
        case ADDRESS_SNMP:
          // An SNMP request takes seconds: it is marked sent now and carried out after the
          // guard and the mutex are given back.
          if (gScp.HasSnmpSupport() && snmp_ != nullptr) {
            gScp.requestTable.MarkSent(slot);
            snmp = true;
            delivered = true;
          }
          break;
        default:
          break;
      }
    }
    if (!snmp) {
      bool lost;
      {
        auto lock = gScp.Lock();
        lost = gScp.upsStatus.IsAlarmSet(ALARM_LOST_DAEMON_COMM) == 1;
      }
      if (!delivered && !lost) return 0;  // tried again at the next step
      gScp.requestTable.MarkSent(slot);
    }
  }
  if (snmp) {
    if (snmp_->SendRequest(to, entry.frame.data(), static_cast<int>(entry.frame.size())) == 1) {
      SnmpAnswerPass(entry.host);
    }
  }
  return 1;
}

void CCommunication::SnmpAnswerPass(int hostIndex) {
  Received datagram;
  if (snmp_->AnswerPendingRequest(datagram.from, datagram.bytes) != 1 || datagram.bytes.empty()) return;
  if (mode_ == 4) {
    HandleDatagramAll(datagram, Via::Snmp, hostIndex);
  } else {
    HandleDatagram(datagram, Via::Snmp, hostIndex);
  }
}

// ---- receive ----

bool CCommunication::WaitForDatagram(Via via, int ms) {
  if (StopAsked()) return false;
  if (via == Via::Local) {
    // The channel's own wait (KT_IPC::IsDataReady: false at once when no message waits, true
    // once one has waited kIpcReadyWaitMs), in slices that end on a stop.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kIpcReadyWaitMs);
    while (ipc_.MessageWaiting()) {
      if (std::chrono::steady_clock::now() >= until) return true;
      pollfd wake{wake_fd_, POLLIN, 0};
      ::poll(&wake, wake_fd_ >= 0 ? 1 : 0, kLocalSliceMs);
      if (StopAsked()) return false;
    }
    return false;
  }
  const int fd = via == Via::Udp ? gDiscover.GetSocket() : gDiscover.IpxChannel().GetSocket();
  if (fd < 0) return false;
  pollfd fds[2] = {{fd, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
  const int n = ::poll(fds, wake_fd_ >= 0 ? 2 : 1, ms);
  if (n <= 0 || StopAsked()) return false;
  return (fds[0].revents & POLLIN) != 0;
}

bool CCommunication::ReceiveOne(Via via, Received& out, bool& failed) {
  failed = false;
  out.bytes.clear();
  int rc;
  if (via == Via::Local) {
    rc = ipc_.Receive(&out.from, out.bytes);
  } else if (via == Via::Udp) {
    rc = gDiscover.Receive(&out.from, out.bytes);
  } else {
    rc = gDiscover.IpxChannel().Receive(&out.from, out.bytes);
  }
  if (rc < 0) {
    failed = true;
    return false;
  }
  return !out.bytes.empty();
}

void CCommunication::ReceivePass(Via via) {
  // The shared-memory channel waits by itself (KT_IPC::IsDataReady).
  ReceiveFrom(via, via == Via::Ipx ? ipx_wait_ms_ : udp_wait_ms_, false);
}

void CCommunication::ReceivePassAll() {
  ReceiveFrom(Via::Udp, udp_wait_ms_, true);
  ReceiveFrom(Via::Ipx, udp_wait_ms_, true);
}

void CCommunication::ReceiveFrom(Via via, int waitMs, bool all) {
  const uint32_t open = via == Via::Udp ? SCP_FLAG_UDP_OPEN : SCP_FLAG_IPX_OPEN;
  // Every pass stops between datagrams once a stop is asked, so steady traffic cannot hold
  // the worker.
  while ((!all || gScp.TestFlag(open)) && !StopAsked() && WaitForDatagram(via, waitMs)) {
    Received datagram;
    bool failed = false;
    if (!ReceiveOne(via, datagram, failed)) {
      if (failed) return;
      continue;
    }
    if (all) {
      HandleDatagramAll(datagram, via);
    } else if (!HandleDatagram(datagram, via, 0)) {
      return;
    }
  }
}

bool CCommunication::DecodeDatagram(Received& datagram, bool adapterAnswers, KT_ScpMessage& message) {
  if (DecodeScpFrame(datagram.bytes.data(), datagram.bytes.size(), message) >= 0) {
    // A console takes answers only: requests from a peer never change its image.
    return message.type == SCP_DATA || message.type == SCP_STATUS;
  }
  if (!adapterAnswers) return false;
  message.Clear();
  if (TranslateAdapterReply(datagram.bytes.data(), datagram.bytes.size(), message) != 1) return false;
  datagram.from.SetType(ADDRESS_SNMP);
  datagram.from.SetReadCommunity("marble");
  datagram.from.SetWriteCommunity("harvest");
  return true;
}

int CCommunication::SenderHost(const KT_Address& from) {
  const int found = gHosts.FindHostByAddress(from.GetIpAddress());
  if (found >= 0) return found;
  if (from.GetType() == ADDRESS_IPX) return -1;
  // A host entered by name only is matched by the address its name resolves to.
  for (int index : HostIndexes()) {
    HostEntry* host = gHosts.GetHostByIndex(index);
    if (host == nullptr || host->Address().GetIpAddress() != 0) continue;
    const char* name = host->Address().StoredHostName();
    if (name == nullptr || *name == '\0') continue;
    KT_Address resolved;
    if (resolved.Resolve(name) == 1 && resolved.GetIpAddress() == from.GetIpAddress()) return index;
  }
  return -1;
}

bool CCommunication::HandleDatagram(Received& datagram, Via via, int requestHost) {
  KT_ScpMessage message;
  if (!DecodeDatagram(datagram, via == Via::Udp, message)) return true;  // dropped
  const uint32_t key = PackedKeyOf(message);
  const int block = message.KeyByte(kScpKeyBlock);
  int hostIndex = -1;
  int answered = 0;
  {
    KT_HostControl guard(0);
    HostEntry* host = nullptr;
    if (via == Via::Local) {
      host = gHosts.GetFirstHost();
      if (host == nullptr) return false;  // no host: the pass ends
      hostIndex = host->GetHostIndex();
      // The local channel serves one console after another: a reply to none of this console's
      // requests was meant for one that has ended, and would show its answers as this one's.
      answered = AnsweredRequestType(message, hostIndex);
      if (answered == 0 && !IsStatusPush(message)) return true;
    } else if (via == Via::Snmp) {
      // An SNMP answer belongs to the host its request went to.
      host = gHosts.GetHostByIndex(requestHost);
      if (host == nullptr) return true;
      hostIndex = requestHost;
    } else {
      if (gHosts.GetHostCount() == 0) return false;
      // A sender that is not in the table is not one of this console's agents.
      hostIndex = SenderHost(datagram.from);
      if (hostIndex < 0) return true;
      host = gHosts.GetHostByIndex(hostIndex);
      if (host == nullptr) return true;
    }
    if (via != Via::Local) answered = AnsweredRequestType(message, hostIndex);
    if (IsImageBlock(block)) {
      host->TouchCommTime();
      if (via == Via::Local) gScp.TouchCommTime();
    }
  }
  int status = 0;
  if (!ApplyReplyToScp(message, status)) {
    AskFormatAgain(block, hostIndex);
    return true;
  }
  if (answered == SCP_SET) ++set_answers_;
  RemoveAnsweredRequest(message, hostIndex);
  Post(kNoticeReplyApplied, 0, key, status, hostIndex, answered == SCP_SET);
  return true;
}

void CCommunication::AskFormatAgain(int block, int hostIndex) {
  // The widths of several fields follow the agent's version, which each side learns from the
  // UPS information. An agent started again serves its first widths until it is asked for that
  // information, so its answers do not read in those this console learnt before: the UPS
  // information is asked for again (the unreadable answer's request stays, to be asked again).
  if (block == BLOCK_UPS_INFO || hostIndex < 0) return;
  Diag() << "CCommunication: an answer of block " << block << " from host " << hostIndex
         << " does not read; asking for its UPS information again" << kendl;
  KT_HostControl guard(0);
  ScpQueueLock queue;
  if (!QueueLocked(queue, guard, "AskFormatAgain")) return;
  gScp.QueueGetRequest(BLOCK_UPS_INFO, 0, 0, 0, hostIndex);
}

bool CCommunication::HandleServiceAnswer(const std::vector<uint8_t>& bytes) {
  std::vector<KT_SapEntry> entries;
  if (ParseSapResponse(bytes.data(), bytes.size(), entries) == 0) return false;
  for (const KT_SapEntry& e : entries) {
    if (e.serverType != kSapServerType) continue;
    KT_Address address;
    SapEntryAddress(e, address);
    int added = 0;
    int index = -1;
    {
      KT_HostControl guard(1);
      added = gHosts.AddHost(address);
      if (added == 1) index = gHosts.GetNextIndex() - 1;
    }
    if (added == 1) Post(kNoticeHostChanged, index, kServiceHostKey, kNoticeImageChanged, index);
  }
  return true;
}

void CCommunication::HandleDatagramAll(Received& datagram, Via via, int requestHost) {
  if (via == Via::Ipx && HandleServiceAnswer(datagram.bytes)) return;
  KT_ScpMessage message;
  if (!DecodeDatagram(datagram, via == Via::Udp, message)) return;
  const uint32_t key = PackedKeyOf(message);
  const int block = message.KeyByte(kScpKeyBlock);
  const KT_ScpMessage answered = message;  // ProcessPacket empties the message
  if (IsImageBlock(block)) {
    int hostIndex = -1;
    int status = 0;
    bool stored = false;
    {
      KT_HostControl guard(1);
      HostEntry* host = nullptr;
      if (via == Via::Snmp) {
        // An adapter's answer lands in the image of the host its request went to.
        host = gHosts.GetHostByIndex(requestHost);
        if (host != nullptr) {
          host->TouchCommTime();
          std::vector<uint8_t> none;
          stored = host->ExecuteCommand(message, none) >= 0;
          hostIndex = requestHost;
        }
      } else if (gHosts.ProcessPacket(datagram.from, message) >= 0) {
        stored = true;
        hostIndex = gHosts.FindHostByAddress(datagram.from.GetIpAddress());
        host = gHosts.GetHostByIndex(hostIndex);
      }
      if (stored) {
        if (answered.type == SCP_STATUS) {
          status = answered.data.empty() ? 8 : answered.data[0];
        } else if (host != nullptr) {
          auto lock = host->Lock();
          KT_Block* b = host->GetBlock(block);
          status = b != nullptr ? b->GetStatus() : SCP_GET_OK;
        }
      }
    }
    if (!stored) return;
    const bool answeredSet = AnsweredRequestType(answered, hostIndex) == SCP_SET;
    if (answeredSet) ++set_answers_;
    RemoveAnsweredRequest(answered, hostIndex);
    Post(kNoticeHostChanged, hostIndex, key, status, hostIndex, answeredSet);
    return;
  }
  int hostIndex = requestHost;
  if (via != Via::Snmp) {
    KT_HostControl guard(0);
    hostIndex = gHosts.FindHostByAddress(datagram.from.GetIpAddress());
  }
  // As in the other modes, a sender that is not in the table is not one of this console's
  // agents: its answers never change the console's image.
  if (hostIndex < 0) return;
  const bool answeredSet = AnsweredRequestType(answered, hostIndex) == SCP_SET;
  int status = 0;
  if (!ApplyReplyToScp(answered, status)) {
    AskFormatAgain(block, hostIndex);
    return;
  }
  if (answeredSet) ++set_answers_;
  RemoveAnsweredRequest(answered, hostIndex);
  Post(kNoticeReplyApplied, 0, key, status, hostIndex, answeredSet);
}

// ---- heartbeat, time-out, unregister, built-in list ----

void CCommunication::Heartbeat() {
  if (stop_.load() != 0) return;
  KT_HostControl guard(0);
  ScpQueueLock queue;
  if (!QueueLocked(queue, guard, "Heartbeat")) return;
  const int64_t now = platform::Now();
  if (now - last_heartbeat_ <= kHeartbeatSeconds) return;
  last_heartbeat_ = now;
  for (int index : HostIndexes()) gScp.QueueGetRequest(BLOCK_STATUS, 0, 0, 1, index);
}

void CCommunication::CheckForTimeout() {
  if (stop_.load() != 0) return;
  if (relay_ == nullptr || !relay_->HasTarget()) return;
  std::vector<int> lost;
  {
    KT_HostControl guard(0);
    for (int index : HostIndexes()) {
      HostEntry* host = gHosts.GetHostByIndex(index);
      if (host != nullptr && host->IsCommTimedOut()) lost.push_back(index);
    }
  }
  for (int index : lost) {
    if (mode_ == 4) {
      {
        KT_HostControl guard(1);
        ScpQueueLock queue;
        if (!QueueLocked(queue, guard, "CheckForTimeout")) return;
        gScp.requestTable.ResetHost(index);
      }
      {
        KT_HostControl guard(1);
        HostEntry* host = gHosts.GetHostByIndex(index);
        if (host == nullptr) continue;
        {
          auto lock = host->Lock();
          host->upsStatus.SetAlarm(ALARM_LOST_DAEMON_COMM);
          host->upsInfo.Reset();
        }
        host->TouchCommTime();
      }
      Post(kNoticeHostChanged, index, kLostHostKey, kNoticeImageChanged, index);
    } else {
      {
        auto lock = gScp.Lock();
        gScp.ResetUpsData();
        gScp.upsStatus.SetAlarm(ALARM_LOST_DAEMON_COMM);
      }
      {
        KT_HostControl guard(0);
        ScpQueueLock queue;
        if (!QueueLocked(queue, guard, "CheckForTimeout")) return;
        // What was sent to the silent host goes out again: an unanswered question in flight
        // would otherwise hold back every newer one for the same key (the heartbeat's too).
        gScp.requestTable.ResetHost(index);
        gScp.QueueGetRequest(BLOCK_STATUS, 0, 0, 1, index);
        gScp.QueueGetRequest(BLOCK_UPS_INFO, 0, 0, 0, index);
        HostEntry* host = gHosts.GetHostByIndex(index);
        if (host != nullptr) host->TouchCommTime();
      }
      Post(kNoticeReplyApplied, 0, kLostHostKey, kNoticeImageChanged, index);
    }
  }
}

void CCommunication::Unregister() {
  if (mode_ < 0 || mode_ > 4) return;
  int sent = 0;
  {
    KT_HostControl guard(0);
    ScpQueueLock queue;
    if (!queue.locked()) return;  // gives up silently
    std::vector<int> hosts;
    if (mode_ == 3) {
      HostEntry* first = gHosts.GetFirstHost();
      if (first != nullptr) hosts.push_back(first->GetHostIndex());
    } else {
      for (int index : HostIndexes()) {
        HostEntry* host = gHosts.GetHostByIndex(index);
        if (host != nullptr && host->Address().GetType() != ADDRESS_SNMP) hosts.push_back(index);
      }
    }
    if (hosts.empty()) return;
    {
      auto lock = gScp.Lock();
      gScp.commandBlock.Branches().Touch(6);
    }
    for (int index : hosts) gScp.QueueRequest(BLOCK_COMMAND, 6, 0, index);
    // Sent at once: the worker steps no more. The scan starts at the table's first slot, where
    // the new entries are, wherever earlier sends left the cursor.
    gScp.requestTable.ResetCursor();
    std::set<int> seen;
    ScpQueueEntry entry;
    for (int slot; (slot = gScp.requestTable.Next(entry)) >= 0 && seen.insert(slot).second;) {
      if (entry.KeyLength() != 2 || entry.key[0] != BLOCK_COMMAND || entry.key[1] != 6) continue;
      gScp.requestTable.MarkSent(slot);
      if (mode_ == 3) {
        if (SendLocal(entry.frame, true)) ++sent;
        continue;
      }
      HostEntry* host = gHosts.GetHostByIndex(entry.host);
      if (host == nullptr) continue;
      KT_Address to = host->Address();
      const int type = (mode_ == 1 || to.GetType() == ADDRESS_IPX) ? ADDRESS_IPX : ADDRESS_IP;
      if (SendOverChannel(type, to, entry.frame)) ++sent;
    }
  }
  // Gives the agents a moment to take the message before the channel goes. The local channel's
  // blocks outlive this console while the agent holds them: the message waits there for it.
  if (sent > 0 && mode_ != 3) std::this_thread::sleep_for(std::chrono::milliseconds(kUnregisterSettleMs));
}

int CCommunication::DropLocalMessages() {
  Received dropped;
  int n = 0;
  while (n < 16 && ipc_.MessageWaiting()) {
    if (ipc_.Receive(&dropped.from, dropped.bytes) < 0) break;
    ++n;
  }
  return n;
}

bool CCommunication::SendLocal(const std::vector<uint8_t>& frame, bool leaving) {
  // The agent takes one message a turn. A leaving worker no longer reads, and the agent may be
  // waiting to hand it a reply: what comes then is dropped, so that the agent goes on and takes
  // the message in its block, then this one.
  // A channel that is not open yet: nothing can be sent, and the request waits.
  if (!ipc_.Ready()) return false;
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kIpcSendWaitMs);
  for (;;) {
    if (leaving) {
      DropLocalMessages();
    } else if (StopAsked()) {
      return false;
    }
    if (ipc_.OutgoingFree(kLocalSliceMs)) {
      const bool sent = ipc_.Send(nullptr, frame) == 1;
      if (leaving) DropLocalMessages();
      return sent;
    }
    if (std::chrono::steady_clock::now() >= until) {
      Diag() << "ERROR(CCommunication::SendLocal): the agent did not take its last message\n";
      return false;
    }
  }
}

void CCommunication::ListBuiltInHosts() {
  for (int position = 0; position < 6; ++position) {
    KT_Address address;
    address.SetType(ADDRESS_IP);
    address.SetHostName(kBuiltInHostNames[position]);
    address.SetIpAddress(static_cast<uint32_t>(position));
    {
      KT_HostControl guard(1);
      gHosts.AddHost(address);
    }
    Post(kNoticeHostChanged, position, kBuiltInHostKey, kNoticeImageChanged, 0);
  }
}
