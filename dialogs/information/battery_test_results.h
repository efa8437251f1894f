// CBatteryTestResults: "View Diagnostic Results", the agent's battery test results (its battery
// log, block 7), newest first. Opened on its own for one host, or from the battery test dialog
// with that dialog's host selection.
#pragma once

#include <QString>
#include <QStringList>

#include "dialogs/frame/kt_dialog.h"

class ReportList;

class CBatteryTestResults : public KTDialog {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 3042;
  static constexpr int kHelpContext = 34;
  static constexpr int IDC_RESULT_LIST = 1127;
  // Results listed at most.
  static constexpr int kMaxResults = 1000;

  explicit CBatteryTestResults(QWidget* parent = nullptr, const QString& hostName = QString());
  CBatteryTestResults(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                      const QStringList& hostNames);
  ~CBatteryTestResults() override;

  bool OnInitDialog() override;
  void OnNewData(unsigned status, unsigned block, unsigned branch, unsigned item) override;

  // Refills the list from gScp's battery log.
  void UpdateResults();

  ReportList* List() const { return list_; }

  // The text of a result code ("Passed", "Failed", ...).
  static QString ResultText(unsigned resultCode);
  // A record time as ctime writes it, without the line feed ("Wed Dec  9 03:04:07 2026").
  static QString CtimeText(uint32_t seconds);

 private:
  void BuildControls();
  void ApplyColumnWidths();

  ReportList* list_ = nullptr;
};

extern DialogPointer<CBatteryTestResults> pBatteryTestResults;
