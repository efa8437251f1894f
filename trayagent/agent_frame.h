// CAgentFrame: the desktop agent's main window, never shown. It owns the tray icon's messages
// and the two menu commands, and ends the program when it is closed (after the agent stopped,
// or by the window system).
#pragma once

#include <QPointer>
#include <QWidget>

#include <string>

class CAgentApp;
class CAgentAboutDlg;
class QMenu;

class CAgentFrame : public QWidget {
  Q_OBJECT

 public:
  // Builds the hidden window titled "Tremona® Vigil95" and switches the trace on or off.
  CAgentFrame(CAgentApp& app, bool trace);
  ~CAgentFrame() override;

  void OnAbout();
  void OnMonitor();
  // The tray icon's mouse message (lParam); always 0.
  int OnTrayNotify(int wParam, int lParam);

  // Menu 133, built once (tests grab it).
  QMenu* TrayMenu();
  // Where OnMonitor looks first for the console program (default the program's own folder;
  // tests point it elsewhere). The second try searches the PATH.
  void SetMonitorFolder(const std::string& folder) { monitor_folder_ = folder; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  // Starts the console program by the two tries; false when neither started.
  bool StartMonitor();

  CAgentApp& app_;
  QMenu* menu_ = nullptr;
  std::string monitor_folder_;
};

// The open About box, or null.
extern QPointer<CAgentAboutDlg> gAgentAboutDlg;
