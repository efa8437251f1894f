// CUpsConfiguration: "Configure UPS Options". Shows the UPS's make and model and sets the two
// options the agent passes on to the UPS: the low-battery warning time and the audible alarm.
#pragma once

#include <QString>
#include <QStringList>

#include "dialogs/frame/kt_dialog.h"

class QButtonGroup;
class QLabel;

class CUpsConfiguration : public KTDialog {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 3012;
  static constexpr int kHelpContext = 24;
  static constexpr int IDC_MODEL_LABEL = 1064;
  static constexpr int IDC_MODEL = 1065;
  static constexpr int IDC_ALARM_ON = 1071;
  static constexpr int IDC_ALARM_OFF = 1072;
  static constexpr int IDC_WARN_2 = 1747;
  static constexpr int IDC_WARN_5 = 1748;

  explicit CUpsConfiguration(QWidget* parent = nullptr, const QString& hostName = QString());
  CUpsConfiguration(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                    const QStringList& hostNames);
  ~CUpsConfiguration() override;

  bool OnInitDialog() override;
  void OnNewData(unsigned status, unsigned block, unsigned branch, unsigned item) override;
  void OnOK() override;

  // Radio indexes: audible 0 on, 1 off; warning 0 two minutes, 1 five; -1 none.
  int AudibleChoice() const { return audible_; }
  int WarningChoice() const { return warning_; }
  // Whether the agent's configuration reply left a setting unknown (the UPS does not report
  // it, nor take it): such a setting shows "Unknown", its buttons are disabled with a note
  // that says why, and OK leaves it out.
  bool AudibleUnknown() const { return audible_unknown_; }
  bool WarningUnknown() const { return warning_unknown_; }

 protected:
  void OnInfoBlock();
  void OnConfigBlock();
  // 1 when each setting is chosen or known to be unknown; else a message box and 0.
  int VerifyData();

 private:
  void Init();
  void BuildControls();
  void UpdateData(bool save);

  QLabel* model_ = nullptr;
  QButtonGroup* audible_group_ = nullptr;
  QButtonGroup* warning_group_ = nullptr;
  QLabel* audible_unknown_label_ = nullptr;
  QLabel* warning_unknown_label_ = nullptr;
  QLabel* unknown_note_ = nullptr;
  int audible_ = -1;
  int warning_ = -1;
  bool audible_unknown_ = false;
  bool warning_unknown_ = false;
  QString model_text_;
};

extern DialogPointer<CUpsConfiguration> pUpsConfiguration;
