#include "agent/service/service_shell.h"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "agent/actions/action.h"
#include "agent/engine/agent.h"
#include "agent/service/agent_threads.h"
#include "agent/actions/nt_services.h"
#include "agent/actions/trap_handoff.h"
#include "core/base/ktdiag.h"
#include "core/scp/scp.h"
#include "core/adapters/snmp.h"
#include "core/network/udp.h"
#include "platform/service_manager.h"
#include "platform/smtp_session.h"
#include "platform/service_settings.h"
#include "platform/system_log.h"

namespace {

// The process-wide state of the shell.
struct Shell {
  KT_SCP* scp = nullptr;
  KT_NTServices* services = nullptr;
  KT_Agent* agent = nullptr;
  bool consoleMode = false;
  std::thread mainThread;
  std::mutex mainMutex;
  std::condition_variable mainCv;
  bool mainEnded = false;
  std::thread signalThread;
  std::atomic<bool> signalThreadQuit{false};
};

Shell g_shell;

// A stop that could not be posted yet (system_queue was full); the main thread posts it again
// before every pass until it is in.
std::atomic<bool> g_terminate_pending{false};

// The stop control: the terminate command into system_queue.
void PostTerminate() {
  if (g_shell.scp->system_queue.Post(BLOCK_COMMAND, 0, 1, COMMAND_TERMINATE) < 0) g_terminate_pending.store(true);
}

// The signals the watcher takes: the stop signals, and SIGUSR2 that wakes it to quit.
sigset_t WatchedSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGUSR2);
  return set;
}

void SignalWatcher(bool foreground) {
  const sigset_t set = WatchedSignals();
  while (!g_shell.signalThreadQuit.load()) {
    int sig = 0;
    if (sigwait(&set, &sig) != 0) continue;
    if (g_shell.signalThreadQuit.load()) break;
    if (sig == SIGTERM || (sig == SIGINT && foreground)) {
      Diag() << "Stop requested by signal " << sig << kendl;
      PostTerminate();
    }
  }
}

// Blocks the stop signals in every thread started from here on, and starts their watcher.
void StartSignalWatcher(bool foreground) {
  const sigset_t set = WatchedSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);
  g_shell.signalThread = std::thread(SignalWatcher, foreground);
}

void StopSignalWatcher() {
  if (!g_shell.signalThread.joinable()) return;
  g_shell.signalThreadQuit.store(true);
  pthread_kill(g_shell.signalThread.native_handle(), SIGUSR2);
  g_shell.signalThread.join();
}

int MainThread() {
  KT_Agent& agent = *g_shell.agent;
  KT_NTServices& services = *g_shell.services;
  agent.InitializeAgent();
  while (services.IsRunning()) {
    if (g_terminate_pending.exchange(false)) PostTerminate();
    agent.MonitorLoop();
    if (!services.IsRunning()) break;
    // The pause ends early when the agent stops (nothing else signals the exit event).
    std::unique_lock<std::mutex> lock(g_shell.mainMutex);
    g_shell.mainCv.wait_for(lock, std::chrono::milliseconds(kMonitorIntervalMs),
                            [&] { return !services.IsRunning() || services.IsExitSignalled(); });
    lock.unlock();
    Diag() << "main_thread:  while looped...\n";
  }
  Diag() << "main_thread:  The END\n";
  // The agent has stopped: a service whose stop did not signal the exit event (a stop for a
  // system shutdown that did not go through) must still end.
  if (!g_shell.consoleMode) services.SignalExit();
  return 0;
}

// Starts the main thread; with wait, waits for it to end. 0, or the start's error code.
int StartMainThread(bool wait) {
  try {
    g_shell.mainThread = std::thread([] {
      MainThread();
      std::lock_guard<std::mutex> lock(g_shell.mainMutex);
      g_shell.mainEnded = true;
      g_shell.mainCv.notify_all();
    });
  } catch (const std::system_error& e) {
    return e.code().value() ? e.code().value() : EAGAIN;
  }
  if (wait) g_shell.mainThread.join();
  return 0;
}

// Waits up to ms for the main thread to end and joins it; false when it did not end.
bool JoinMainThread(int ms) {
  if (!g_shell.mainThread.joinable()) return true;
  std::unique_lock<std::mutex> lock(g_shell.mainMutex);
  g_shell.mainCv.notify_all();
  const bool ended = g_shell.mainCv.wait_for(lock, std::chrono::milliseconds(ms), [] { return g_shell.mainEnded; });
  lock.unlock();
  if (ended) {
    g_shell.mainThread.join();
  } else {
    g_shell.mainThread.detach();
  }
  return ended;
}

