// ShutdownUpsPage: "UPS Management", the first shutdown-parameter page: the total battery
// time, the wait before the shutdown starts, whether the UPS is turned off afterwards, and the
// waits before the administrator and the users are warned (the delays of the "UPS On Battery"
// warning actions).
#pragma once

#include "dialogs/shutdown/shutdown_page.h"

class QCheckBox;
class QLabel;
class QLineEdit;

inline constexpr int IDD_SHUTDOWN_UPS_PAGE = 224;
inline constexpr int IDC_UPS_TOTAL = 1871;
inline constexpr int IDC_UPS_START = 1877;
inline constexpr int IDC_UPS_TURN_OFF = 1946;
inline constexpr int IDC_UPS_ADMIN = 1876;
inline constexpr int IDC_UPS_USER = 1875;

class ShutdownUpsPage : public ShutdownPage {
  Q_OBJECT

 public:
  static constexpr int kHelpContext = 6;

  explicit ShutdownUpsPage(QWidget* parent = nullptr, const QString& hostName = QString());

  bool OnInitDialog() override;
  QString Check() override;
  // Check, after the warning about a total beyond the rated runtime.
  bool Validate() override;
  bool Apply() override;
  void OnNext() override;
  std::optional<ShutdownPageId> NextPage() const override;

 private:
  void BuildControls();
  bool UpdateAction(int action, int delaySeconds);

  QLineEdit* total_ = nullptr;
  QLineEdit* start_ = nullptr;
  QCheckBox* turn_off_ = nullptr;
  QLineEdit* admin_ = nullptr;
  QLineEdit* user_ = nullptr;
  QList<QWidget*> user_row_;
  bool user_supported_ = false;
  int total_value_ = 0;
  int start_value_ = 0;
  int admin_seconds_ = 0;
  int user_seconds_ = 0;
};
