#include "dialogs/frame/window_picture.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

bool SaveWindowPng(QWidget* widget, const QString& path) {
  if (widget == nullptr) return false;
  QWidget* window = widget->window();
  if (!window->isVisible()) window->show();
  QCoreApplication::processEvents();
  // At the window's device pixel ratio: the grab holds ratio x its size in pixels, so the
  // picture is built in device pixels and painted in the window's own coordinates.
  const QPixmap content = window->grab();
  const qreal ratio = content.devicePixelRatio();
  const QSize logical = content.deviceIndependentSize().toSize();
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
