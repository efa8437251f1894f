// CBatteryInfo: "View Battery Information", the battery statistics the agent keeps (outages,
// time on battery, low-battery warnings) and the date the battery was replaced, which the
// user may edit; Reset starts the statistics afresh on the agent. Until the agent's statistics
// arrive the rows show their labels only.
#pragma once

#include <QString>
#include <cstdint>

#include "dialogs/frame/kt_dialog.h"

class QLineEdit;
class ReportList;

class CBatteryInfo : public KTDialog {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 3030;
  static constexpr int kHelpContext = 29;
  static constexpr int IDC_RESET = 1655;
  static constexpr int IDC_REPLACED_DATE = 1659;
  static constexpr int IDC_STATISTICS = 1661;

  explicit CBatteryInfo(QWidget* parent = nullptr, const QString& hostName = QString());
  ~CBatteryInfo() override;

  bool OnInitDialog() override;
  void OnNewData(unsigned status, unsigned block, unsigned branch, unsigned item) override;
  void OnOK() override;
  // The Reset button.
  void OnReset();

  // "%d seconds", "%d minute(s) and %d seconds" or "%d hour(s) and %d minute(s) and %d seconds".
  static QString DurationText(uint32_t seconds);
  // The reset time: month/day/year and time of day.
  static QString ResetTimeText(int64_t seconds);

  ReportList* List() const { return list_; }

 protected:
  void UpdateDialog();

 private:
  void BuildControls();
  void UpdateData(bool save);

  ReportList* list_ = nullptr;
  QLineEdit* date_edit_ = nullptr;
  QString replaced_date_;
};

extern DialogPointer<CBatteryInfo> pBatteryInfo;
