// Helpers of the console worker tests: a recording notice target that runs the reply handler as
// the console's view does, a scripted UDP peer on a loopback address, and a fixture that points
// gHosts at such peers.
#pragma once

#include <arpa/inet.h>
#include <poll.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <functional>
#include <initializer_list>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "console/comm/comm_notice.h"
#include "console/comm/communication.h"
#include "console/comm/scp_handler.h"
#include "core/network/udp.h"
#include "core/scp/scp_frame.h"
#include "dialogs/frame/host_control.h"
#include "dialogs/frame/request_path.h"
#include "dialogs/frame/trem_globals.h"
#include "tests/dialogs/harness/trem_fixture.h"

namespace console_test {

// The console's view in small: records every notice and hands replies to the handler.
class RecordingTarget : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() != kCommNoticeEventType) return QObject::event(e);
    const CommNotice& n = static_cast<CommNoticeEvent*>(e)->notice();
    notices.push_back(n);
    if (handler != nullptr && n.message == kNoticeReplyApplied) handler->ProcessNotice(n);
    return true;
  }
  // Notices of one kind with one key.
  int Count(int message, uint32_t key) const {
    int n = 0;
    for (const CommNotice& c : notices) n += (c.message == message && c.key == key) ? 1 : 0;
    return n;
  }
  std::vector<CommNotice> notices;
  CScpHandler* handler = nullptr;
};

// Runs the user-interface thread's events until the condition holds (bounded).
inline bool PumpUntil(const std::function<bool()>& done, int boundMs = 5000) {
  QElapsedTimer timer;
  timer.start();
  for (;;) {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (done()) return true;
    if (timer.elapsed() >= boundMs) return false;
    QThread::msleep(2);
  }
}
inline void PumpEvents() {
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
}

// An agent stand-in on a loopback address: reads the worker's frames and answers them as told.
class ScriptedPeer {
 public:
  // Binds ip:port (port 0: one the system chooses).
  bool Open(const char* ip, int port = 0) {
    udp_.Initialize();
    return udp_.SetBindAddress(ip) == 1 && udp_.OpenChannel(port) == 0;
  }
  uint16_t Port() const { return udp_.LocalAddress().GetPort(); }
  uint32_t Ip() const { return udp_.LocalAddress().GetIpAddress(); }

  // The next datagram (bounded wait): its bytes and sender. False when none came.
  bool Receive(std::vector<uint8_t>& bytes, KT_Address& from, int waitMs = 2000) {
    pollfd p{udp_.GetSocket(), POLLIN, 0};
    if (::poll(&p, 1, waitMs) <= 0) return false;
    return udp_.Receive(&from, bytes) > 0;
  }
  // The next request decoded; the sender is kept for answers.
  bool NextRequest(KT_ScpMessage& request, int waitMs = 2000) {
    std::vector<uint8_t> bytes;
    if (!Receive(bytes, console_, waitMs)) return false;
    last_frame_ = bytes;
    return DecodeScpFrame(bytes.data(), bytes.size(), request) >= 0;
  }
  // Requests until none comes for waitMs.
  std::vector<KT_ScpMessage> Drain(int waitMs = 200) {
    std::vector<KT_ScpMessage> out;
    KT_ScpMessage m;
    while (NextRequest(m, waitMs)) out.push_back(m);
    return out;
  }
  const std::vector<uint8_t>& LastFrame() const { return last_frame_; }
  // Sends raw bytes to the console that last wrote (or to the worker's channel).
  bool SendRaw(const std::vector<uint8_t>& bytes) { return udp_.Send(&console_, bytes) == 1; }
  bool SendMessage(const KT_ScpMessage& m) {
    std::vector<uint8_t> frame;
    return BuildScpFrame(m, frame) == 1 && SendRaw(frame);
  }
  bool SendStatus(std::vector<uint8_t> key, uint8_t code) {
    return SendMessage(KT_ScpMessage(SCP_STATUS, std::move(key), {code}));
  }
  // Aims at the worker's channel without a request first.
  void AimAt(uint16_t port) {
    console_ = KT_Address(ADDRESS_IP);
    console_.SetIpAddress(htonl(INADDR_LOOPBACK));
    console_.SetPort(port);
  }

