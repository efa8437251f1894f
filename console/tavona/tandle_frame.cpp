#include "console/tavona/tandle_frame.h"

#include <arpa/inet.h>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPageSetupDialog>
#include <QPrinter>
#include <QScreen>
#include <QStatusBar>
#include <QTimerEvent>
#include <QToolBar>
#include <cstdio>
#include <vector>

#include "console/comm/communication.h"
#include "console/tavona/console_app.h"
#include "console/tavona/splash_wnd.h"
#include "console/tavona/tandle_doc.h"
#include "console/tavona/tandle_pictures.h"
#include "console/tavona/tandle_view.h"
#include "console/tavona/tavona_ids.h"
#include "core/base/service_start.h"
#include "dialogs/discovery/host_selection.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/host_control.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"
#include "platform/name_resolver.h"

using namespace tavona;

namespace {

constexpr int kUnableToInitialise = 133;  // "ERROR: Unable to initialize communications"
constexpr int kUnableToCommunicate = 3631;
constexpr int kHostTitle = 3629;  // " - Host: "
constexpr int kIdle = 3630;
constexpr int kReadCommunity = 3627;   // "marble"
constexpr int kWriteCommunity = 3628;  // "harvest"
constexpr uint16_t kScpPort = 7010;
constexpr int kWorkerWaitMs = 10000;

int g_first_delay_ms = 30000;
int g_second_delay_ms = 90000;

}  // namespace

// One item of a menu: a command (0: a separator), its text, and for a popup its items.
struct MenuEntry {
  int command;
  const char* text;
  std::vector<MenuEntry> items;
};

