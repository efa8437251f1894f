#include "console/tavona/splash_wnd.h"

#include <QPainter>
#include <QGuiApplication>
#include <QScreen>

#include "console/tavona/about_dlg.h"
#include "console/tavona/tandle_pictures.h"
#include "core/base/setup_data.h"
#include "dialogs/frame/string_table.h"

namespace {

constexpr int kFennMark = 3654;   // "FENN"
constexpr int kFennWord = 3656;   // "Fenn"
constexpr int kTavonaWord = 3657; // "Tavona"

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
  return programTitle.toUpper().contains(LoadString(kFennMark)) ? LoadString(kFennWord) : LoadString(kTavonaWord);
}

void CSplashWnd::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  const int w = width();
  const int h = height();
  p.drawImage(QPoint(0, 0), tavona::SplashBanner(w, h));
  SetupData setup;
  const QString name = QString::fromStdString(setup.GetApplicationTypeName(6)) + QLatin1Char(' ') + EditionWord(ProgramTitle());
  QFont big(QStringLiteral("Arial"));
  big.setBold(true);
  big.setPixelSize(h / 6);
  p.setFont(big);
  p.setPen(Qt::white);
  const QPointF centre(w * 7.0 / 12.0, h / 3.0 + 10);
  p.drawText(QRectF(centre.x() - w / 2.0, centre.y() - h / 6.0, w, h / 3.0), Qt::AlignCenter, name);
  QFont small(QStringLiteral("Arial"));
  small.setBold(true);
  small.setPixelSize(h / 14 > 11 ? h / 14 : 11);
  p.setFont(small);
  p.setPen(QColor(255, 255, 255, 210));
  const QPointF legal(w * 7.0 / 12.0, h / 3.0 + h / 5.0);
  p.drawText(QRectF(legal.x() - w / 2.0 + 8, legal.y() - h / 10.0, w - 16, h / 5.0), Qt::AlignCenter | Qt::TextWordWrap,
             LegalNoticeText());
  p.setPen(QPen(QColor(255, 255, 255, 90), 1));
  p.setBrush(Qt::NoBrush);
  p.drawRect(QRectF(0.5, 0.5, w - 1, h - 1));
}
