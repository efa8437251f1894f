#include "trayagent/tray_icon.h"

#include <QCursor>
#include <QGuiApplication>
#include <QSystemTrayIcon>

#include "trayagent/agent_frame.h"
#include "trayagent/agent_pictures.h"

namespace {

// On X11 Qt docks a shown icon as soon as a tray comes, and takes it away when the tray goes.
// Elsewhere the icon is shown once a look finds a tray.
bool DocksWhenATrayComes() {
  return QGuiApplication::platformName() == QLatin1String("xcb");
}

}  // namespace

QPoint TrayIcon::MenuPosition() const { return QCursor::pos(); }

SystemTrayIcon::SystemTrayIcon(CAgentFrame* frame) : frame_(frame) {}

SystemTrayIcon::~SystemTrayIcon() = default;

bool SystemTrayIcon::Apply(int operation, bool running, const QString& tip) {
  if (operation == kTrayDelete) {
    const bool shown = icon_ != nullptr && wanted_ && present_;
    icon_.reset();
    wanted_ = false;
    return shown;
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
  if (operation == kTrayAdd) wanted_ = true;
  present_ = QSystemTrayIcon::isSystemTrayAvailable();
  if (wanted_ && !icon_->isVisible() && (present_ || DocksWhenATrayComes())) icon_->show();
  return wanted_ && present_;
}

TrayChange SystemTrayIcon::Watch() {
  if (!icon_ || !wanted_) return TrayChange::kNone;
  const bool present = QSystemTrayIcon::isSystemTrayAvailable();
  if (present && !icon_->isVisible()) icon_->show();
  if (present == present_) return TrayChange::kNone;
  present_ = present;
  return present ? TrayChange::kCame : TrayChange::kWent;
}

QPoint SystemTrayIcon::MenuPosition() const {
  if (icon_) {
    const QRect r = icon_->geometry();
    if (r.isValid()) return r.topLeft();
  }
  return TrayIcon::MenuPosition();
}
