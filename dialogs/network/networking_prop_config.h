// CNetworkingPropConfig: the console's networking properties, its polling interval and the
// time-out after which it treats an agent as no longer answering (net_settings.h). The dialog
// fills itself from "cfgnet.dat"; OK puts the values in force in this process and rewrites the
// file. It sends nothing to any agent.
#pragma once

#include <QString>
#include <QStringList>

#include "dialogs/frame/kt_dialog.h"

class QGroupBox;
class QSpinBox;

inline constexpr int IDD_NETWORKING_PROP = 237;
inline constexpr int IDC_NP_POLLING = 1985;
inline constexpr int IDC_NP_TIMEOUT = 1986;
inline constexpr int IDC_NP_POLLING_SPIN = 1998;
inline constexpr int IDC_NP_TIMEOUT_SPIN = 1999;
inline constexpr int IDC_NP_PRODUCT = 2000;

class CNetworkingPropConfig : public KTDialog {
  Q_OBJECT

 public:
  explicit CNetworkingPropConfig(QWidget* parent = nullptr, const QString& hostName = QString());
  CNetworkingPropConfig(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                        const QStringList& hostNames);
  ~CNetworkingPropConfig() override;

  bool OnInitDialog() override;
  void OnOK() override;
  // The template's Help button does nothing here.
  void OnHelp() override {}

  // Fills the members from "cfgnet.dat" (from the values in force when it cannot be read): 1
  // read, 0 not.
  int ReadFileFromDisk();
  // Rewrites "cfgnet.dat": 1, or 0 after "Unable to open file for writing!".
  int WriteFileToDisk();

  int PollingInterval() const { return polling_; }
  int Timeout() const { return timeout_; }

 private:
  void BuildControls();

  QGroupBox* group_ = nullptr;
  QSpinBox* polling_spin_ = nullptr;
  QSpinBox* timeout_spin_ = nullptr;
  int polling_ = 0;
  int timeout_ = 0;
};

extern DialogPointer<CNetworkingPropConfig> pNetworkingPropConfig;
