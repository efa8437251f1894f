// CRemoteMessage: "Configure Remote Message". Action 12 for the selected events: the agent
// sends a message to another host's agent, after a delay and then at an interval. The target
// is typed or chosen among the agents a search of the dialog's own subnets found (kept in
// "cfsubnet.dat", edited through CDiscoverc); a host reached by IPX is listed, and stored,
// with " - (Remote Server)" behind its name, from which the agent knows to use IPX.
#pragma once

#include "core/discovery/discover.h"
#include "core/network/net_client_list.h"
#include "dialogs/discovery/subnet_owner.h"
#include "dialogs/notification/action_dialog.h"

class QComboBox;
class QPlainTextEdit;

class CRemoteMessage : public ActionDialog, public SubnetListOwner {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 3047;
  static constexpr int IDC_TARGET = 1959;
  static constexpr int IDC_DISCOVER = 2036;
  static constexpr int IDC_MESSAGE = 1141;
  static constexpr int IDC_DELAY_MINUTES = 1960;
  static constexpr int IDC_INTERVAL_MINUTES = 1961;
  static constexpr int IDC_INTERVAL_SECONDS = 1962;

  explicit CRemoteMessage(QWidget* parent = nullptr, const QString& hostName = QString());
  CRemoteMessage(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                 const QStringList& hostNames);
  ~CRemoteMessage() override;

  bool OnInitDialog() override;
  void OnOK() override;
  void GetCurrentConfig();
  void GetHosts();
  void OnDiscover();
  int ReadFileFromDisk();
  int WriteFileToDisk();

  // SubnetListOwner.
  KT_Discover& SubnetDiscovery() override { return discover_; }
  void Rediscover() override { GetHosts(); }
  bool OwnerIsOpen() const override { return WindowExists(); }

  KT_NetClientList& Found() { return found_; }
  QComboBox* Target() const { return target_; }
  QPlainTextEdit* Message() const { return message_; }

 protected:
  bool event(QEvent* event) override;

 private:
  void Init();
  void BuildControls();

  QComboBox* target_ = nullptr;
  QPlainTextEdit* message_ = nullptr;
  QComboBox* delay_minutes_ = nullptr;
  QComboBox* interval_minutes_ = nullptr;
  QComboBox* interval_seconds_ = nullptr;
  KT_Discover discover_;
  KT_NetClientList found_;
};

extern DialogPointer<CRemoteMessage> pRemoteMessage;
