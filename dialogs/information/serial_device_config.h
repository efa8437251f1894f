// CSerialDeviceConfig: "Configure Serial Device". Which serial port of the agent's host the
// UPS is attached to, the port's role (local UPS, server or client of a shared UPS) and
// whether the agent skips its serial loopback (cable) test.
#pragma once

#include <QString>
#include <QStringList>

#include "dialogs/frame/kt_dialog.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QRadioButton;

class CSerialDeviceConfig : public KTDialog {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 3022;
  static constexpr int kHelpContext = 3;
  static constexpr int IDC_SERVER = 1101;
  static constexpr int IDC_CLIENT = 1102;
  static constexpr int IDC_LOCAL = 1103;
  static constexpr int IDC_DEVICE_LABEL = 1257;
  static constexpr int IDC_DEVICE_NAME = 1258;
  static constexpr int IDC_NO_LOOPBACK = 2020;
  // Roles (radio index and the communication mode sent).
  static constexpr int kRoleLocal = 0;
  static constexpr int kRoleServer = 1;
  static constexpr int kRoleClient = 2;

  explicit CSerialDeviceConfig(QWidget* parent = nullptr, const QString& hostName = QString());
  CSerialDeviceConfig(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                      const QStringList& hostNames);
  ~CSerialDeviceConfig() override;

  bool OnInitDialog() override;
  void OnNewData(unsigned status, unsigned block, unsigned branch, unsigned item) override;
  void OnOK() override;

  // The server and client buttons: the hardware warning.
  void OnMasterPortSelected();
  void OnClientPortSelected();

  int Role() const { return role_; }
  int OsType() const { return os_type_; }

 protected:
  void OnConfigBlock();
  void UpdateInfo(int kind);
  void UpdateSerialPorts();

 private:
  void Init();
  void BuildControls();
  void UpdateData(bool save);
  void ShowHardwareWarning();

  QButtonGroup* roles_ = nullptr;
  QComboBox* device_ = nullptr;
  QCheckBox* no_loopback_ = nullptr;
  int role_ = -1;
  int os_type_ = -1;
  QString device_name_;
};

extern DialogPointer<CSerialDeviceConfig> pSerialDeviceConfig;
