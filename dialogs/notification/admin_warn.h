// CAdminWarn: "Configure Local Warning". The warnings given on the agent's own computer for
// the selected events: a console message (action 3) and an audio file played (action 4), each
// optional, with the delay before the first warning and how often it is repeated.
#pragma once

#include "dialogs/notification/action_dialog.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class KT_ActionEntry;
class QPushButton;

class CAdminWarn : public ActionDialog {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 3015;
  static constexpr int kHelpContext = 15;
  static constexpr int IDC_VISUAL = 1138;
  static constexpr int IDC_AUDIBLE = 1139;
  static constexpr int IDC_MESSAGE_LABEL = 1140;
  static constexpr int IDC_MESSAGE = 1141;
  static constexpr int IDC_AUDIO_LABEL = 1142;
  static constexpr int IDC_AUDIO_FILE = 1143;
  static constexpr int IDC_DELAY_LABEL = 1145;
  static constexpr int IDC_DELAY_MINUTES = 1146;
  static constexpr int IDC_INTERVAL_SECONDS = 1154;
  static constexpr int IDC_INTERVAL_MINUTES = 1155;
  static constexpr int IDC_BROWSE = 1947;

  explicit CAdminWarn(QWidget* parent = nullptr, const QString& hostName = QString());
  CAdminWarn(QWidget* parent, const QString& selectionLabel, const QString& hostName,
             const QStringList& hostNames);
  ~CAdminWarn() override;

  bool OnInitDialog() override;
  void OnOK() override;
  void GetCurrentConfig();
  void OnVisualMsg();
  void OnAudioMsg();
  void OnButtonBrowse();

  QCheckBox* Visual() const { return visual_; }
  QCheckBox* Audible() const { return audible_; }
  QPlainTextEdit* Message() const { return message_; }
  QLineEdit* AudioFile() const { return audio_file_; }
  QComboBox* DelayMinutes() const { return delay_minutes_; }
  QComboBox* IntervalMinutes() const { return interval_minutes_; }
  QComboBox* IntervalSeconds() const { return interval_seconds_; }
  QLabel* DelayLabel() const { return delay_label_; }

 private:
  void Init();
  void BuildControls();
  void ShowTimes(const KT_ActionEntry& entry);

  QCheckBox* visual_ = nullptr;
  QCheckBox* audible_ = nullptr;
  QLabel* message_label_ = nullptr;
  QPlainTextEdit* message_ = nullptr;
  QLabel* audio_label_ = nullptr;
  QLineEdit* audio_file_ = nullptr;
  QPushButton* browse_ = nullptr;
  QComboBox* delay_minutes_ = nullptr;
  QComboBox* interval_minutes_ = nullptr;
  QComboBox* interval_seconds_ = nullptr;
  QLabel* delay_label_ = nullptr;
};

extern DialogPointer<CAdminWarn> pAdminWarn;
