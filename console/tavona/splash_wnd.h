// CSplashWnd: the window that covers the console's start until the first UPS information has
// arrived: the banner, the product and edition name and the legal notice.
#pragma once

#include <QWidget>

class CSplashWnd : public QWidget {
  Q_OBJECT
 public:
  explicit CSplashWnd(QWidget* parent = nullptr);
  // "Fenn" when the program's title holds "FENN", else "Tavona".
  static QString EditionWord(const QString& programTitle);
  // The program title the splash reads ("Tremona® Tavona").
  static QString ProgramTitle();

 protected:
  void paintEvent(QPaintEvent* e) override;
};
