// CNetworkManager: "Configure Network Alarm Recipients". The network managers the agent sends
// its SNMP traps to (host name and community, at most 8, the trap receivers of the
// notification block), and which kinds of network manager the UPS's agent supports.
#pragma once

#include <QString>
#include <QStringList>

#include "dialogs/frame/kt_dialog.h"

class QComboBox;
class QLineEdit;
class ReportList;

class CNetworkManager : public KTDialog {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 3016;
  static constexpr int kHelpContext = 22;
  static constexpr int IDC_TYPE_LABEL = 1169;
  static constexpr int IDC_TYPE = 1170;
  static constexpr int IDC_PARAMETERS = 1171;
  static constexpr int IDC_HOST_LABEL = 1172;
  static constexpr int IDC_HOST = 1175;
  static constexpr int IDC_COMMUNITY_LABEL = 1176;
  static constexpr int IDC_COMMUNITY = 1177;
  static constexpr int IDC_MANAGERS = 1178;
  static constexpr int IDC_ADD = 1181;
  static constexpr int IDC_DELETE = 1183;

  explicit CNetworkManager(QWidget* parent = nullptr, const QString& hostName = QString());
  CNetworkManager(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                  const QStringList& hostNames);
  ~CNetworkManager() override;

  bool OnInitDialog() override;
  void OnNewData(unsigned status, unsigned block, unsigned branch, unsigned item) override;
  void OnOK() override;

  void OnAdd();
  void OnDelete();
  // Adds a row unless the pair is listed (compared without regard to case).
  void AddSNMP(const QString& host, const QString& community);

  ReportList* List() const { return list_; }
  QComboBox* Types() const { return types_; }

 protected:
  void UpdateInfo();

 private:
  void Init();
  void BuildControls();

  ReportList* list_ = nullptr;
  QComboBox* types_ = nullptr;
  QLineEdit* host_ = nullptr;
  QLineEdit* community_ = nullptr;
  int selected_type_ = -1;
};

extern DialogPointer<CNetworkManager> pNetworkManager;
