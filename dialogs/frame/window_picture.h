// A PNG picture of a widget's window as a user sees it: the window's content at its device
// pixel ratio under a plain title bar with its caption (the offscreen platform draws no frame).
#pragma once

#include <QString>

class QWidget;

// Shows the window when hidden, grabs it and writes the picture to `path`; true when written.
bool SaveWindowPng(QWidget* widget, const QString& path);
