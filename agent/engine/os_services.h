// KT_OSServices: everything the agent asks of the operating system, as a table of virtual
// operations with empty defaults (KT_NTServices implements them for the daemon; the desktop
// agent keeps the defaults and acts in its own shell), plus the starters of the agent's worker
// threads.
//
// Worker threads. The thread procedures are installed per kind (SetThreadProcedure) by the
// program that assembles the agent (agent/service/agent_threads.h); a kind without a procedure does
// not start. A starter sets the kind's state word to 1 and starts the thread; when the start
// fails it says so in a message box ("CreateThread(SerialThread) failed with %d") and puts
// the word back to 255, so that no stop ever waits for a thread that never ran. A kind whose
// previous thread is still running is not started twice. Every thread is joined: by the next
// start of its kind once it has ended, by JoinThreads (bounded), or at destruction.
//
// Message boxes. The agent keeps one of its message boxes open at a time, process-wide: a box
// is shown on a thread of its own through a message-box layer (agent/engine/message_boxes.h), and
// WarnAdmin closes the open one (waiting up to 1000 ms for its thread) before the next starts.
// Every services class shares this: the daemon's ShowMessageBox and the desktop agent's own
// box thread both go through StartMessageBoxThread and WarnAdmin.
//
// Failures are recorded as class 38 with the function numbers of the operations.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "agent/engine/daemon.h"
#include "agent/engine/message_boxes.h"
#include "agent/engine/pager_dispatch.h"
#include "platform/named_object.h"

class KT_PagerConfig;
class KT_ActionEntry;

// Message box styles the agent uses.
inline constexpr uint32_t kMessageBoxIconError = 0x10;
inline constexpr uint32_t kMessageBoxAgentStyle = 0x50030;  // exclamation, foreground, topmost
inline constexpr const char* kAgentMessageCaption = "Tremona Agent Message";
// Longest caption kept for the current message box.
inline constexpr size_t kMaxCaption = 69;
// Name of the single-instance mapping and its size.
inline constexpr const char* kAgentRunningMappingName = "Tremona Agent Is Running";
inline constexpr size_t kAgentRunningMappingSize = 32;
// Longest wait for the worker threads to end when the agent stops.
inline constexpr int kThreadStopWaitMs = 30000;

using AgentThreadProc = std::function<int()>;

// The thread kind's name as the start messages use it ("SerialThread", ...), and the word of
// its trace line ("serial", "network", "local", "SNMP", "NetBCM").
const char* AgentThreadName(AgentThreadId thread);
const char* AgentThreadShortName(AgentThreadId thread);

class KT_OSServices;
// The process-wide services object of a running agent (null when none), for the drivers that
// need its message boxes.
KT_OSServices* GetAgentServices();
void SetAgentServices(KT_OSServices* services);

class KT_OSServices : public KT_Daemon {
 public:
  explicit KT_OSServices(KT_SCP& scp);
  ~KT_OSServices() override;

  // Slot 0: whether another agent runs on this machine: 1 it does, -1 that cannot be told
  // (SingleInstanceProblem says why), 0 not. Default: 0.
  int IsAlreadyRunning() override { return 0; }
  // What the last single-instance test found at the guard's name (empty when it was taken).
  std::string SingleInstanceProblem() const;
  // Slot 1: stops the agent. Default: ExitDaemon.
  virtual int StopAgent(int quick) { return ExitDaemon(quick); }
  // Slot 2: unused.
  virtual void Reserved2(int, int, int) {}
  // Slot 3: a message box with a copy of the caption (cut to 69 characters). A null text is
  // refused (38, 3, 1), -1; else the result of ShowMessageBox.
  virtual int PopupMessage(const char* text, const char* caption, uint32_t flags);
  // Slots 4 to 13: the actions' effects; the defaults do nothing and answer 0, except the
  // two pager slots, which every build shares (agent/engine/pager_dispatch.h):
  virtual int SendMail(const char* text, const char* subject, const char* recipient);
  // Slot 5: one pager thread for one recipient; 1 started, -1 not.
  virtual int StartPagerThread(const KT_PagerConfig& recipient, const KT_ActionEntry& action);
  // Slot 6: pages each recipient the action's alias names; the number of pager threads.
  virtual int SendPage(const KT_ActionEntry& action);
  virtual int RunAndWait(const char* commandLine);
  virtual int RunProgram(const char* commandLine);
  virtual int ShutdownSystem();
  // Restarts the computer (a console's reboot command), as ShutdownSystem shuts it down.
  // Default: nothing, 0.
  virtual int RebootSystem();
  virtual int RunSaver();
  virtual int PlaySound(const char* soundFile);
  // Starts the sound and does not wait for it (a shutdown is due). Default: PlaySound.
  virtual int StartSound(const char* soundFile) { return PlaySound(soundFile); }
  virtual void Reserved12() {}
  virtual int LogEvent(int kind, int eventNumber);
  // Slot 14: shows a message box. Default: nothing, 0.
  virtual int ShowMessageBox(const char* text, const char* caption, uint32_t flags);

