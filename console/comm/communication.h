// CCommunication: the consoles' communication worker, a thread of its own.
//
// It owns the console end of the transport chosen by gnCommMode, sends what the dialogs queued
// in gScp's table of outstanding requests (one request per step), receives the agents' replies
// and status pushes and applies them to gScp or to the sending host's image in gHosts, keeps
// each registration alive with a heartbeat, notices lost agents, and tells the user-interface
// thread about all of it by posting notices to a CommNoticeRelay (comm_notice.h).
//
// Modes: 0 UDP on gDiscover's channel, 1 IPX (fails cleanly where the kernel has no IPX and
// leaves the worker idle), 2 SNMP to a network adapter, 3 the local shared-memory channel,
// 4 every network transport (per host by its address type), 5 the built-in host list.
//
// One step, on each turn of the thread's own event loop, 50 ms after the previous one:
// Heartbeat, Send, the mode's receive pass, CheckForTimeout. A worker whose transport did not
// open (or that met a critical error) schedules no steps: it waits in its event loop without
// using the processor until it is stopped. The local channel is the exception: one whose
// objects cannot be made yet (another program holds their names) is tried again at the steps
// (once a second) and used as soon as it opens; meanwhile requests wait unsent.
//
// The local channel (mode 3) serves the consoles of this computer one after another, so a
// console takes from it only the replies to its own requests (and the agent's status pushes):
// what waits there when the channel opens, and any later reply that answers none of the
// requests in gScp's table (a GET is answered by data or a GET's status, a SET by a SET's
// status), was meant for a console that has ended, and is dropped.
//
// Locks, in the library's order: a KT_HostControl guard over gHosts (per send, per datagram,
// per walk; never across a receive wait), the mutex "Mutex to lock SCP queue" (per send,
// heartbeat, time-out queue change), gScp's own lock (inside ExecuteCommand, and briefly to
// read a reply's status). The worker shows no box itself: boxes go through the relay.
//
//   CommNoticeRelay relay;              // on the user-interface thread
//   relay.SetTarget(view);
//   CCommunication worker(&relay);
//   worker.start();
//   ...
//   worker.Stop(5000);                  // unregisters from the agents and ends
#pragma once

#include <QThread>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "console/comm/comm_notice.h"
#include "core/network/address.h"
#include "core/network/ipc.h"
#include "core/scp/scp_message.h"

class CCommFrame;
class KT_HostControl;
class ScpQueueLock;
class KT_SNMP;
class QTimer;

// The built-in host names of mode 5, positions 0 to 5.
extern const char* const kBuiltInHostNames[6];

class CCommunication : public QThread {
  Q_OBJECT
 public:
  explicit CCommunication(CommNoticeRelay* relay, QObject* parent = nullptr);
  ~CCommunication() override;

  // Asks the worker to end (its receive passes stop between datagrams) and waits at most
  // timeoutMs for it: true when the thread has ended (or never ran).
  bool Stop(unsigned long timeoutMs);
  // Waits at most timeoutMs for InitCommunication to finish; true when it has.
  bool WaitInitialised(int timeoutMs);

  // 1 while steps run.
  int Running() const { return running_.load(); }
  // 1 after a critical error.
  int Stopped() const { return stop_.load(); }
  int Mode() const { return mode_; }
  // The communication window while the worker runs (null before and after).
  CCommFrame* CommFrame() const { return frame_.load(); }
  // Asks the communication window for a discovery of agents (the console's 1028 message).
  void RequestDiscovery();

  // How long one receive wait lasts (ms): the UDP wait (2000 by default; also IPX in mode 4)
  // and the IPX wait of mode 1 (1000). Set before start; tests shorten them.
  void SetReceiveWaits(int udpMs, int ipxMs);
  // Steps run so far.
  long StepCount() const { return steps_.load(); }
  // Answers to SETs taken so far. Each is counted before its request leaves gScp's table, so a
  // thread that finds no SET left there knows how many notices of SET answers are on their way.
  long SetAnswersTaken() const { return set_answers_.load(); }

