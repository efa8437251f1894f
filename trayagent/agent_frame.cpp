#include "trayagent/agent_frame.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QMenu>

#include "core/base/ktdiag.h"
#include "platform/process.h"
#include "platform/service_settings.h"
#include "trayagent/agent_about_dlg.h"
#include "trayagent/agent_app.h"
#include "trayagent/agent_strings.h"
#include "trayagent/tray_icon.h"

QPointer<CAgentAboutDlg> gAgentAboutDlg;

CAgentFrame::CAgentFrame(CAgentApp& app, bool trace) : QWidget(nullptr), app_(app) {
  setWindowTitle(QString::fromUtf8(kStringAppTitle));
  setWindowFlags(Qt::Window);
  gAgentAboutDlg = nullptr;
  KtDiag::EnableOutput(trace);
  monitor_folder_ = platform::ProgramDirectory();
}

CAgentFrame::~CAgentFrame() { delete gAgentAboutDlg.data(); }

void CAgentFrame::closeEvent(QCloseEvent* event) {
  app_.UpdateTrayIcon(kTrayDelete, 1);
  event->accept();
  QCoreApplication::quit();
}

void CAgentFrame::OnAbout() {
  if (!gAgentAboutDlg) {
    gAgentAboutDlg = new CAgentAboutDlg(app_.Engine().InterfaceType());
  } else {
    gAgentAboutDlg->show();
    gAgentAboutDlg->raise();
    gAgentAboutDlg->activateWindow();
  }
}

QMenu* CAgentFrame::TrayMenu() {
  if (!menu_) {
    menu_ = new QMenu(this);
    menu_->setObjectName("menu133");
    QAction* about = menu_->addAction(kMenuAboutText, this, &CAgentFrame::OnAbout);
    about->setObjectName(QString("cmd%1").arg(kCommandAbout));
    QAction* monitor = menu_->addAction(kMenuMonitorText, this, &CAgentFrame::OnMonitor);
    monitor->setObjectName(QString("cmd%1").arg(kCommandMonitor));
  }
  return menu_;
}

int CAgentFrame::OnTrayNotify(int, int lParam) {
  switch (lParam) {
    case kMouseLeftDoubleClick:
    case kMouseRightDoubleClick:
      OnAbout();
      break;
    case kMouseRightDown:
      raise();
      TrayMenu()->popup(app_.Tray() ? app_.Tray()->MenuPosition() : QPoint());
      break;
    default:
      break;
  }
  return 0;
}

bool CAgentFrame::StartMonitor() {
  // First the console installed beside the agent, then whatever the search path finds.
  if (!monitor_folder_.empty()) {
    const platform::ProcessResult r = platform::StartProgram(std::vector<std::string>{monitor_folder_ + "/" + kMonitorProgram});
    if (r.status != platform::ProcessStatus::kFailedToStart) return true;
  }
  const platform::ProcessResult r = platform::StartProgram(std::vector<std::string>{kMonitorProgram});
  return r.status != platform::ProcessStatus::kFailedToStart;
}

void CAgentFrame::OnMonitor() {
  if (!StartMonitor()) app_.Engine().Message(kMonitorFailedText);
}