namespace {

const std::vector<MenuEntry>& MenuOf(int menuId) {
  static const std::vector<MenuEntry> shortMenu = {
      {0, "&File", {{ID_APP_EXIT, "E&xit", {}}}},
      {0, "&View", {{ID_VIEW_STATUS_BAR, "&Status Bar", {}}, {ID_VIEW_TOOLBAR, "&Toolbar", {}}}},
      {0, "&Manage", {{ID_AGENT_STARTUP, "A&gent Startup...", {}}}},
      {0,
       "&Help",
       {{ID_HELP_CONTENTS, "&Contents", {}},
        {ID_HELP_SEARCH, "&Search...", {}},
        {0, nullptr, {}},
        {ID_TECHNICAL_SUPPORT, "&Technical Support...", {}},
        {0, nullptr, {}},
        {ID_APP_ABOUT, "&About Tavona...", {}}}},
  };
  static const std::vector<MenuEntry> fullMenu = {
      {0,
       "&File",
       {{ID_FILE_PRINT_SETUP, "P&rint Setup...", {}}, {0, nullptr, {}}, {ID_APP_EXIT, "E&xit", {}}}},
      {0,
       "&Configure",
       {{0,
         "&Communications",
         {{ID_SERIAL_DEVICE, "Serial De&vice...", {}},
          {ID_NETWORK_ADAPTER, "Network &Adapter...", {}},
          {ID_NETWORKING_PROPERTIES, "Networking &Properties", {}}}},
        {0,
         "Noti&fication",
         {{ID_EVENTS, "E&vents...", {}},
          {ID_EMAIL_RECIPIENTS, "&E-mail Recipients...", {}},
          {ID_PAGER_RECIPIENTS, "&Pager Recipients...", {}},
          {ID_NETWORK_ALARM_RECIPIENTS, "Network &Alarm Recipients...", {}},
          {ID_EVENT_LOG, "Event &Log...", {}}}},
        {0,
         "&Options",
         {{ID_UPS_OPTIONS, "&UPS Options...", {}},
          {ID_SHUTDOWN_PARAMETERS, "S&hutdown Parameters...", {}},
          {ID_PASSWORD, "Pass&word...", {}},
          {ID_SCHEDULED_SHUTDOWN, "&Scheduled Shutdown...", {}},
          {ID_SCHEDULED_DIAGNOSTIC_TEST, "Scheduled &Diagnostic Test...", {}},
          {0, nullptr, {}},
          {ID_OPTION_SPLASH, "Show &splash screen at startup", {}},
          {ID_OPTION_ACCESS_DIALOG, "Show startup &access mode dialog", {}},
          {ID_OPTION_RECONNECT, "&Reconnect last server at startup", {}}}}}},
      {0,
       "&View",
       {{ID_VIEW_TOOLBAR, "&Toolbar", {}},
        {ID_VIEW_STATUS_BAR, "&Status Bar", {}},
        {0, nullptr, {}},
        {ID_SYSTEM_INFORMATION, "S&ystem Information...", {}},
        {ID_BATTERY_INFORMATION, "&Battery Information...", {}},
        {ID_METERS, "&Meters...", {}},
        {ID_UPS_MIMIC, "UPS Mimi&c...", {}},
        {ID_ALARM_QUEUE, "Alarm &Queue...", {}},
        {ID_EVENT_LOG_INFORMATION, "&Event Log Information...", {}},
        {ID_DIAGNOSTIC_RESULTS, "&Diagnostic Results...", {}}}},
      {0,
       "&Manage",
       {{ID_AGENT_STARTUP, "A&gent Startup...", {}},
        {ID_AGENT_TERMINATION, "&Agent Termination...", {}},
        {ID_DIAGNOSTIC_TEST, "&Diagnostic Test...", {}},
        {ID_MANAGE_NETWORK_ADAPTER, "&Network Adapter...", {}}}},
      {0,
       "&Help",
       {{ID_HELP_CONTENTS, "&Contents", {}},
        {ID_HELP_SEARCH, "&Search...", {}},
        {0, nullptr, {}},
        {ID_PROBLEM_REPORT, "&Problem Report...", {}},
        {ID_TECHNICAL_SUPPORT, "&Technical Support...", {}},
        {0, nullptr, {}},
        {ID_APP_ABOUT, "&About Tavona...", {}}}},
  };
  return menuId == kShortMenu ? shortMenu : fullMenu;
}

// The status-bar prompt and the tool tip of a command: the two parts of its string.
QString PromptOf(int command, int part) {
  const QStringList parts = LoadString(command).split(QLatin1Char('\n'));
  return part < parts.size() ? parts[part] : QString();
}

QAction* FindIn(const QList<QAction*>& actions, int command) {
  for (QAction* a : actions) {
    if (a->menu() != nullptr) {
      if (QAction* found = FindIn(a->menu()->actions(), command)) return found;
    } else if (!a->isSeparator() && a->data().toInt() == command) {
      return a;
    }
  }
  return nullptr;
}

// Whether a menu holds an item that can be chosen, and removes the popups inside it that hold
// none (from the last to the first).
bool Prune(QMenu* menu) {
  bool usable = false;
  const QList<QAction*> actions = menu->actions();
  for (auto it = actions.rbegin(); it != actions.rend(); ++it) {
    QAction* a = *it;
    if (a->menu() != nullptr) {
      if (Prune(a->menu())) {
        usable = true;
      } else {
        menu->removeAction(a);
        a->menu()->deleteLater();
      }
    } else if (!a->isSeparator() && a->data().toInt() != 0 && a->isEnabled()) {
      usable = true;
    }
  }
  // Separators left at an edge or doubled separate nothing.
  QAction* previous = nullptr;
  for (QAction* a : menu->actions()) {
    if (a->isSeparator() && (previous == nullptr || previous->isSeparator())) menu->removeAction(a);
    previous = menu->actions().contains(a) ? a : previous;
  }
  if (!menu->actions().isEmpty() && menu->actions().last()->isSeparator()) {
    menu->removeAction(menu->actions().last());
  }
  return usable;
}

}  // namespace

CTandleFrame::CTandleFrame(CConsoleApp* app, CTandleDoc* doc, QWidget* parent)
    : QMainWindow(parent), app_(app), doc_(doc) {
  setObjectName(QStringLiteral("CTandleFrame"));
  setWindowIcon(ProgramIcon());
  resize(630, 475);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }

  toolbar_ = addToolBar(QStringLiteral("Standard"));
  toolbar_->setObjectName(QStringLiteral("toolbar128"));
  toolbar_->setIconSize(QSize(20, 20));
  toolbar_->setMovable(false);
  // Every command's button fits the window's width, even when the UPS supports them all.
  toolbar_->setStyleSheet(QStringLiteral("QToolButton { padding: 0px; margin: 0px; }"));
  for (int command : kToolbarCommands) {
    QAction* a = toolbar_->addAction(CommandIcon(command), PromptOf(command, 1));
    a->setData(command);
    a->setObjectName(QStringLiteral("tool%1").arg(command));
    a->setToolTip(PromptOf(command, 1));
    a->setStatusTip(PromptOf(command, 0));
    connect(a, &QAction::triggered, this, [this, command] { OnCommand(command); });
    toolbar_actions_[command] = a;
  }
  statusBar()->showMessage(QStringLiteral("Ready"));

  view_ = new CTandleView(app_, this, this);
  setCentralWidget(view_);
  relay_.SetTarget(view_);
  relay_.SetMainWindow(this);
  handler_.SetBoxOwner(this);
  LoadMenu(kFullMenu);
  view_->OnInitialUpdate();
}

