#include "trayagent/tray_icon.h"

#include <QCursor>
#include <QSystemTrayIcon>

#include "core/base/ktdiag.h"
#include "trayagent/agent_frame.h"
#include "trayagent/agent_pictures.h"

QPoint TrayIcon::MenuPosition() const { return QCursor::pos(); }

SystemTrayIcon::SystemTrayIcon(CAgentFrame* frame) : frame_(frame) {}

SystemTrayIcon::~SystemTrayIcon() = default;

void SystemTrayIcon::Apply(int operation, bool running, const QString& tip) {
  if (operation == kTrayDelete) {
    icon_.reset();
    return;
  }
  if (!QSystemTrayIcon::isSystemTrayAvailable()) {
    // No notification area (no desktop, or one without a tray): the agent runs on without its
    // icon, and says so once.
    if (!unavailable_traced_) Diag() << "No system tray on this display: the agent runs without its icon\n";
    unavailable_traced_ = true;
    return;
  }
  if (!icon_) {
    icon_ = std::make_unique<QSystemTrayIcon>();
    QObject::connect(icon_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason why) {
      if (why == QSystemTrayIcon::DoubleClick) frame_->OnTrayNotify(1, kMouseLeftDoubleClick);
      if (why == QSystemTrayIcon::Context) frame_->OnTrayNotify(1, kMouseRightDown);
    });
  }
  icon_->setIcon(AgentIcon(running ? kIconRunning : kIconStartup));
  icon_->setToolTip(tip);
  if (operation == kTrayAdd) icon_->show();
}

QPoint SystemTrayIcon::MenuPosition() const {
  if (icon_) {
    const QRect r = icon_->geometry();
    if (r.isValid()) return r.topLeft();
  }
  return TrayIcon::MenuPosition();
}
