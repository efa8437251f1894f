// DelayShutdownDlg: "Delay Scheduled Shutdown", the modal question of the scheduled-shutdown
// dialog by how many minutes (5 .. 60, in steps of 5) the selected entry is postponed.
#pragma once

#include "dialogs/frame/kt_dialog.h"

class QComboBox;

inline constexpr int IDD_DELAY_SHUTDOWN = 3033;
inline constexpr int IDC_DELAY_MINUTES = 1146;

class DelayShutdownDlg : public KTDialog {
  Q_OBJECT

 public:
  explicit DelayShutdownDlg(QWidget* parent = nullptr, const QString& hostName = QString());

  bool OnInitDialog() override;
  void OnOK() override;

  // The chosen postponement in seconds (set by OK).
  int DelaySeconds() const { return delay_seconds_; }

 private:
  QComboBox* minutes_ = nullptr;
  int delay_seconds_ = 300;
};