int AgentServiceMain() {
  KT_NTServices& services = *g_shell.services;
  DebugPrint("In service start %d\n", 1);
  if (g_shell.agent->adapterName) DebugPrint("Cradlenet %s\n", g_shell.agent->adapterName->c_str());
  StartSignalWatcher(false);
  services.ReportServiceStatus(SERVICE_STATE_START_PENDING, 0, 1, 1000);
  services.ReportServiceStatus(SERVICE_STATE_START_PENDING, 0, 2, 3000);
  int exitCode = StartMainThread(false);
  if (exitCode == 0 && services.ReportServiceStatus(SERVICE_STATE_RUNNING, 0, 0, 0) == 1) {
    services.SetRunningAsService(true);
    services.WaitForExit();
  }
  // The agent has stopped (or could not start): the main thread ends within a pass.
  if (!JoinMainThread(kMonitorIntervalMs * 5)) exitCode = exitCode ? exitCode : 1;
  services.ReportServiceStatus(SERVICE_STATE_STOPPED, exitCode, 0, 0);
  StopSignalWatcher();
  return exitCode;
}

int RunServiceDispatcher() {
  if (!platform::StartedByServiceManager()) {
    // Started outside the service manager without -b: the service controller's error 1063.
    std::fprintf(stderr,
                 "VigilNT: not started by the service manager (error %d: the service process could not "
                 "connect to the service controller).\n"
                 "Start it with \"systemctl start VigilNT\", or run \"VigilNT -b\" in the foreground.\n",
                 kFailedServiceControllerConnect);
    return kNotAServiceExitStatus;
  }
  return AgentServiceMain();
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

int VigilNtMain(int argc, char** argv) {
  KT_SCP& scp = GetProcessScp();
  KT_NTServices services(scp);
  KT_Agent agent(scp, services);
  KT_Action actions(scp, services);
  agent.SetActionEngine(&actions);
  g_shell.scp = &scp;
  g_shell.services = &services;
  g_shell.agent = &agent;
  SetAgentServices(&services);

  agent.ParseOptions(argc, argv);
  const bool foreground = agent.foreground != 0;

  platform::ServiceSettings settings;
  std::string error;
  if (!platform::LoadServiceSettings(settings, error)) {
    const std::string text = "VigilNT: settings: " + error;
    std::fprintf(stderr, "%s\n", text.c_str());
    if (!foreground) KT_NTServices::WriteEventLog(platform::LogEntryType::kError, {text});
    SetAgentServices(nullptr);
    return 1;
  }
  platform::SetServiceSettings(settings);
  // The services were built before the file was read: their effects take its programs now.
  services.Effects().UseServiceSettings();
  const std::string dataDirectory = platform::ResolveDataDirectory(settings);
  if (!IsDirectory(dataDirectory) || ::access(dataDirectory.c_str(), R_OK | W_OK | X_OK) != 0) {
    const std::string text = "VigilNT: the data directory " + dataDirectory + " cannot be used";
    std::fprintf(stderr, "%s\n", text.c_str());
    if (!foreground) KT_NTServices::WriteEventLog(platform::LogEntryType::kError, {text});
    SetAgentServices(nullptr);
    return 1;
  }
  agent.SetDataDirectory(dataDirectory);
  // The network server and every other UDP channel of the agent bind the configured address.
  if (!settings.bindAddress.empty()) KT_UDP::SetDefaultBindAddress(settings.bindAddress.c_str());
  agent.SetSnmpServiceName(settings.snmpService);
  InstallAgentThreads(agent, services);
  // The mail library is not started here: loading TLS costs the agent more memory than all
  // else together, and most agents never send a mail. The mail path starts it on first use
  // (platform::MailInitialize, once per process; libcurl's start is thread-safe).
  // The trap hand-off to the system SNMP service: started before anything else starts the
  // SNMP library, and before the threads that send traps. Without a system SNMP service in the
  // settings there is no master to hand traps to: they go out directly, and the SNMP library
  // (with its agent part and cryptography, most of the daemon's memory) starts only when SNMP
  // is used.
  std::unique_ptr<KT_TrapHandoff> trapHandoff;
  if (!settings.snmpService.empty()) {
    trapHandoff = KT_TrapHandoff::Start(scp, settings.agentxSocket);
    KT_SNMP::SetTrapHandoff(
        [handoff = trapHandoff.get()](void* session, netsnmp_pdu* trap) { return handoff->PostTrap(session, trap); });
  }

  int result;
  if (foreground) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    g_shell.consoleMode = true;
    services.SetConsoleMode(true);
    KtDiag::EnableOutput(true);
    StartSignalWatcher(true);
    result = StartMainThread(true);
    StopSignalWatcher();
  } else {
    if (!settings.traceFile.empty()) {
      KtDiag::SetOutputFile(settings.traceFile);
      KtDiag::EnableOutput(true);
    } else {
      KtDiag::EnableOutput(false);
    }
    result = RunServiceDispatcher();
  }

  const bool threadsEnded = services.JoinThreads(0);
  KT_SNMP::SetTrapHandoff(nullptr);
  trapHandoff.reset();
  SetAgentServices(nullptr);
  if (!threadsEnded || g_shell.mainThread.joinable()) {
    // A thread that did not stop still uses the agent's objects: end the process without
    // running their destructors.
    std::fflush(nullptr);
    _exit(result);
  }
  return result;
}
