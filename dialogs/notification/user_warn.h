// CUserWarn: "User Warning Configuration". Action 2, a message the agent sends to the users of
// its computer, for the selected events: the text, the delay before the first message and how
// often it is repeated.
#pragma once

#include "dialogs/notification/action_dialog.h"

class QComboBox;
class QLabel;
class QPlainTextEdit;

class CUserWarn : public ActionDialog {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 3011;
  static constexpr int kHelpContext = 19;
  static constexpr int IDC_MESSAGE = 1141;
  static constexpr int IDC_DELAY_MINUTES = 1146;
  static constexpr int IDC_DELAY_LABEL = 1145;
  static constexpr int IDC_INTERVAL_MINUTES = 1155;
  static constexpr int IDC_INTERVAL_SECONDS = 1154;

  explicit CUserWarn(QWidget* parent = nullptr, const QString& hostName = QString());
  CUserWarn(QWidget* parent, const QString& selectionLabel, const QString& hostName,
            const QStringList& hostNames);
  ~CUserWarn() override;

  bool OnInitDialog() override;
  void OnOK() override;
  void GetCurrentConfig();

  QPlainTextEdit* Message() const { return message_; }
  QComboBox* DelayMinutes() const { return delay_minutes_; }
  QComboBox* IntervalMinutes() const { return interval_minutes_; }
  QComboBox* IntervalSeconds() const { return interval_seconds_; }
  QLabel* DelayLabel() const { return delay_label_; }

 private:
  void Init();
  void BuildControls();

  QPlainTextEdit* message_ = nullptr;
  QComboBox* delay_minutes_ = nullptr;
  QComboBox* interval_minutes_ = nullptr;
  QComboBox* interval_seconds_ = nullptr;
  QLabel* delay_label_ = nullptr;
};

extern DialogPointer<CUserWarn> pUserWarn;
