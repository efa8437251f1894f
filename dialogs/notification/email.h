// CEMail: "Configure E-mail". Action 6, a mail the agent sends, for the selected events: which
// of the two mail recipients get it, its text and the delay before it is sent.
#pragma once

#include "dialogs/notification/action_dialog.h"

class QComboBox;
class QListWidget;
class QPlainTextEdit;

class CEMail : public ActionDialog {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 3018;
  static constexpr int kHelpContext = 13;
  static constexpr int IDC_MESSAGE = 1199;
  static constexpr int IDC_DELAY_MINUTES = 1146;
  static constexpr int IDC_DELAY_SECONDS = 1202;
  static constexpr int IDC_CONFIGURE = 1204;
  static constexpr int IDC_RECIPIENTS = 1706;

  explicit CEMail(QWidget* parent = nullptr, const QString& hostName = QString());
  CEMail(QWidget* parent, const QString& selectionLabel, const QString& hostName,
         const QStringList& hostNames);
  ~CEMail() override;

  bool OnInitDialog() override;
  void OnOK() override;
  void GetCurrentConfig();
  void OnEmailConfig();

  QListWidget* Recipients() const { return recipients_; }
  QPlainTextEdit* Message() const { return message_; }
  QComboBox* DelayMinutes() const { return delay_minutes_; }
  QComboBox* DelaySeconds() const { return delay_seconds_; }

 private:
  void Init();
  void BuildControls();

  QListWidget* recipients_ = nullptr;
  QPlainTextEdit* message_ = nullptr;
  QComboBox* delay_minutes_ = nullptr;
  QComboBox* delay_seconds_ = nullptr;
};

extern DialogPointer<CEMail> pEMail;
