// The access-mode dialog (232): whether the console talks to the agent on this computer
// ("Default", mode 3) or to remote servers (mode 1), and whether it asks again at the next
// start.
#pragma once

#include <QDialog>

class QCheckBox;
class QRadioButton;

class CAccessModeDlg : public QDialog {
  Q_OBJECT
 public:
  CAccessModeDlg(int commMode, bool showAtStartup, QWidget* parent = nullptr);
  // After OK: 3 or 1.
  int CommMode() const;
  bool ShowAtStartup() const;

 private:
  QRadioButton* default_ = nullptr;
  QRadioButton* remote_ = nullptr;
  QCheckBox* show_ = nullptr;
};
