// KT_NTServices: the operating-system services of the agent daemon (VigilNT) on Linux.
//
//   message boxes      one at a time, each on a thread of its own, through a message-box layer
//                      (agent/engine/message_boxes.h): in the foreground a line on standard output; as
//                      a service the system log and the terminals of the logged-in users
//                      (settings: user_terminals)
//   event log          the system log, source "VigilNT", with the event names
//   broadcast          the logged-in users' terminals, as `wall` writes them
//   mail, programs,    shared with the desktop agent (agent/actions/effect_services.h): MapiMail on
//   saver, identity,   a short-lived thread, configured commands started without a shell and
//   single instance    waited for within their bound, type 15 ("Linux") with the kernel's version
//   sound, shutdown,   through agent/actions/system_effects.h, every wait bounded
//   reboot
//   pages              the shared pager slots of KT_OSServices
//   service states     reported to systemd (READY, STOPPING, STATUS)
//
// Stopping the agent (StopAgent) writes every record file, asks every worker thread to stop
// (the NetBCM thread too), waits for them with a bound (kThreadStopWaitMs), clears the agent
// run flag and, for a quick stop, signals the exit event that the service shell waits on.
//
// Failures are recorded as class 38 with these functions: 1 SetOsInfo, 2 Broadcast,
// 3 PopupMessage, 7 RunProgram, 8 ShutdownSystem, 9 RunSaver, 10 PlaySound, 11 RunAndWait.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "agent/engine/message_boxes.h"
#include "agent/actions/effect_services.h"
#include "platform/system_log.h"

// Service states as the shell reports them.
enum AgentServiceState : int {
  SERVICE_STATE_STOPPED = 1,
  SERVICE_STATE_START_PENDING = 2,
  SERVICE_STATE_STOP_PENDING = 3,
  SERVICE_STATE_RUNNING = 4,
};

inline constexpr const char* kEventSourceName = "VigilNT";

class KT_NTServices : public KT_EffectServices {
 public:
  explicit KT_NTServices(KT_SCP& scp);
  ~KT_NTServices() override;

  int StopAgent(int quick) override;
  // Slot 14: closes the open agent box (WarnAdmin), then shows this one on a thread of its
  // own. 1, or -1 for a null text or a thread that cannot start.
  int ShowMessageBox(const char* text, const char* caption, uint32_t flags) override;
  // Slot 13: one system-log entry with the event's name (events 1..35; kind 0 error, 1
  // warning, anything else information). 1 written, 0 for an event without a name.
  int LogEvent(int kind, int eventNumber) override;
  // Slot 9: runs the shutdown command (waited for within its bound), then signals the exit
  // event. 1, or -1 with (38, 8, 2, error) when the command did not start or (38, 8, 3, exit
  // code) when it failed; the exit event is signalled either way.
  int ShutdownSystem() override;
  // The same with the reboot command.
  int RebootSystem() override;
  // Slot 11: plays the sound file and waits for it (bounded). 1, or -1 ((38, 10, 1) null,
  // (38, 10, 2, error) the player failed).
  int PlaySound(const char* soundFile) override;
  // The same without waiting for the player; the same results.
  int StartSound(const char* soundFile) override;

  // The text to every logged-in user's terminal, on a thread of its own; returns at once. 1,
  // or -1 ((38, 2, 1) null text).
  int Broadcast(const char* text) override;
  // The mail sender program path: "tremmail.txt" and the mail sender started with the
  // recipient (agent/actions/system_effects.h). The fourth argument is not used.
  int StartMailProgram(const char* text, const char* recipient, const char* account, const char* unused = nullptr);

  // One entry in the system log under "VigilNT".
  static void WriteEventLog(platform::LogEntryType type, const std::vector<std::string>& strings);

  // Shell state.
  void SetConsoleMode(bool on);
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
  int Sound(const char* soundFile, bool wait);
  // The end of ShutdownSystem and RebootSystem: the command's outcome, then the exit event.
  int EndSystem(const platform::ProcessResult& r, const char* failure);

  bool console_mode_ = false;
  bool running_as_service_ = false;
  std::mutex exit_mutex_;
  std::condition_variable exit_cv_;
  bool exit_signalled_ = false;
};
