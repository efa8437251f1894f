// PNG screenshots of dialogs: $VIGIL_BUILD_DIR/screenshots/<topic>/<name>.png (the working
// directory's "screenshots" folder when the variable is unset).
#pragma once

#include <QString>

class QWidget;

namespace trem_harness {

// The folder of a topic (created).
QString ScreenshotDir(const QString& topic);
// Grabs the widget (its whole window) into the topic's folder; the path, or "" on failure.
QString SaveScreenshot(QWidget* widget, const QString& topic, const QString& name);
// Grabs into a given file; true when written.
bool SaveWidgetPng(QWidget* widget, const QString& path);

}  // namespace trem_harness