CTandleFrame::~CTandleFrame() {
  watchdog_.stop();
  relay_.SetTarget(nullptr);
  StopScpThread();
}

void CTandleFrame::SetIpxHost(uint32_t network, const std::array<uint8_t, 6>& node, uint32_t socket) {
  ipx_network_ = network;
  ipx_node_ = node;
  ipx_socket_ = socket;
}

void CTandleFrame::SetWatchdogDelays(int firstMs, int secondMs) {
  g_first_delay_ms = firstMs;
  g_second_delay_ms = secondMs;
}

void CTandleFrame::PostClose() {
  QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void CTandleFrame::OnStartConnection() {
  relay_.SetTarget(view_);
  if (SelectStartupHost() == 0) {
    PostClose();
    return;
  }
  watchdog_.start(g_first_delay_ms, this);
}

int CTandleFrame::SelectStartupHost() {
  const console::CommandLine& line = app_->CommandLine();
  const bool noArguments = app_->noArguments;
  QString host = doc_->HostName();
  const std::string readCommunity = line.g ? *line.g : LoadString(kReadCommunity).toStdString();
  const std::string writeCommunity = line.s ? *line.s : LoadString(kWriteCommunity).toStdString();

  switch (gnCommMode) {
    case 1:
      if (host.isEmpty()) {
        CHostSelection selection(this);
        if (noArguments && app_->reconnectLastServer != 0 && !app_->lastNetwareServer.isEmpty()) {
          selection.SetHost(app_->lastNetwareServer);
        }
        if (selection.DoModal() != QDialog::Accepted) {
          if (noArguments) app_->lastNetwareServer.clear();
          return 0;
        }
        QString chosen;
        {
          KT_HostControl reader(0);
          HostEntry* first = gHosts.GetFirstHost();
          const char* name = first != nullptr ? first->Address().GetHostName() : nullptr;
          chosen = QString::fromUtf8(name != nullptr ? name : "");
        }
        if (noArguments) {
          app_->lastNetwareServer = chosen;
          doc_->SetHostName(chosen);
        }
        setWindowTitle(windowTitle() + LoadString(kHostTitle) + chosen);
      } else {
        // An IPX host by name needs the network's name service, which an IPX-less kernel lacks:
        // the address is built from the command line's numbers when the name is known.
        KT_Address address(ADDRESS_IPX);
        address.SetHostName(host.toUtf8().constData());
        address.SetPort(static_cast<uint16_t>(ipx_socket_));
        address.SetIpAddress(htonl(ipx_network_));
        address.SetNode(ipx_node_.data());
        uint32_t ip = 0;
        if (!platform::GetNameResolver().AddressOf(host.toStdString(), ip)) return UnknownHost(host);
        KT_HostControl writer;
        gHosts.AddHost(address);
      }
      break;
    case 0:
    case 2: {
      if (gDiscover.Initialize() < 0) {
        gScp.ClearFlag(SCP_FLAG_UDP_OPEN);
        return 0;
      }
      gScp.SetFlag(SCP_FLAG_UDP_OPEN);
      if (host.isEmpty()) {
        CHostSelection selection(this);
        if (selection.DoModal() != QDialog::Accepted) return 0;
      } else {
        uint32_t ip = 0;
        if (!platform::GetNameResolver().AddressOf(host.toStdString(), ip)) return UnknownHost(host);
        KT_Address address(gnCommMode == 0 ? ADDRESS_IP : ADDRESS_SNMP);
        address.SetIpAddress(ip);
        address.SetPort(htons(kScpPort));
        address.SetHostName(host.toUtf8().constData());
        address.SetReadCommunity(readCommunity.c_str());
        address.SetWriteCommunity(writeCommunity.c_str());
        KT_HostControl writer;
        gHosts.AddHost(address);
      }
      KT_HostControl reader(0);
      HostEntry* first = gHosts.GetFirstHost();
      const char* name = first != nullptr ? first->Address().GetHostName() : nullptr;
      doc_->SetHostName(name != nullptr ? QString::fromUtf8(name) : LoadString(kIdle));
      break;
    }
    default: {
      // The local agent: one host with an empty address.
      KT_Address address(ADDRESS_IP);
      KT_HostControl writer;
      gHosts.AddHost(address);
      break;
    }
  }

  if (!scp_mutex_.Create(kScpQueueMutexName)) {
    TremMessageBox(this, LoadString(kUnableToInitialise));
    return 0;
  }
  mutex_created_ = true;
  worker_ = std::make_unique<CCommunication>(&relay_);
  worker_->start(QThread::HighestPriority);
  if (!worker_->WaitInitialised(kWorkerWaitMs)) {
    TremMessageBox(this, LoadString(kUnableToInitialise));
    return 0;
  }
  worker_->setPriority(QThread::LowPriority);
  return 1;
}

int CTandleFrame::UnknownHost(const QString& host) {
  // The console then ends: said on standard error and in a box, not by a silent close.
  std::fprintf(stderr, "Tavona: the host %s cannot be found\n", qPrintable(host));
  TremMessageBox(this, QStringLiteral("The host %1 cannot be found.").arg(host), MB_OK | MB_ICONSTOP);
  return 0;
}

void CTandleFrame::timerEvent(QTimerEvent* e) {
  if (e->timerId() == watchdog_.timerId()) {
    OnTimer(kWatchdogTimer);
    return;
  }
  QMainWindow::timerEvent(e);
}

void CTandleFrame::OnTimer(int id) {
  if (id != kWatchdogTimer) return;
  watchdog_.stop();
  const bool contact = app_->Splash() == nullptr && gScp.TestFlag(SCP_FLAG_UPS_INFO_RECEIVED);
  if (contact) return;
  // The local agent is started once; an agent that then does not answer within the second
  // check is given up as one that never answered.
  if (gnCommMode == 3 && !agent_started_) {
    if (StartAgent() > 0) {
      agent_started_ = true;
      watchdog_.start(g_second_delay_ms, this);
      return;
    }
  }
  TremMessageBox(this, LoadString(kUnableToCommunicate));
  PostClose();
}

int CTandleFrame::StartAgent() {
  int message = 3653;
  switch (StartServiceExplained("VigilNT")) {
    case platform::UnitStartOutcome::Started:
      return 1;
    case platform::UnitStartOutcome::NotPrivileged:
      message = 3662;
      break;
    case platform::UnitStartOutcome::NoSystemd:
      message = 3663;
      break;
    case platform::UnitStartOutcome::NotFound:
      message = 3638;
      break;
    case platform::UnitStartOutcome::Masked:
      message = 3647;
      break;
    case platform::UnitStartOutcome::AlreadyActive:
      message = 3643;
      break;
    case platform::UnitStartOutcome::Dependency:
      message = 3646;
      break;
    case platform::UnitStartOutcome::ExecFailed:
      message = 3642;
      break;
    case platform::UnitStartOutcome::TimedOut:
      message = 3651;
      break;
    case platform::UnitStartOutcome::Other:
      message = 3653;
      break;
  }
  TremMessageBox(this, LoadString(message));
  return -1;
}

void CTandleFrame::StopScpThread() {
  if (worker_) {
    if (!worker_->Stop(kWorkerWaitMs)) {
      // A worker that does not end is left to the process's end rather than destroyed while
      // it runs.
      std::fprintf(stderr, "Tavona: the communication worker did not end within %d ms\n", kWorkerWaitMs);
      (void)worker_.release();
    } else {
      worker_.reset();
    }
  }
  if (mutex_created_) {
    scp_mutex_.Close();
    mutex_created_ = false;
  }
}

void CTandleFrame::closeEvent(QCloseEvent* e) {
  closing_ = true;
  watchdog_.stop();
  QMainWindow::closeEvent(e);
  if (!e->isAccepted()) return;
  // The console's other windows go with its main window, as they are, without their OK or
  // Cancel: a dialog refuses a close of its own (it decides how it goes away), and one refusal
  // would make the application keep running with no main window.
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w != this && w->isVisible()) w->hide();
  }
  QApplication::quit();
}

