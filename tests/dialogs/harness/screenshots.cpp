#include "tests/dialogs/harness/screenshots.h"

#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QWidget>
#include <cstdlib>

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
  if (widget == nullptr) return false;
  QWidget* window = widget->window();
  if (!window->isVisible()) window->show();
  QCoreApplication::processEvents();
  // At the window's device pixel ratio: the grab holds ratio x its size in pixels, so the
  // picture is built in device pixels and painted in the window's own coordinates.
  const QPixmap content = window->grab();
  const qreal ratio = content.devicePixelRatio();
  const QSize logical = content.deviceIndependentSize().toSize();
  // The offscreen platform draws no frame: a plain title bar shows the caption in the picture.
  const QFontMetrics fm(window->font());
  const int bar = fm.height() + 10;
  QImage image(QSize(logical.width(), logical.height() + bar) * ratio, QImage::Format_ARGB32);
  image.setDevicePixelRatio(ratio);
  image.fill(window->palette().color(QPalette::Window));
  QPainter p(&image);
  p.fillRect(0, 0, logical.width(), bar, window->palette().color(QPalette::Highlight));
  p.setPen(window->palette().color(QPalette::HighlightedText));
  p.setFont(window->font());
  p.drawText(QRect(8, 0, logical.width() - 16, bar), Qt::AlignVCenter | Qt::AlignLeft, window->windowTitle());
  p.drawPixmap(0, bar, content);
  p.end();
  return image.save(path, "PNG");
}

QString SaveScreenshot(QWidget* widget, const QString& topic, const QString& name) {
  // A run at another scale (QT_SCALE_FACTOR=2) keeps its pictures beside the plain ones.
  const qreal ratio = widget != nullptr ? widget->window()->devicePixelRatioF() : 1.0;
  const QString suffix = ratio == 1.0 ? QString() : QStringLiteral("@%1x").arg(ratio);
  const QString path = ScreenshotDir(topic) + QLatin1Char('/') + name + suffix + QStringLiteral(".png");
  return SaveWidgetPng(widget, path) ? path : QString();
}

}  // namespace trem_harness
