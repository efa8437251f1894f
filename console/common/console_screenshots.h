// Pictures of a console's main window for headless runs: with VIGIL_SCREENSHOT_DIR=DIR set, each
// Save writes DIR/NN-<first line>.png (NN counting from 01, the first line of what the window
// shows, in lower case with blanks and other signs as '-').
#pragma once

#include <QString>

class QWidget;

namespace console {

class ScreenshotWriter {
 public:
  // The folder from VIGIL_SCREENSHOT_DIR; `dir` another one (tests). No folder: Save does nothing.
  explicit ScreenshotWriter(const QString& dir = QString());
  bool Enabled() const { return !dir_.isEmpty(); }
  // Writes the picture of the widget; its path, or empty when nothing was written.
  QString Save(QWidget* widget, const QString& firstLine);
  int Count() const { return count_; }
  // "UPS On Battery" -> "ups-on-battery".
  static QString FileStem(const QString& firstLine);

 private:
  QString dir_;
  int count_ = 0;
};

}  // namespace console