QMenu* CTandleFrame::BuildPopup(const MenuEntry& entry, QWidget* parent) {
  auto* menu = new QMenu(QString::fromUtf8(entry.text), parent);
  for (const MenuEntry& item : entry.items) {
    if (!item.items.empty()) {
      menu->addMenu(BuildPopup(item, menu));
    } else if (item.command == 0) {
      menu->addSeparator();
    } else {
      QAction* a = menu->addAction(QString::fromUtf8(item.text));
      const int command = item.command;
      a->setData(command);
      a->setObjectName(QStringLiteral("menu%1").arg(command));
      a->setStatusTip(PromptOf(command, 0));
      const bool checkable = command == ID_VIEW_TOOLBAR || command == ID_VIEW_STATUS_BAR ||
                             command == ID_OPTION_SPLASH || command == ID_OPTION_ACCESS_DIALOG ||
                             command == ID_OPTION_RECONNECT;
      a->setCheckable(checkable);
      if (command == ID_VIEW_TOOLBAR) a->setChecked(toolbar_->isVisibleTo(this) || !isVisible());
      if (command == ID_VIEW_STATUS_BAR) a->setChecked(statusBar()->isVisibleTo(this) || !isVisible());
      connect(a, &QAction::triggered, this, [this, command] { OnCommand(command); });
    }
  }
  return menu;
}

