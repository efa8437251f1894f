#include "agent/engine/os_services.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <system_error>
#include <thread>

#include "core/base/ktdiag.h"
#include "platform/system_log.h"

namespace {

constexpr int32_t kFnPopupMessage = 3;
// How long WarnAdmin waits for the old box's thread.
constexpr int kBoxCloseWaitMs = 1000;

std::atomic<KT_OSServices*> g_services{nullptr};

}  // namespace

KT_OSServices* GetAgentServices() { return g_services.load(); }
void SetAgentServices(KT_OSServices* services) { g_services.store(services); }

const char* AgentThreadName(AgentThreadId thread) {
  switch (thread) {
    case THREAD_SERIAL:
      return "SerialThread";
    case THREAD_NETWORK:
      return "NetworkThread";
    case THREAD_LOCAL:
      return "LocalThread";
    case THREAD_SNMP:
      return "SNMPThread";
    case THREAD_NETBCM:
      return "NetBCMThread";
  }
  return "Thread";
}

const char* AgentThreadShortName(AgentThreadId thread) {
  switch (thread) {
    case THREAD_SERIAL:
      return "serial";
    case THREAD_NETWORK:
      return "network";
    case THREAD_LOCAL:
      return "local";
    case THREAD_SNMP:
      return "SNMP";
    case THREAD_NETBCM:
      return "NetBCM";
  }
  return "?";
}

struct KT_OSServices::BoxThread {
  std::thread thread;
  std::string caption;
  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;
};

KT_OSServices::KT_OSServices(KT_SCP& scp) : KT_Daemon(scp), pager_(std::make_unique<KT_PagerDispatch>(scp)) {}

KT_OSServices::~KT_OSServices() {
  {
    std::lock_guard<std::mutex> lock(box_mutex_);
    WarnAdminLocked();
  }
  // Every thread was asked to stop by StopAgent; a thread that is still running is left to
  // end with the process rather than waited for without limit.
  for (int i = 0; i < kAgentThreadCount; ++i) RequestStop(static_cast<AgentThreadId>(i));
  JoinThreads(kThreadStopWaitMs);
}

int KT_OSServices::PopupMessage(const char* text, const char* caption, uint32_t flags) {
  if (text == nullptr) {
    LogError(ERR_AGENT_SERVICES, kFnPopupMessage, 1, 0);
    return -1;
  }
  std::string copy = caption ? caption : "";
  if (copy.size() > kMaxCaption) copy.resize(kMaxCaption);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    caption_ = copy;
  }
  return ShowMessageBox(text, copy.c_str(), flags);
}

std::string KT_OSServices::LastCaption() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return caption_;
}

void KT_OSServices::SetDefaultMessageBoxes(std::shared_ptr<KT_MessageBoxes> boxes) {
  std::lock_guard<std::mutex> lock(box_mutex_);
  default_boxes_ = std::move(boxes);
}

void KT_OSServices::SetMessageBoxes(std::shared_ptr<KT_MessageBoxes> boxes) {
  std::lock_guard<std::mutex> lock(box_mutex_);
  boxes_ = std::move(boxes);
}

void KT_OSServices::WarnAdmin() {
  std::lock_guard<std::mutex> lock(box_mutex_);
  WarnAdminLocked();
}

void KT_OSServices::WarnAdminLocked() {
  std::shared_ptr<BoxThread> box = std::move(box_thread_);
  if (!box) return;
  // The box this thread shows, by its own caption (a later caption may differ).
  const std::shared_ptr<KT_MessageBoxes>& layer = boxes_ ? boxes_ : default_boxes_;
  if (layer) layer->Close(box->caption);
  bool done;
  {
    std::unique_lock<std::mutex> lock(box->mutex);
    done = box->cv.wait_for(lock, std::chrono::milliseconds(kBoxCloseWaitMs), [&] { return box->done; });
  }
  if (done) {
    box->thread.join();
  } else {
    Diag() << "Timeout waiting for msg_box_th in WarnAdmin.\n";
    box->thread.detach();
  }
}

bool KT_OSServices::WaitMessageBox(int timeoutMs) {
  std::shared_ptr<BoxThread> box;
  {
    std::lock_guard<std::mutex> lock(box_mutex_);
    box = box_thread_;
  }
  if (!box) return true;
  std::unique_lock<std::mutex> lock(box->mutex);
  return box->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return box->done; });
}

int KT_OSServices::StartMessageBoxThread(const char* text, const char* caption, uint32_t flags) {
  if (text == nullptr) return -1;
  std::lock_guard<std::mutex> lock(box_mutex_);
  WarnAdminLocked();
  std::shared_ptr<KT_MessageBoxes> layer = boxes_ ? boxes_ : default_boxes_;
  if (!layer) return -1;
  auto box = std::make_shared<BoxThread>();
  box->caption = caption ? caption : "";
  layer->Starting(box->caption);
  try {
    box->thread = std::thread([box, layer, message = std::string(text), flags] {
      layer->Show(message, box->caption, flags);
      std::lock_guard<std::mutex> l(box->mutex);
      box->done = true;
      box->cv.notify_all();
    });
  } catch (const std::system_error&) {
    return -1;
  }
  box_thread_ = std::move(box);
  return 1;
}

