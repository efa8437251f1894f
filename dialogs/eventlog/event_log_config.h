// CEventLogConfig: "Configure Event Log". The file the agent keeps its event log in and the
// most entries it holds (branch 5 of the configuration block). The agent keeps a log only
// under a plain file name in its own folder, so a path or a name it would not use is refused
// here rather than silently replaced by the agent's default.
#pragma once

#include <QString>

#include "dialogs/frame/kt_dialog.h"

class QLineEdit;

class CEventLogConfig : public KTDialog {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 3023;
  static constexpr int kHelpContext = 23;
  static constexpr int IDC_MAX_ENTRIES = 1701;
  static constexpr int IDC_BROWSE = 1702;
  static constexpr int IDC_FILE_NAME = 1264;
  static constexpr int kMinEntries = 10;
  static constexpr int kMaxEntries = 100;

  explicit CEventLogConfig(QWidget* parent = nullptr, const QString& hostName = QString());
  CEventLogConfig(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                  const QStringList& hostNames);
  ~CEventLogConfig() override;

  bool OnInitDialog() override;
  void OnNewData(unsigned status, unsigned block, unsigned branch, unsigned item) override;
  void OnOK() override;
  void OnConfigBlock();
  void OnBrowse();
  bool VerifyData();

  // The message for a log file name the agent would not keep (also the battery test's).
  static QString PlainNameMessage();

  QLineEdit* FileName() const { return file_name_edit_; }
  QLineEdit* MaxEntries() const { return max_entries_edit_; }

 private:
  void Init();
  void BuildControls();

  QLineEdit* file_name_edit_ = nullptr;
  QLineEdit* max_entries_edit_ = nullptr;
};

extern DialogPointer<CEventLogConfig> pEventLogConfig;