void CTandleFrame::LoadMenu(int menuId) {
  auto* bar = new QMenuBar(this);
  for (const MenuEntry& popup : MenuOf(menuId)) bar->addMenu(BuildPopup(popup, bar));
  setMenuBar(bar);  // the old bar is deleted
  menu_id_ = menuId;
}

QAction* CTandleFrame::MenuItem(int command) const {
  return menuBar() != nullptr ? FindIn(menuBar()->actions(), command) : nullptr;
}

bool CTandleFrame::DeleteMenuItem(int command) {
  QAction* a = MenuItem(command);
  if (a == nullptr) return false;
  if (auto* menu = qobject_cast<QMenu*>(a->parent())) menu->removeAction(a);
  a->deleteLater();
  return true;
}

void CTandleFrame::RemoveEmptyPopups() {
  QMenuBar* bar = menuBar();
  const QList<QAction*> actions = bar->actions();
  for (auto it = actions.rbegin(); it != actions.rend(); ++it) {
    QAction* a = *it;
    if (a->menu() != nullptr && !Prune(a->menu())) {
      bar->removeAction(a);
      a->menu()->deleteLater();
    }
  }
  bar->update();
}

QStringList CTandleFrame::MenuTitles() const {
  QStringList out;
  for (QAction* a : menuBar()->actions()) out << a->text();
  return out;
}

QAction* CTandleFrame::ToolbarAction(int command) const {
  auto it = toolbar_actions_.find(command);
  return it != toolbar_actions_.end() ? it->second : nullptr;
}

void CTandleFrame::SetToolbarButtonVisible(int command, bool visible) {
  if (QAction* a = ToolbarAction(command)) a->setVisible(visible);
}

bool CTandleFrame::ToolbarButtonVisible(int command) const {
  QAction* a = ToolbarAction(command);
  return a != nullptr && a->isVisible();
}

void CTandleFrame::OnCommand(int command) {
  switch (command) {
    case ID_APP_EXIT:
      close();
      return;
    case ID_VIEW_TOOLBAR:
      toolbar_->setVisible(!toolbar_->isVisible());
      return;
    case ID_VIEW_STATUS_BAR:
      statusBar()->setVisible(!statusBar()->isVisible());
      return;
    case ID_FILE_PRINT_SETUP: {
      static QPrinter printer;
      QPageSetupDialog dialog(&printer, this);
      dialog.exec();
      return;
    }
    case ID_HELP_CONTENTS:
    case ID_HELP_SEARCH:
      ShowHelpTopic(this, QString::fromLatin1(kPanelHelpFile), 0);
      return;
    default:
      view_->OnCommand(command);
  }
}