  // Parts of a step; public so that a console's frame and the tests can name them.
  int InitCommunication();
  void Step();
  int Send();
  void Heartbeat();
  void CheckForTimeout();
  void Unregister();
  int ExitInstance();

 signals:
  // InitCommunication has finished (emitted on the worker's thread).
  void initialised();

 protected:
  void run() override;

 private:
  enum class Via { Udp, Ipx, Local, Snmp };
  struct Received {
    std::vector<uint8_t> bytes;
    KT_Address from;
  };

  bool StopAsked() const { return quit_.load() || stop_.load() != 0; }
  void ScheduleStep();
  // Waits for a datagram on the channel (bounded, ends early on a stop); true when one waits.
  bool WaitForDatagram(Via via, int ms);
  bool ReceiveOne(Via via, Received& out, bool& failed);
  void ReceivePass(Via via);
  void ReceivePassAll();
  // Takes the datagrams of one channel until none comes within the wait, a receive fails, a
  // stop is asked or a datagram ends the pass. `all`: mode 4's handling, and only while the
  // channel is open.
  void ReceiveFrom(Via via, int waitMs, bool all);
  // One datagram of modes 0, 1, 2 and 3. False when the pass is to end.
  bool HandleDatagram(Received& datagram, Via via, int requestHost);
  // One datagram of mode 4 (and the SNMP answers of mode 4, for the host asked).
  void HandleDatagramAll(Received& datagram, Via via, int requestHost = 0);
  // An answer of the block from the host could not be read: asks for the host's UPS
  // information again, from which the field widths of its answers follow.
  void AskFormatAgain(int block, int hostIndex);
  // Enters the agents of an IPX service response as hosts; false when the datagram is none.
  bool HandleServiceAnswer(const std::vector<uint8_t>& bytes);
  // Decodes an SCP answer, or on UDP an adapter answer (the sender's address then becomes an
  // SNMP adapter's). False when the datagram is neither.
  static bool DecodeDatagram(Received& datagram, bool adapterAnswers, KT_ScpMessage& message);
  // The index of the sender's host in gHosts, -1 when it is not listed (caller holds a guard).
  int SenderHost(const KT_Address& from);
  void SnmpAnswerPass(int hostIndex);
  void ListBuiltInHosts();
  // Takes and drops what waits on the local channel, without waiting (a leaving worker's
  // replies, or what an earlier console left when the channel opens); how many were dropped.
  int DropLocalMessages();
  // Places a frame on the local channel, waiting at most the channel's send wait for the
  // agent to take the last message; a stop ends the wait, except for a `leaving` worker's
  // last frames, which keep the incoming block empty meanwhile. True when placed.
  bool SendLocal(const std::vector<uint8_t>& frame, bool leaving);
  void Post(int message, int wParam, uint32_t key, int status, int hostIndex, bool answeredSet = false);
  void CriticalError(const char* text);
  // True when the function `where` holds the queue mutex; otherwise gives back the guard, stops
  // the worker with a critical error and answers false.
  bool QueueLocked(const ScpQueueLock& queue, KT_HostControl& guard, const char* where);

  CommNoticeRelay* relay_;
  int mode_ = 3;
  KT_IPC ipc_;
  std::unique_ptr<KT_SNMP> snmp_;
  std::atomic<int> running_{1};
  std::atomic<int> stop_{0};
  std::atomic<bool> quit_{false};
  std::atomic<long> steps_{0};
  std::atomic<long> set_answers_{0};
  int64_t last_heartbeat_;
  std::atomic<CCommFrame*> frame_{nullptr};
  QTimer* step_timer_ = nullptr;
  int wake_fd_ = -1;
  int udp_wait_ms_ = 2000;
  int ipx_wait_ms_ = 1000;

  std::mutex init_mutex_;
  std::condition_variable init_cv_;
  bool init_done_ = false;
};
