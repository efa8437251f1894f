// CTestPager: "Test Pager". Follows a pager test that the agent runs (started by its opener
// with a SET of the command block's pager-test branch): it polls the agent's pager-test
// status, shows its text and beeps at each change.
#pragma once

#include "dialogs/frame/kt_dialog.h"

class QLabel;

class CTestPager : public KTDialog {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 3032;
  static constexpr int kHelpContext = 12;
  static constexpr int IDC_STATUS = 1256;
  static constexpr int IDC_BITMAP = 1740;
  // Pause between two polls of the agent.
  static constexpr int kPollTimerId = 2;
  static constexpr int kPollMs = 1000;

  explicit CTestPager(QWidget* parent = nullptr, const QString& hostName = QString());
  ~CTestPager() override;

  bool OnInitDialog() override;
  void OnNewData(unsigned status, unsigned block, unsigned branch, unsigned item) override;
  void OnTimer(int timerId) override;

  // The text of a status (the agent's byte read as signed), or empty to leave the text.
  static QString StatusText(int status);
  QString StatusShown() const;
  int LastStatus() const { return last_status_; }

 private:
  void BuildControls();

  QLabel* status_ = nullptr;
  int last_status_ = -1;
};

extern DialogPointer<CTestPager> pTestPager;
