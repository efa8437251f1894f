// PNG screenshots of dialogs: $VIGIL_BUILD_DIR/screenshots/<topic>/<name>.png (the working
// directory's "screenshots" folder when the variable is unset), taken at the window's device
// pixel ratio; at a ratio other than 1 the name ends in "@<ratio>x" (name@2x.png).
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