 private:
  KT_UDP udp_;
  KT_Address console_;
  std::vector<uint8_t> last_frame_;
};

// Requests waiting to be sent or answered, as (key, host), in slot order.
inline std::vector<std::pair<std::vector<uint8_t>, int>> Queued() {
  std::vector<std::pair<std::vector<uint8_t>, int>> out;
  ScpQueueLock lock;
  std::set<int> seen;
  ScpQueueEntry e;
  gScp.requestTable.ResetCursor();
  for (int slot; (slot = gScp.requestTable.Next(e)) >= 0 && seen.insert(slot).second;)
    out.push_back({e.key, e.host});
  gScp.requestTable.ResetCursor();
  return out;
}

// gHosts with the given peers as hosts 1, 2, ...
inline void PointHostsAt(const std::vector<ScriptedPeer*>& peers) {
  KT_HostControl writer;
  gHosts.ResetHosts();
  for (ScriptedPeer* p : peers) {
    KT_Address a(ADDRESS_IP);
    a.SetIpAddress(p->Ip());
    a.SetPort(p->Port());
    gHosts.AddHost(a);
  }
}

// Marks the hosts as heard from now.
inline void TouchHosts(std::initializer_list<int> hostIndexes) {
  KT_HostControl reader(0);
  for (int index : hostIndexes) gHosts.GetHostByIndex(index)->TouchCommTime();
}

inline int64_t ContactTime(int hostIndex) {
  KT_HostControl reader(0);
  HostEntry* h = gHosts.GetHostByIndex(hostIndex);
  return h != nullptr ? h->GetCommTime() : -1;
}

// The worker tests' fixture: a relay to a recording target that runs the handler, peers on
// 127.0.0.1 (host 1) and 127.0.0.2 (host 2), and a worker in mode 0 with short receive waits.
// Most tests drive the worker's steps from the test thread (InitCommunication, Step, ...), so
// what one step does is seen exactly; the thread tests start it.
class WorkerTest : public trem_harness::TremTest {
 protected:
  void SetUp() override {
    TremTest::SetUp();
    ASSERT_TRUE(peer1.Open("127.0.0.1"));
    ASSERT_TRUE(peer2.Open("127.0.0.2"));
    PointHostsAt({&peer1, &peer2});
    target.handler = &handler;
    relay.SetTarget(&target);
    {
      auto lock = gScp.Lock();
      gScp.upsStatus.ClearAlarm(ALARM_LOST_DAEMON_COMM);
    }
  }
  void TearDown() override {
    if (worker) {
      worker->Stop(10000);
      if (!worker->isRunning() && initialised_here_) worker->ExitInstance();
      worker.reset();
    }
    // The console's channel is process-wide: what a test's agent sent late must not reach the
    // next test's worker.
    gDiscover.Close();
    gnCommMode = 3;
    TremTest::TearDown();
  }
  // A worker of the mode, initialised on the test thread (no thread started).
  CCommunication& Worker(int mode) {
    gnCommMode = mode;
    worker = std::make_unique<CCommunication>(&relay);
    worker->SetReceiveWaits(50, 50);
    initialised_here_ = true;
    worker->InitCommunication();
    return *worker;
  }
  // Sends what the table holds until the peers have it (at most `steps` steps).
  void Steps(int steps) {
    for (int i = 0; i < steps; ++i) worker->Step();
    PumpEvents();
  }

  RecordingTarget target;
  CScpHandler handler;
  CommNoticeRelay relay;
  ScriptedPeer peer1, peer2;
  std::unique_ptr<CCommunication> worker;
  bool initialised_here_ = false;
};

}  // namespace console_test
