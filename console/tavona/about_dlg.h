// CAboutDlg: the console's About box, modeless, one at a time (pAboutDlg). Its caption and
// lines name the product and its edition from the setup name table, the console's version and
// the legal notice compiled into the program. OK, Cancel and the close button destroy it.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>

class QLabel;

class CAboutDlg : public QDialog {
  Q_OBJECT
 public:
  // Builds and shows the box (no parent unless given).
  explicit CAboutDlg(QWidget* parent = nullptr);
  ~CAboutDlg() override;

  // "About  Tremona® Tavona" (Fenn for interface type 1, Tavona for any other).
  static QString CaptionFor(int interfaceType);
  QString VersionText() const;
  QString LegalText() const;
  QString CompanyText() const;

 protected:
  void paintEvent(QPaintEvent* e) override;

 private:
  QLabel* version_ = nullptr;
  QLabel* legal_ = nullptr;
  QLabel* company_ = nullptr;
};

// The open About box, or null.
extern QPointer<CAboutDlg> pAboutDlg;
// Opens the About box, or brings the open one forward.
CAboutDlg* OpenAboutBox();

// The program's version and legal notice, compiled in.
QString ProductVersionText();
QString LegalNoticeText();
