// CTechSupportDlg: how to reach technical support. A static page: no request, no file, no
// help topic (F1 and Help do nothing).
#pragma once

#include "dialogs/frame/kt_dialog.h"

class CTechSupportDlg : public KTDialog {
  Q_OBJECT

 public:
  explicit CTechSupportDlg(QWidget* parent = nullptr, const QString& hostName = QString());
  ~CTechSupportDlg() override;

  bool OnInitDialog() override;
  void OnHelp() override;
  bool OnHelpInfo() override;

 private:
  void BuildControls();
};

extern DialogPointer<CTechSupportDlg> pTechSupportDlg;
