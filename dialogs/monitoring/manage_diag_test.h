// CManageDiagTest: asks for confirmation, then tells the agent to run the UPS diagnostic
// (battery) test: OK marks command branch 5 of gScp as just changed and sends (27, 5, 0) to
// the first host, or to each selected host. Cancel sends nothing. Waits for no reply.
#pragma once

#include "dialogs/frame/kt_dialog.h"

class CManageDiagTest : public KTDialog {
  Q_OBJECT

 public:
  static constexpr int kHelpContext = 28;
  static constexpr int IDC_DIAG_TEXT = 1000;  // the question

  explicit CManageDiagTest(QWidget* parent = nullptr, const QString& hostName = QString());
  CManageDiagTest(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                  const QStringList& hostNames);
  ~CManageDiagTest() override;

  bool OnInitDialog() override;
  void OnOK() override;

 private:
  void BuildControls();
};

extern DialogPointer<CManageDiagTest> pManageDiagTest;