  // The text to the users' sessions on this machine (the user-warning action). Default:
  // nothing, 0.
  virtual int Broadcast(const char* text);

  // The operating system's type and version into the UPS information block. Default: 0.
  virtual int SetOsInfo() { return 0; }

  // The caption of the last message box.
  std::string LastCaption() const;

  // Closes the open agent message box (through the layer) and waits up to 1000 ms for its
  // thread; on time-out traces "Timeout waiting for msg_box_th in WarnAdmin.\n". The box
  // thread is forgotten either way.
  void WarnAdmin();
  // Replaces the message-box layer (tests, the desktop agent); null restores the default one
  // (SetDefaultMessageBoxes). Without any layer no box thread starts.
  void SetMessageBoxes(std::shared_ptr<KT_MessageBoxes> boxes);
  // Waits up to timeoutMs for the current box thread to end (tests); true when none runs.
  bool WaitMessageBox(int timeoutMs);

  // The page action's dispatcher (its page link, pauses and status can be replaced in tests).
  KT_PagerDispatch& Pager() { return *pager_; }

  // Worker threads (see the head of this file).
  void SetThreadProcedure(AgentThreadId thread, AgentThreadProc proc);
  bool HasThreadProcedure(AgentThreadId thread) const;
  int StartAgentThread(AgentThreadId thread);
  int StartSerialThread() { return StartAgentThread(THREAD_SERIAL); }
  int StartNetworkThread() { return StartAgentThread(THREAD_NETWORK); }
  int StartLocalThread() { return StartAgentThread(THREAD_LOCAL); }
  int StartSNMPThread() { return StartAgentThread(THREAD_SNMP); }
  int StartNetBCMThread() { return StartAgentThread(THREAD_NETBCM); }
  // Waits up to timeoutMs for every started thread to write 255, then joins the ended ones.
  // True when all ended; threads still running are named in the trace and the system log and
  // left detached.
  bool JoinThreads(int timeoutMs);

 protected:
  // Shows a box on a thread of its own through the layer in use, after WarnAdmin has closed
  // the open one; the thread is kept as the current box thread. 1, or -1 for a null text, no
  // layer, or a thread that cannot start.
  int StartMessageBoxThread(const char* text, const char* caption, uint32_t flags);
  // The layer used while no other was set with SetMessageBoxes.
  void SetDefaultMessageBoxes(std::shared_ptr<KT_MessageBoxes> boxes);

  // The single-instance test: takes the machine's agent guard "Tremona Agent Is Running" (the
  // 32-byte mapping of that name; platform::InstanceGuard) and keeps it for the life of the
  // process. 0 taken; 1 another agent holds it, of this release or another; -1 it cannot be
  // taken (something that no agent holds is at the name and cannot be removed): the agent does
  // not start then either. SingleInstanceProblem says what was found. What no agent held there
  // (another user's file, or a lock that another program holds) and was removed is said on
  // standard error.
  int TestSingleInstance();

 private:
  struct BoxThread;
  void WarnAdminLocked();

  mutable std::mutex mutex_;
  std::string caption_;
  AgentThreadProc procs_[kAgentThreadCount];
  std::thread threads_[kAgentThreadCount];
  std::unique_ptr<platform::InstanceGuard> instance_guard_;
  std::string instance_problem_;
  std::unique_ptr<KT_PagerDispatch> pager_;
  // Message boxes: the current box thread and the layers, under box_mutex_.
  std::mutex box_mutex_;
  std::shared_ptr<KT_MessageBoxes> default_boxes_;
  std::shared_ptr<KT_MessageBoxes> boxes_;  // set by SetMessageBoxes; null: the default
  std::shared_ptr<BoxThread> box_thread_;
};
