// KT_NTServices: the operating-system services of the agent daemon (VigilNT) on Linux.
//
//   message boxes      in the foreground: a line on standard output; as a service: the system
//                      log, and the terminals of the logged-in users (settings: user_terminals)
//   event log          the system log, source "VigilNT"
//   single instance    the shared mapping "Tremona Agent Is Running"
//   identity           operating-system type 15 ("Linux") with the kernel's version numbers
//   service states     reported to systemd (READY, STOPPING, STATUS)
//
// Stopping the agent (StopAgent) writes every record file, asks every worker thread to stop
// (the NetBCM thread too), waits for them with a bound (kThreadStopWaitMs), clears the agent
// run flag and, for a quick stop, signals the exit event that the service shell waits on.
//
// The actions' effects (mail, pages, programs, sound, shutdown) keep the defaults of
// KT_OSServices until the action engine's services are added here.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "agent/os_services.h"
#include "platform/system_log.h"

// Service states as the shell reports them.
enum AgentServiceState : int {
  SERVICE_STATE_STOPPED = 1,
  SERVICE_STATE_START_PENDING = 2,
  SERVICE_STATE_STOP_PENDING = 3,
  SERVICE_STATE_RUNNING = 4,
};

inline constexpr const char* kEventSourceName = "VigilNT";

class KT_NTServices : public KT_OSServices {
 public:
  explicit KT_NTServices(KT_SCP& scp);
  ~KT_NTServices() override;

  int IsAlreadyRunning() override { return TestSingleInstance(); }
  int StopAgent(int quick) override;
  int ShowMessageBox(const char* text, const char* caption, uint32_t flags) override;
  int LogEvent(int kind, int eventNumber) override;

  // Operating-system type 15 and the kernel's version into the UPS information block. 1, or
  // -1 with error (38, 1, 1) when the kernel cannot be asked.
  int SetOsInfo() override;
  // Closes the open agent message box before another one; a terminal message cannot be taken
  // back, so there is nothing to close here.
  void WarnAdmin() {}

  // One entry in the system log under "VigilNT".
  static void WriteEventLog(platform::LogEntryType type, const std::vector<std::string>& strings);

  // Shell state.
  void SetConsoleMode(bool on) { console_mode_ = on; }
  bool ConsoleMode() const { return console_mode_; }
  void SetRunningAsService(bool on) { running_as_service_ = on; }
  bool RunningAsService() const { return running_as_service_; }

  // Reports a service state to the service manager (nothing in the foreground). 1 reported or
  // nothing to report to; 0 when the report failed (then an event-log entry
  // "VigilNT Service Error : %d" / "SetServiceStatus" and the exit event).
  int ReportServiceStatus(int state, int exitCode, int checkpoint, int waitHintMs);
  // Event-log entry (error) with the code and the text, then the exit event.
  void ReportServiceError(const char* text, int code);

  // The exit event (manual reset, not signalled at first).
  void SignalExit();
  void WaitForExit();
  bool IsExitSignalled();

 private:
  bool console_mode_ = false;
  bool running_as_service_ = false;
  std::mutex exit_mutex_;
  std::condition_variable exit_cv_;
  bool exit_signalled_ = false;
};
