// CLogEvent: "Log Event". Whether the agent writes the selected events to its own event log
// (action 8) and to the system's application log (action 11).
#pragma once

#include "dialogs/notification/action_dialog.h"

class QCheckBox;
class QPushButton;

class CLogEvent : public ActionDialog {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 3029;
  static constexpr int kHelpContext = 14;
  static constexpr int IDC_CONFIGURE = 1260;
  static constexpr int IDC_EVENT_LOG = 1294;
  static constexpr int IDC_APPLICATION_LOG = 1296;

  explicit CLogEvent(QWidget* parent = nullptr, const QString& hostName = QString());
  CLogEvent(QWidget* parent, const QString& selectionLabel, const QString& hostName,
            const QStringList& hostNames);
  ~CLogEvent() override;

  bool OnInitDialog() override;
  void OnNewData(unsigned status, unsigned block, unsigned branch, unsigned item) override;
  void OnOK() override;
  void GetCurrentConfig();
  void OnConfigure();

  QCheckBox* EventLog() const { return event_log_; }
  QCheckBox* ApplicationLog() const { return application_log_; }

 private:
  void Init();
  void BuildControls();

  QCheckBox* event_log_ = nullptr;
  QCheckBox* application_log_ = nullptr;
  QPushButton* configure_ = nullptr;
};

extern DialogPointer<CLogEvent> pLogEvent;
