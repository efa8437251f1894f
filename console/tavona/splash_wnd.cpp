#include "console/tavona/splash_wnd.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include "console/tavona/about_dlg.h"
#include "console/tavona/tandle_pictures.h"
#include "core/base/setup_data.h"
#include "dialogs/frame/string_table.h"

namespace {

constexpr int kFennMark = 3654;    // "FENN"
constexpr int kFennWord = 3656;    // "Fenn"
constexpr int kTavonaWord = 3657;  // "Tavona"

}  // namespace

CSplashWnd::CSplashWnd(QWidget* parent) : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint) {
  setObjectName(QStringLiteral("CSplashWnd"));
  setAttribute(Qt::WA_DeleteOnClose);
  resize(460, 270);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
  }
}

QString CSplashWnd::ProgramTitle() {
  SetupData setup;
  return QString::fromStdString(setup.GetApplicationTypeName(6)) + QLatin1Char(' ') + LoadString(kTavonaWord);
}

QString CSplashWnd::EditionWord(const QString& programTitle) {
  return programTitle.toUpper().contains(LoadString(kFennMark)) ? LoadString(kFennWord)
                                                                : LoadString(kTavonaWord);
}

void CSplashWnd::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  const int w = width();
  const int h = height();
  p.drawImage(QPoint(0, 0), tavona::SplashBanner(w, h));
  SetupData setup;
  const QString name = QString::fromStdString(setup.GetApplicationTypeName(6)) + QLatin1Char(' ') +
                       EditionWord(ProgramTitle());
  // The name centred at seven twelfths of the width, a third of the height down; the notice
  // below it. Each font is made smaller where the text would not fit beside the mark.
  const double room = w * (1.0 - 7.0 / 12.0) * 2.0 - 16;
  auto fitted = [&](int pixels, const QString& text) {
    QFont f(QStringLiteral("Arial"));
    f.setBold(true);
    f.setPixelSize(pixels);
    while (pixels > 9 && QFontMetricsF(f).horizontalAdvance(text) > room) f.setPixelSize(--pixels);
    return f;
  };
  p.setFont(fitted(h / 6, name));
  p.setPen(Qt::white);
  const QPointF centre(w * 7.0 / 12.0, h / 3.0 + 10);
  p.drawText(QRectF(centre.x() - room / 2.0, centre.y() - h / 6.0, room, h / 3.0), Qt::AlignCenter, name);
  const QString notice = LegalNoticeText();
  p.setFont(fitted(h / 14, notice));
  p.setPen(QColor(255, 255, 255, 210));
  const QPointF legal(w * 7.0 / 12.0, h / 3.0 + h / 5.0);
  p.drawText(QRectF(legal.x() - room / 2.0, legal.y() - h / 10.0, room, h / 5.0), Qt::AlignCenter, notice);
  p.setPen(QPen(QColor(255, 255, 255, 90), 1));
  p.setBrush(Qt::NoBrush);
  p.drawRect(QRectF(0.5, 0.5, w - 1, h - 1));
}
