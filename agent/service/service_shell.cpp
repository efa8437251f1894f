#include "agent/service/service_shell.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "agent/engine/agent.h"
#include "agent/service/agent_assembly.h"
#include "agent/service/stop_signals.h"
#include "agent/actions/nt_services.h"
#include "core/base/ktdiag.h"
#include "core/scp/scp.h"
#include "platform/service_manager.h"
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
  StopSignalWatcher signals;
};

Shell g_shell;

int MainThread() {
  KT_Agent& agent = *g_shell.agent;
  KT_NTServices& services = *g_shell.services;
  agent.InitializeAgent();
  while (services.IsRunning()) {
    g_shell.signals.RetryPending();
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

// The exit status of an agent that has stopped with status `code`: a stop that could not write
// every record file is not a clean one.
int StopStatus(int code) {
  return code == 0 && g_shell.services->RecordFilesUnwrittenAtStop() ? kRecordFilesUnwrittenExitStatus : code;
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

// What "VigilNT --help" prints: the synopsis and options of the manual page VigilNT(8).
const char kUsage[] =
    "Usage: VigilNT -b [-d DEVICE] [-c ADAPTER] [-g COMMUNITY] [-s COMMUNITY] [-x MODE]\n"
    "       VigilNT [OPTIONS]       as the systemd service VigilNT.service\n"
    "The Vigil UPS monitoring and managed-shutdown agent. An option is read by its second\n"
    "character (/b is -b); an option with a value takes the next argument.\n"
    "  -b            run in the foreground of a terminal: the trace on standard error, message\n"
    "                boxes on standard output; Ctrl-C or SIGTERM stops it\n"
    "  -d DEVICE     the serial port of the UPS (/dev/ttyS0, /dev/ttyUSB0, ...)\n"
    "  -c ADAPTER    the UPS network adapter: a host, or host:port\n"
    "  -g COMMUNITY  the adapter's read community\n"
    "  -s COMMUNITY  the adapter's write community (a BCM-over-UDP adapter's access code)\n"
    "  -x MODE       forced communication mode: 0 serial, 1 serial master, 2 serial slave,\n"
    "                3 network master, 4 contact closure, 5 idle, 6 network slave,\n"
    "                7 demonstration, 8 SNMP adapter, 9 BCM-over-UDP adapter\n"
    "  --help        print this and end\n"
    "Without -b it runs only as the service (systemctl start VigilNT). Settings:\n"
    "/etc/vigil/VigilNT.conf, or the file VIGIL_AGENT_CONF names.\n";

int AgentServiceMain() {
  KT_NTServices& services = *g_shell.services;
  DebugPrint("In service start %d\n", 1);
  if (g_shell.agent->adapterName) DebugPrint("Cradlenet %s\n", g_shell.agent->adapterName->c_str());
  g_shell.signals.Start(*g_shell.scp, {SIGTERM, SIGINT}, {SIGTERM});
  services.ReportServiceStatus(SERVICE_STATE_START_PENDING, 0, 1, 1000);
  services.ReportServiceStatus(SERVICE_STATE_START_PENDING, 0, 2, 3000);
  int exitCode = StartMainThread(false);
  if (exitCode == 0 && services.ReportServiceStatus(SERVICE_STATE_RUNNING, 0, 0, 0) == 1) {
    services.SetRunningAsService(true);
    services.WaitForExit();
  }
  // The agent has stopped (or could not start): the main thread ends within a pass.
  if (!JoinMainThread(kMonitorIntervalMs * 5)) exitCode = exitCode ? exitCode : 1;
  exitCode = StopStatus(exitCode);
  services.ReportServiceStatus(SERVICE_STATE_STOPPED, exitCode, 0, 0);
  g_shell.signals.Stop();
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

}  // namespace

int VigilNtMain(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  KT_SCP& scp = GetProcessScp();
  KT_NTServices services(scp);
  KT_Agent agent(scp, services);
  g_shell.scp = &scp;
  g_shell.services = &services;
  g_shell.agent = &agent;

  agent.ParseOptions(argc, argv);
  const bool foreground = agent.foreground != 0;

  // One agent a machine, whichever of the two agent programs it is, of whichever release; a
  // guard that cannot be taken is no leave to start.
  if (const int running = services.IsAlreadyRunning(); running != 0) {
    const std::string text = running > 0 ? kAgentAlreadyRunningText : kAgentGuardUnavailableText;
    const std::string found = services.SingleInstanceProblem();
    std::fprintf(stderr, "VigilNT: %s\n", text.c_str());
    if (!found.empty()) std::fprintf(stderr, "VigilNT: %s\n", found.c_str());
    if (!foreground) KT_NTServices::WriteEventLog(platform::LogEntryType::kError, {text, found});
    return kAgentAlreadyRunningExitStatus;
  }
  SetAgentServices(&services);

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
  const std::string dataDirectory = platform::ResolveDataDirectory(settings);
  if (const std::string problem = DirectoryProblem(dataDirectory); !problem.empty()) {
    const std::string text = "VigilNT: the data directory " + dataDirectory + " cannot be used: " + problem;
    std::fprintf(stderr, "%s\n", text.c_str());
    if (!foreground) KT_NTServices::WriteEventLog(platform::LogEntryType::kError, {text});
    SetAgentServices(nullptr);
    return 1;
  }
  AgentAssembly assembly(scp, services, services.Effects(), agent, settings, dataDirectory);

  int result;
  if (foreground) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    g_shell.consoleMode = true;
    services.SetConsoleMode(true);
    KtDiag::EnableOutput(true);
    g_shell.signals.Start(scp, {SIGTERM, SIGINT}, {SIGTERM, SIGINT});
    result = StopStatus(StartMainThread(true));
    g_shell.signals.Stop();
  } else {
    if (!settings.traceFile.empty()) {
      // A trace file that cannot be opened is said once, with the reason; the trace then goes
      // to standard error (the journal, under systemd).
      if (const int error = KtDiag::SetOutputFile(settings.traceFile); error != 0) {
        const std::string text = "VigilNT: cannot open the trace file " + settings.traceFile + ": " +
                                 std::strerror(error) + "; the trace goes to standard error";
        std::fprintf(stderr, "%s\n", text.c_str());
        KT_NTServices::WriteEventLog(platform::LogEntryType::kWarning, {text});
      }
      KtDiag::EnableOutput(true);
    } else {
      KtDiag::EnableOutput(false);
    }
    result = RunServiceDispatcher();
  }

  const bool threadsEnded = services.JoinThreads(0);
  assembly.StopTrapHandoff();
  SetAgentServices(nullptr);
  if (!threadsEnded || g_shell.mainThread.joinable()) {
    // A thread that did not stop still uses the agent's objects: end the process without
    // running their destructors.
    std::fflush(nullptr);
    _exit(result);
  }
  return result;
}