int KT_OSServices::SendMail(const char*, const char*, const char*) { return 0; }
int KT_OSServices::StartPagerThread(const KT_PagerConfig& recipient, const KT_ActionEntry& action) {
  return pager_->StartPagerThread(recipient, action);
}
int KT_OSServices::SendPage(const KT_ActionEntry& action) { return pager_->SendPage(action); }
int KT_OSServices::RunAndWait(const char*) { return 0; }
int KT_OSServices::RunProgram(const char*) { return 0; }
int KT_OSServices::ShutdownSystem() { return 0; }
int KT_OSServices::RebootSystem() { return 0; }
int KT_OSServices::RunSaver() { return 0; }
int KT_OSServices::PlaySound(const char*) { return 0; }
int KT_OSServices::LogEvent(int, int) { return 0; }
int KT_OSServices::ShowMessageBox(const char*, const char*, uint32_t) { return 0; }
int KT_OSServices::Broadcast(const char*) { return 0; }

void KT_OSServices::SetThreadProcedure(AgentThreadId thread, AgentThreadProc proc) {
  std::lock_guard<std::mutex> lock(mutex_);
  procs_[thread] = std::move(proc);
}

bool KT_OSServices::HasThreadProcedure(AgentThreadId thread) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<bool>(procs_[thread]);
}

int KT_OSServices::StartAgentThread(AgentThreadId thread) {
  int error = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::thread& slot = threads_[thread];
    if (GetState(thread) != kThreadEnded) {
      // The previous thread of this kind has not ended (or was left behind by a stop that
      // timed out): never run two.
      error = EBUSY;
    } else if (slot.joinable()) {
      slot.join();
    }
    if (error == 0 && !procs_[thread]) error = ENOSYS;
    if (error == 0) {
      State(thread).store(kThreadRunning);
      AgentThreadProc proc = procs_[thread];
      std::atomic<int32_t>& state = State(thread);
      try {
        slot = std::thread([proc, &state] {
          proc();
          // The procedure writes 255 as its last action; make sure of it.
          state.store(kThreadEnded);
        });
      } catch (const std::system_error& e) {
        error = e.code().value() ? e.code().value() : EAGAIN;
        state.store(kThreadEnded);
      }
    }
  }
  if (error == ENOSYS) {
    // Nothing to start in this build: not a failure worth a message box.
    Diag() << "No " << AgentThreadShortName(thread) << " thread in this agent\n";
  } else if (error != 0) {
    char text[96];
    std::snprintf(text, sizeof(text), "CreateThread(%s) failed with %d", AgentThreadName(thread), error);
    PopupMessage(text, "Error", kMessageBoxIconError);
  }
  Diag() << "Started " << AgentThreadShortName(thread) << " thread\n";
  return error == 0 ? 1 : -1;
}

bool KT_OSServices::JoinThreads(int timeoutMs) {
  // Only threads that were started are waited for: a word that no thread will ever write
  // (a thread that never ran) must not hold the stop.
  bool started[kAgentThreadCount];
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int i = 0; i < kAgentThreadCount; ++i) started[i] = threads_[i].joinable();
  }
  auto running = [&](AgentThreadId id) { return started[id] && GetState(id) != kThreadEnded; };
  auto allEnded = [&] {
    for (int i = 0; i < kAgentThreadCount; ++i) {
      if (running(static_cast<AgentThreadId>(i))) return false;
    }
    return true;
  };
  // Real time, not the process clock: this bound must hold whatever clock a test installed.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  auto nextTrace = std::chrono::steady_clock::now();
  while (!allEnded() && std::chrono::steady_clock::now() < deadline) {
    if (std::chrono::steady_clock::now() >= nextTrace) {
      static const struct {
        AgentThreadId id;
        const char* text;
      } kWaits[] = {{THREAD_SNMP, "waiting on snmp thread\n"},
                    {THREAD_LOCAL, "Waiting on local thread\n"},
                    {THREAD_SERIAL, "Waiting on serial thread\n"},
                    {THREAD_NETWORK, "waiting on network thread\n"},
                    {THREAD_NETBCM, "waiting on NetBCM thread\n"}};
      for (const auto& w : kWaits) {
        if (running(w.id)) {
          Diag() << w.text;
          break;
        }
      }
      nextTrace += std::chrono::seconds(1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  bool all = true;
  std::lock_guard<std::mutex> lock(mutex_);
  for (int i = 0; i < kAgentThreadCount; ++i) {
    const auto id = static_cast<AgentThreadId>(i);
    std::thread& slot = threads_[i];
    if (!slot.joinable()) continue;
    if (GetState(id) == kThreadEnded) {
      slot.join();
      continue;
    }
    all = false;
    const std::string text = std::string("The ") + AgentThreadShortName(id) + " thread did not stop in time";
    Diag() << text << kendl;
    platform::WriteSystemLog("VigilNT", platform::LogEntryType::kWarning, {text});
    slot.detach();
  }
  return all;
}

int KT_OSServices::TestSingleInstance() {
  auto guard = std::make_unique<platform::InstanceGuard>();
  const platform::InstanceGuard::Result result = guard->Take(kAgentRunningMappingName, kAgentRunningMappingSize);
  // What no agent held at the name went (another user's FIFO, or a file another user locks):
  // said once, as the agent starts where it would otherwise have refused to.
  if (!guard->Removed().empty()) {
    std::fprintf(stderr, "%s: %s, to take the agents' guard\n", program_invocation_short_name,
                 guard->Removed().c_str());
  }
  std::lock_guard<std::mutex> lock(mutex_);
  instance_problem_ = guard->Problem();
  switch (result) {
    case platform::InstanceGuard::Result::kTaken:
      instance_guard_ = std::move(guard);
      return 0;
    case platform::InstanceGuard::Result::kHeld:
      return 1;
    case platform::InstanceGuard::Result::kFailed:
      break;
  }
  // Not knowing whether another agent runs is no leave to run beside it.
  return -1;
}

std::string KT_OSServices::SingleInstanceProblem() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return instance_problem_;
}
