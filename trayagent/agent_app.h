// CAgentApp: the desktop agent Vigil95. The agent engine (agent/) runs on the user-interface
// thread of a program without a window, shown only as a tray icon:
//
//   start         one agent a machine ("The Agent is already running."; the guard's state and
//                 who holds it on standard error), the command line, the hidden frame with icon 128
//   first tick    after the event loop has started: the icon is added (130), the engine
//                 initialised (UPS detection, up to a minute; tray clicks wait meanwhile), the
//                 icon modified to the running one (128: it changes only with the interface type)
//   later ticks   a monitor pass once the tick count is more than 2000 ms past the previous
//                 pass's start, the tray tip kept up to date; when the agent has stopped (a
//                 terminate command, the end of a shutdown) the frame closes and the program ends
//   end           the agent stopped and its threads waited for (record files written again)
//
// The trace says "Tray icon added/modified/deleted" only for what a tray shows: an icon added
// while the desktop has no tray waits for one ("No system tray on this display: ..."), and is
// traced as added when one comes (looked for at every pass).
//
// A stop signal (OnStopSignal) answers the shell's open box as its OK would and closes the
// frame: the agent stops with its record files written and the program ends with 0. During the
// start it only answers the box, and the start ends by itself ("The Agent is already running.":
// status 1); an agent not yet initialised is left as it is, its record files untouched.
//
// Ticks come from a short timer: nothing sleeps on the user-interface thread, and passes are
// timed on the 64-bit tick count (no wrap after 49.7 days).
#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CAgentFrame;
class KT_Agent;
class TrayIcon;

// What the shell asks of the agent engine (a seam: tests drive the shell without a UPS).
class TrayAgentEngine {
 public:
  virtual ~TrayAgentEngine() = default;
  // Whether this agent may run: 0 it may (it holds the machine's agent guard now), 1 another
  // agent runs, -1 the guard cannot be taken; `found` says what stands at the guard's name.
  virtual int AlreadyRunning(std::string& found) = 0;
  // After the command line: settings, data directory (the working directory), the agent's
  // parts. False with the reason when the agent cannot run.
  virtual bool Prepare(std::string& reason) = 0;
  virtual void Initialize() = 0;
  virtual void Pass() = 0;
  virtual bool Running() = 0;
  // The UPS interface type of the agent's UPS information.
  virtual int InterfaceType() = 0;
  // Stops the agent and waits for its threads (quick).
  virtual void Stop() = 0;
  // Shows one message box of the shell (OK only) and waits for it.
  virtual void Message(const std::string& text) = 0;
  // The program is stopping: the shell's open box is answered OK, and later ones at once.
  virtual void EndMessages() {}
};

// The command line: flags after "-" or "/" only. For a letter a..x the value is the text from
// the flag's third character on (empty for a flag of fewer than three): a working directory,
// b trace on and debug flag, c adapter address, d serial device, g read community, s write
// community, x mode (decimal, truncated to one byte). "con..." switches the trace on and
// "dir..." changes the working directory to the text from its fifth character on; neither is
// also taken as the letter c or d.
class AgentCommandLineInfo {
 public:
  AgentCommandLineInfo(KT_Agent& agent, bool& trace) : agent_(agent), trace_(trace) {}
  void ParseParam(const std::string& param, bool flag, bool last);
  // Every argument after the program name, with the marker taken off a flag.
  void ParseCommandLine(const QStringList& arguments);
  // What could not be done (a working directory that cannot be entered), a line each.
  const std::vector<std::string>& Problems() const { return problems_; }

 private:
  // Makes dir the working directory; one that cannot be entered leaves it as it is, noted.
  void ChangeDirectory(const std::string& dir);

  KT_Agent& agent_;
  bool& trace_;
  std::vector<std::string> problems_;
};

class CAgentApp : public QObject {
  Q_OBJECT

 public:
  static constexpr uint64_t kPassIntervalMs = 2000;
  static constexpr int kTickMs = 100;

  CAgentApp(TrayAgentEngine& engine, KT_Agent& agent);
  ~CAgentApp() override;

  // Steps of the start; false when the program is to end at once.
  bool InitInstance(const QStringList& arguments);
  // The end: the agent stopped, its threads waited for, the frame deleted. The exit code.
  int ExitInstance(int exitCode = 0);
  // One idle call (the tick timer's).
  void OnIdle();
  // 0 add, 1 modify (only when the interface type changed), 2 delete; running: icon 128.
  void UpdateTrayIcon(int operation, int running);
  // Starts the tick timer (the program does it once the frame exists); after a stop signal the
  // frame closes instead.
  void StartTicks();
  // A stop signal (SIGTERM, SIGINT, SIGHUP), on this thread.
  void OnStopSignal();
  // A tray that came or went: traced (each monitor pass looks).
  void WatchTray();

  // The tray icon in use (tests install a recorder before InitInstance; else the system's).
  void SetTrayIcon(std::unique_ptr<TrayIcon> icon);
  TrayIcon* Tray() const { return tray_.get(); }
  CAgentFrame* Frame() const { return frame_; }
  TrayAgentEngine& Engine() { return engine_; }
  bool TraceFlag() const { return trace_; }

  // Fields of the application.
  int agentEnabled = 1;
  int firstIdlePending = 1;
  uint64_t nextPassTick = 0;
  int lastShownInterfaceType = 255;

 private:
  TrayAgentEngine& engine_;
  KT_Agent& agent_;
  bool trace_ = false;
  bool closing_ = false;  // the agent stopped: the frame is closing, no more passes
  bool started_ = false;  // StartTicks ran: the start is over
  bool stop_signalled_ = false;
  // The icon as last asked for, traced again when a tray comes.
  bool icon_added_ = false;
  int icon_running_ = 0;
  QString icon_tip_;
  bool no_tray_traced_ = false;
  std::unique_ptr<TrayIcon> tray_;
  CAgentFrame* frame_ = nullptr;
  QTimer ticks_;

  void TraceNoTray();
  void CloseFrame();
};

// The tray tip for an interface type: application-type names 6 and 8 and " is active" (types
// 1 to 3) or " is idle", cut to the icon's 63 characters.
QString TrayTip(int interfaceType);
