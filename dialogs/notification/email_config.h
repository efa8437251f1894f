// CEMailConfig: "Configure E-mail Recipients". The two mail recipients of the notification
// block. Agents on the systems that log on to their mail system with an account (application
// types 3, 11, 17, 18) take an account text of user name, domain and password for the first
// recipient; the others take a mail address per recipient. OK sends the recipients to the
// agent at once.
#pragma once

#include <QString>

#include "dialogs/notification/action_dialog.h"

class QLabel;
class QLineEdit;

class CEMailConfig : public ActionDialog {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 3017;
  static constexpr int kHelpContext = 20;
  static constexpr int IDC_PASSWORD_LABEL = 1104;
  static constexpr int IDC_PASSWORD = 1105;
  static constexpr int IDC_NAME1 = 1188;
  static constexpr int IDC_ADDRESS1_LABEL = 1189;
  static constexpr int IDC_ADDRESS1 = 1190;
  static constexpr int IDC_NAME2 = 1191;
  static constexpr int IDC_ADDRESS2_LABEL = 1192;
  static constexpr int IDC_ADDRESS2 = 1193;
  static constexpr int IDC_USER_LABEL = 2019;
  static constexpr int IDC_DOMAIN = 2025;
  static constexpr int IDC_DOMAIN_LABEL = 2026;

  explicit CEMailConfig(QWidget* parent = nullptr, const QString& hostName = QString());
  CEMailConfig(QWidget* parent, const QString& selectionLabel, const QString& hostName,
               const QStringList& hostNames);
  ~CEMailConfig() override;

  bool OnInitDialog() override;
  void OnNewData(unsigned status, unsigned block, unsigned branch, unsigned item) override;
  void OnOK() override;
  void GetCurrentConfig();

  // Application types whose first recipient is an account.
  static bool IsAccountType(int applicationType);
  // The account the console runs under: the effective user's login name, and the host name up
  // to its first ".".
  static QString CurrentUserName();
  static QString CurrentDomain();
  bool AccountMode() const { return IsAccountType(application_type_); }

 private:
  void Init();
  void BuildControls();
  void TakeApplicationType();
  void EnableForOpening();
  void EnableForMode();
  void ShowModeLabels();

  QLineEdit* name1_ = nullptr;
  QLineEdit* name2_ = nullptr;
  QLineEdit* address1_ = nullptr;
  QLineEdit* address2_ = nullptr;
  QLineEdit* domain_ = nullptr;
  QLineEdit* password_ = nullptr;
  QLabel* address1_label_ = nullptr;
  QLabel* user_label_ = nullptr;
  QLabel* address2_label_ = nullptr;
  QLabel* domain_label_ = nullptr;
  QLabel* password_label_ = nullptr;
  int application_type_ = 0;
  bool beside_email_ = false;
  QString user_name_;
  QString domain_name_;
};

extern DialogPointer<CEMailConfig> pEMailConfig;
