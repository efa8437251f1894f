// CTandleFrame: the central console's main window. It owns the connection: at start-up it
// enters the host to talk to (from the command line, the host selection or the local agent),
// creates the mutex "Mutex to lock SCP queue", starts the communication worker with a
// notice relay to the status view and waits (bounded) until it is ready, then arms the
// start-up watchdog (timer 88): when no UPS information came within 30 s, in the local mode it
// starts the agent once and checks again after 90 s; otherwise, or then, "Unable to communicate
// with the UPS Agent." and the console closes. A host name that does not resolve is said (box
// and standard error) and the console closes. At the end it stops the worker (bounded).
//
// It also carries the menu (short menu 128 without an agent, full menu 199), the toolbar of
// the dialog commands, the status bar with the commands' prompts, and the help commands.
#pragma once

#include <QBasicTimer>
#include <QMainWindow>
#include <QPointer>
#include <array>
#include <cstdint>
#include <map>
#include <memory>

#include "console/comm/comm_notice.h"
#include "console/comm/scp_handler.h"
#include "dialogs/frame/scp_queue_mutex.h"

class CCommunication;
class CConsoleApp;
class CTandleDoc;
class CTandleView;
class QAction;
class QMenu;
class QToolBar;

class CTandleFrame : public QMainWindow {
  Q_OBJECT
 public:
  CTandleFrame(CConsoleApp* app, CTandleDoc* doc, QWidget* parent = nullptr);
  ~CTandleFrame() override;

  CTandleView* View() const { return view_; }
  CScpHandler& Handler() { return handler_; }
  CommNoticeRelay& Relay() { return relay_; }
  CCommunication* Worker() const { return worker_.get(); }

  // The host's IPX address from the command line (mode 1).
  void SetIpxHost(uint32_t network, const std::array<uint8_t, 6>& node, uint32_t socket);

  // The start-up connection: host, worker, watchdog; closes the window when it fails.
  void OnStartConnection();
  // 1 when the host is entered and the worker runs; 0 otherwise.
  int SelectStartupHost();
  // The watchdog (timer 88); other ids do nothing.
  void OnTimer(int id);
  // Starts the agent on this computer: 1 started; -1 not, after a box that says why.
  int StartAgent();
  // Stops the worker (bounded) and lets go of the mutex.
  void StopScpThread();

  // The watchdog's two delays: the first check and the one after an agent start (30 s, 90 s).
  static void SetWatchdogDelays(int firstMs, int secondMs);
  bool WatchdogArmed() const { return watchdog_.isActive(); }
  bool AgentStartTried() const { return agent_started_; }
  // True once the window was closed (the program then ends).
  bool Closed() const { return closing_; }

  // Menus and the toolbar.
  void LoadMenu(int menuId);
  int MenuId() const { return menu_id_; }
  // The menu item of a command (searched through the popups); null when it is not there.
  QAction* MenuItem(int command) const;
  // Deletes the command's menu item; false when there was none.
  bool DeleteMenuItem(int command);
  // Removes the popups left without a usable item, from the last to the first.
  void RemoveEmptyPopups();
  void SetToolbarButtonVisible(int command, bool visible);
  bool ToolbarButtonVisible(int command) const;
  QAction* ToolbarAction(int command) const;
  QToolBar* ToolBar() const { return toolbar_; }
  // The titles of the menu bar's popups, in order.
  QStringList MenuTitles() const;

  // Runs a command as the menu does.
  void OnCommand(int command);

 protected:
  void timerEvent(QTimerEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  QMenu* BuildPopup(const struct MenuEntry& entry, QWidget* parent);
  void PostClose();
  // Says that the command line's host name does not resolve; 0, the failed start.
  int UnknownHost(const QString& host);

  CConsoleApp* app_;
  CTandleDoc* doc_;
  CTandleView* view_ = nullptr;
  QToolBar* toolbar_ = nullptr;
  std::map<int, QAction*> toolbar_actions_;
  int menu_id_ = 0;

  CommNoticeRelay relay_;
  CScpHandler handler_;
  std::unique_ptr<CCommunication> worker_;
  ScpQueueMutex scp_mutex_;
  bool mutex_created_ = false;

  uint32_t ipx_network_ = 0;
  std::array<uint8_t, 6> ipx_node_{};
  uint32_t ipx_socket_ = 0;

  QBasicTimer watchdog_;
  bool agent_started_ = false;
  bool closing_ = false;
};
