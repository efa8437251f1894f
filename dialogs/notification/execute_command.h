// CExecuteCommand: "Configure Execute Command". Action 7, a program the agent runs, for the
// selected events: the program's complete path (with its arguments) and the time the agent
// waits before running it.
#pragma once

#include "dialogs/notification/action_dialog.h"

class QComboBox;
class QLineEdit;

class CExecuteCommand : public ActionDialog {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 3028;
  static constexpr int kHelpContext = 17;
  static constexpr int IDC_DELAY_MINUTES = 1146;
  static constexpr int IDC_DELAY_SECONDS = 1202;
  static constexpr int IDC_BROWSE = 1267;
  static constexpr int IDC_COMMAND = 1300;

  explicit CExecuteCommand(QWidget* parent = nullptr, const QString& hostName = QString());
  CExecuteCommand(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                  const QStringList& hostNames);
  ~CExecuteCommand() override;

  bool OnInitDialog() override;
  void OnNewData(unsigned status, unsigned block, unsigned branch, unsigned item) override;
  void OnOK() override;
  void GetCurrentConfig();
  void OnBrowse();

  QLineEdit* Command() const { return command_; }
  QComboBox* DelayMinutes() const { return delay_minutes_; }
  QComboBox* DelaySeconds() const { return delay_seconds_; }

 private:
  void Init();
  void BuildControls();

  QLineEdit* command_ = nullptr;
  QComboBox* delay_minutes_ = nullptr;
  QComboBox* delay_seconds_ = nullptr;
};

extern DialogPointer<CExecuteCommand> pExecuteCommand;
