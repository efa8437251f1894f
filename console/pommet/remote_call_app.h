// RemoteCallApp: the call console Pommet. It opens exactly one dialog of the library for one
// agent, both named on its command line, and ends when that dialog closes:
//
//   Pommet e:14 c:3                 the meters of the agent on this computer
//   Pommet e:16 c:0 h:ups-room-2    the mimic diagram of an agent over UDP
//
// Command line (console/common/command_line.h): c mode (0 UDP, 1 IPX, 2 SNMP adapter, 3 local
// channel, 4 and 5 open nothing; default 0), e dialog index 1-26 (call_dialogs.h), h host
// name, g and s SNMP read and write community (default empty), i, m, p the IPX network
// number, node (12 hexadecimal digits) and socket in mode 1.
//
// Start-up: the command line, _InitTremDLL, in mode 3 the local channel's single-console
// mapping (another console holding it: "Tremona is already running.\n" and the end), the
// hidden window "Exec" (exec_window.h). Then idle ticks every 100 ms: the first launches the
// dialog (LaunchDialog), each later one ends the program once the dialog is closed and the
// changes it sent are settled: every SET its OK queued has gone out and been answered, or the
// worker's time-out for a silent agent (KT_SCPBase::CommTimeout, 90 s unless cfgnet.dat says
// otherwise) has passed since the dialog closed. At the end the worker is stopped (bounded:
// 10 s) and unregisters from the agent.
//
// Exit status: 0 when a dialog was opened and closed and the agent took every change it sent;
// 1 when none was opened (an index outside 1-26, modes 4 and 5, a refusal in mode 3), the
// worker met a critical error, or a change was refused or never answered. Each change lost is
// said on standard error ("Pommet: the agent did not take the change of 4,2,0: Set Failed",
// "Pommet: the agent did not answer the change of 4,9,1").
//
// SIGTERM, SIGINT and SIGHUP close the dialog as its own Close button does (InstallStopSignals),
// so a program that was stopped still unregisters; once the dialog is closed, a signal ends
// the wait for the answers to its changes (those left count as not answered). A box open then
// is answered first, as its Cancel (or its only OK) would be: "ERROR: Invalid dialog
// specified" thus ends the program with status 1.
#pragma once

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "console/common/command_line.h"
#include "console/common/console_start.h"
#include "console/pommet/exec_window.h"
#include "dialogs/frame/console_stop_signals.h"

class RemoteCallApp : public QObject {
  Q_OBJECT
 public:
  static constexpr int kIdleTickMs = 100;
  static constexpr unsigned long kWorkerStopMs = 10000;
  static constexpr int kTitleStringId = 1360;  // "Tremona® Pommet"

  // gnCommMode 0, gScp's start flags (UDP channel, MIB file, snmp service), the start flag.
  explicit RemoteCallApp(ExecWorkerFactory workerFactory = {});
  ~RemoteCallApp() override;

  // The start-up; false when the program is to end at once (ExitCode() then says 1).
  bool InitInstance(const std::vector<std::string>& args);
  // Idle ticks until the quit; returns the exit status.
  int Run();
  // Stops the worker and deletes the window; false when the worker did not end in time (the
  // program must then end without running the destructors of what the worker uses).
  bool ExitInstance();

  // One idle moment (what each tick does).
  void OnIdle();
  // Opens the dialog of the index for the host (steps in the .cpp).
  void LaunchDialog();
  // True when the dialog of the index is not open. For an index outside 1-26 it shows
  // "ERROR: Invalid dialog specified" and answers true.
  bool IsDialogClosed();
  // Closes the open dialog as its Close button does (the stop signals).
  void CloseDialog();
  // Ends the event loop of Run (also before it runs).
  void Quit();

  // Catches SIGTERM, SIGINT and SIGHUP: an open box is answered, then CloseDialog runs on this
  // thread.
  bool InstallStopSignals();

  bool StartFlag() const { return start_flag_; }
  bool QuitPosted() const { return quit_posted_; }
  int DialogIndex() const { return dialog_index_; }
  const std::string& HostName() const { return host_name_; }
  const console::CommandLine& CommandLine() const { return line_; }
  ExecWindow* Window() const { return window_.get(); }
  bool DialogOpened() const { return dialog_opened_; }
  int ExitCode() const { return dialog_opened_ && !critical_ && !changes_lost_ ? 0 : 1; }
  // True once a change was refused or left unanswered (known when the program quits).
  bool ChangesLost() const { return changes_lost_; }

 private:
  void OnWindowClosed();
  // True when no SET is left in gScp's table and the answers of those that were are handled.
  bool ChangesSettled() const;
  // Says on standard error each change the agent refused or has not answered.
  void ReportLostChanges();

  ExecWorkerFactory worker_factory_;
  console::CommandLine line_;
  console::GuiRunningMapping gui_running_;
  std::unique_ptr<ExecWindow> window_;
  std::string host_name_;
  std::string read_community_;
  std::string write_community_;
  int dialog_index_ = 0;
  bool start_flag_ = false;
  bool dialog_opened_ = false;
  bool critical_ = false;
  bool quit_posted_ = false;
  bool finishing_ = false;
  bool changes_lost_ = false;
  QDeadlineTimer finish_deadline_;
  QTimer idle_timer_;
  QEventLoop loop_;
  ConsoleStopSignals stop_signals_;
};
