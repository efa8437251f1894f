// CAlarmHistory: "View Alarm Queue", the UPS's own alarm queue as the agent read it from the
// UPS, newest first; printed through "alarmque.txt".
#pragma once

#include <QPoint>
#include <QString>

#include "dialogs/frame/kt_dialog.h"

class ReportList;

class CAlarmHistory : public KTDialog {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 3037;
  static constexpr int kHelpContext = 35;
  static constexpr int IDC_ALARM_LIST = 1499;
  static constexpr int IDC_PRINT_ALARMS = 1708;
  static constexpr int kMaxEntries = 1000;
  static constexpr const char* kPrintFileName = "alarmque.txt";

  explicit CAlarmHistory(QWidget* parent = nullptr, const QString& hostName = QString());
  ~CAlarmHistory() override;

  bool OnInitDialog() override;
  void OnNewData(unsigned status, unsigned block, unsigned branch, unsigned item) override;

  // The Print... button: writes the print file, then prints it.
  void OnPrint();
  // Writes "alarmque.txt" anew from the list; false when the file could not be written.
  bool write_text_file();

  // The text of an alarm code; codes without a text of their own read "Unknown alarm (code N)".
  static QString AlarmText(unsigned code);

  ReportList* List() const { return list_; }

 protected:
  void UpdateAlarms();
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void BuildControls();
  void ApplyColumnWidths();

  ReportList* list_ = nullptr;
  QPoint last_release_;
};

extern DialogPointer<CAlarmHistory> pAlarmHistory;
