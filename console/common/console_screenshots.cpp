#include "console/common/console_screenshots.h"

#include <QDir>
#include <QPixmap>
#include <QWidget>
#include <cstdlib>

namespace console {

ScreenshotWriter::ScreenshotWriter(const QString& dir) : dir_(dir) {
  if (dir_.isEmpty()) {
    const char* named = std::getenv("VIGIL_SCREENSHOT_DIR");
    if (named != nullptr) dir_ = QString::fromLocal8Bit(named);
  }
}

QString ScreenshotWriter::FileStem(const QString& firstLine) {
  QString out;
  for (const QChar c : firstLine.toLower()) {
    if (c.isLetterOrNumber() && c.unicode() < 128) {
      out += c;
    } else if (!out.isEmpty() && !out.endsWith(QLatin1Char('-'))) {
      out += QLatin1Char('-');
    }
    if (out.size() >= 60) break;
  }
  while (out.endsWith(QLatin1Char('-'))) out.chop(1);
  return out.isEmpty() ? QStringLiteral("window") : out;
}

QString ScreenshotWriter::Save(QWidget* widget, const QString& firstLine) {
  if (!Enabled() || widget == nullptr) return QString();
  QDir().mkpath(dir_);
  const QString path = QDir(dir_).filePath(
      QStringLiteral("%1-%2.png").arg(count_ + 1, 2, 10, QLatin1Char('0')).arg(FileStem(firstLine)));
  if (!widget->grab().save(path, "PNG")) return QString();
  ++count_;
  return path;
}

}  // namespace console
