// CConsoleApp: the central console's application object. It finds out which agents are
// installed (the agent-platform file), reads its command line and its saved settings, asks for
// the access mode when both kinds of agent are installed, keeps one console on the local
// channel, shows the splash and builds the main frame, which then connects (tandle_frame.h).
// At the end it saves its settings.
//
//   QApplication qt(argc, argv);
//   CConsoleApp app;                      // construction: agent platforms, mode, SNMP flags
//   if (!app.InitInstance(args)) { app.SaveStartupSettings(); return 1; }
//   qt.exec();
//   app.SaveStartupSettings();
//   return app.ReachedAgent() ? 0 : 1;
#pragma once

#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "console/common/command_line.h"
#include "console/common/console_settings.h"
#include "console/common/console_start.h"
#include "console/tavona/tandle_doc.h"

class CAccessModeDlg;
class CSplashWnd;
class CTandleFrame;

class CConsoleApp {
 public:
  // The settings file: Tavona's INI file unless another is given (tests).
  explicit CConsoleApp(const QString& settingsPath = QString());
  ~CConsoleApp();
  CConsoleApp(const CConsoleApp&) = delete;
  CConsoleApp& operator=(const CConsoleApp&) = delete;

  // The one application object (null before it is built and after it is gone).
  static CConsoleApp* Instance();

  // The start-up sequence; false when the program is to end (cancelled access mode, another
  // console on the local channel, no main window).
  bool InitInstance(const std::vector<std::string>& args);
  // Writes the settings that persist (the program's exit).
  void SaveStartupSettings();
  // Shows the main window the first time it is called after ClearShown: the splash goes.
  void ShowMainWindow();
  void ClearShown() { shown_ = false; }
  bool Shown() const { return shown_; }
  // True once the main window was shown for the agent's first UPS information: a console that
  // ends before (no such host, no agent answering) ends with status 1.
  bool ReachedAgent() const { return reached_agent_; }

  // How the access-mode dialog is run (exec by default); tests answer it.
  using AccessDialogRunner = std::function<int(CAccessModeDlg&)>;
  static void SetAccessDialogRunner(AccessDialogRunner runner);

  // Builds the main frame (the start-up sequence's step; tests build one without the rest).
  CTandleFrame* CreateFrame();
  CTandleFrame* Frame() const;
  CSplashWnd* Splash() const;
  CTandleDoc& Doc() { return doc_; }
  const console::CommandLine& CommandLine() const { return command_line_; }
  console::ConsoleSettings& Settings() { return settings_; }

  // What construction found and the settings read (the option toggles change the three ints).
  console::AgentPlatforms platforms;
  int showStartUpDialog = 1;
  int showSplashScreen = 1;
  int reconnectLastServer = 0;
  QString lastNetwareServer;
  bool noArguments = true;

 private:
  console::ConsoleSettings settings_;
  console::GuiRunningMapping mapping_;
  console::CommandLine command_line_;
  CTandleDoc doc_;
  QPointer<CSplashWnd> splash_;
  QPointer<CTandleFrame> frame_;
  bool shown_ = false;
  bool reached_agent_ = false;
};
