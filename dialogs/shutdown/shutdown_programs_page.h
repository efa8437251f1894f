// ShutdownProgramsPage: "Software Programs", the second shutdown-parameter page: how long the
// operating system takes to shut down, and what runs before it (the file saver on the local
// computer, a pre-shutdown command, also on a low-battery shutdown).
#pragma once

#include "dialogs/shutdown/shutdown_page.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

inline constexpr int IDD_SHUTDOWN_PROGRAMS_PAGE = 225;
inline constexpr int IDC_PROG_OS_TIME = 1891;
inline constexpr int IDC_PROG_FILE_SAVER = 1903;
inline constexpr int IDC_PROG_FILE_SAVER_TEXT = 1968;
inline constexpr int IDC_PROG_SETUP_SAVER = 1894;
inline constexpr int IDC_PROG_RUN_COMMAND = 1905;
inline constexpr int IDC_PROG_LOW_BATTERY = 1904;
inline constexpr int IDC_PROG_COMMAND_LABEL = 1900;
inline constexpr int IDC_PROG_COMMAND = 1898;
inline constexpr int IDC_PROG_BROWSE = 1267;

class ShutdownProgramsPage : public ShutdownPage {
  Q_OBJECT

 public:
  static constexpr int kHelpContext = 7;

  explicit ShutdownProgramsPage(QWidget* parent = nullptr, const QString& hostName = QString());

  bool OnInitDialog() override;
  QString Check() override;
  bool Apply() override;
  void OnNext() override;
  std::optional<ShutdownPageId> NextPage() const override;
  void OnBack() override;
  void OnBrowse();
  // "Setup File Saver...": raises the open File Saver dialog or opens one.
  void OnSetupFileSaver();
  // Shows the file saver button and the command field as their check boxes say.
  void UpdateVisibility();

 private:
  void BuildControls();

  QLineEdit* os_time_ = nullptr;
  QCheckBox* file_saver_ = nullptr;
  QLabel* file_saver_text_ = nullptr;
  QPushButton* setup_saver_ = nullptr;
  QCheckBox* run_command_ = nullptr;
  QCheckBox* low_battery_ = nullptr;
  QLabel* command_label_ = nullptr;
  QLineEdit* command_ = nullptr;
  QPushButton* browse_ = nullptr;
  bool local_ = false;
  bool saver_offered_ = true;
  int os_seconds_ = 0;
};
