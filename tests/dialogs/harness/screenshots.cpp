#include "tests/dialogs/harness/screenshots.h"

#include <QDir>
#include <QWidget>
#include <cstdlib>

#include "dialogs/frame/window_picture.h"

namespace trem_harness {

QString ScreenshotDir(const QString& topic) {
  const char* build = std::getenv("VIGIL_BUILD_DIR");
  const QString root =
      build != nullptr && *build != '\0' ? QString::fromLocal8Bit(build) : QDir::currentPath();
  const QString dir = root + QStringLiteral("/screenshots/") + topic;
  QDir().mkpath(dir);
  return dir;
}

bool SaveWidgetPng(QWidget* widget, const QString& path) {
  return SaveWindowPng(widget, path);
}

QString SaveScreenshot(QWidget* widget, const QString& topic, const QString& name) {
  // A run at another scale (QT_SCALE_FACTOR=2) keeps its pictures beside the plain ones.
  const qreal ratio = widget != nullptr ? widget->window()->devicePixelRatioF() : 1.0;
  const QString suffix = ratio == 1.0 ? QString() : QStringLiteral("@%1x").arg(ratio);
  const QString path = ScreenshotDir(topic) + QLatin1Char('/') + name + suffix + QStringLiteral(".png");
  return SaveWidgetPng(widget, path) ? path : QString();
}

}  // namespace trem_harness
