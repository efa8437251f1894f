// CNetworkMessage: "Network Manager Message". Action 1, the SNMP trap, for the selected
// events: which trap receivers (rows, by slot) get it, the delay before the first trap and the
// time between traps. The receivers themselves are edited in CNetworkManager, which this
// dialog opens and which reloads it after OK (NetworkMessageLink).
#pragma once

#include "dialogs/information/network_message_link.h"
#include "dialogs/notification/action_dialog.h"

class QComboBox;
class QPushButton;
class ReportList;

class CNetworkMessage : public ActionDialog, public NetworkMessageLink {
  Q_OBJECT

 public:
  static constexpr int kTemplateId = 3026;
  static constexpr int IDC_TIME_GROUP = 1144;
  static constexpr int IDC_DELAY_MINUTES = 1146;
  static constexpr int IDC_INTERVAL_SECONDS = 1154;
  static constexpr int IDC_INTERVAL_MINUTES = 1155;
  static constexpr int IDC_DELAY_SECONDS = 1202;
  static constexpr int IDC_CONFIGURE = 1260;
  static constexpr int IDC_MANAGERS = 1284;
  // The recipient offered when an agent on a computer of system type 0 has none.
  static constexpr const char* kDefaultHostName = "nms.lanternharbor.local";
  static constexpr const char* kDefaultCommunity = "lanternharborsky";

  explicit CNetworkMessage(QWidget* parent = nullptr, const QString& hostName = QString());
  CNetworkMessage(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                  const QStringList& hostNames);
  ~CNetworkMessage() override;

  bool OnInitDialog() override;
  void OnNewData(unsigned status, unsigned block, unsigned branch, unsigned item) override;
  void OnOK() override;
  void InitListControl();
  void GetCurrentConfig() override;
  void AddSNMP(const QString& host, const QString& community);
  void OnConfigure();

  ReportList* List() const { return list_; }
  QComboBox* DelayMinutes() const { return delay_minutes_; }
  QComboBox* DelaySeconds() const { return delay_seconds_; }
  QComboBox* IntervalMinutes() const { return interval_minutes_; }
  QComboBox* IntervalSeconds() const { return interval_seconds_; }
  QWidget* TimeGroup() const { return time_group_; }

 private:
  void Init();
  void BuildControls();
  // No receiver is configured and the agent's computer is of system type 0.
  static bool OffersDefaultRecipient();

  ReportList* list_ = nullptr;
  QComboBox* delay_minutes_ = nullptr;
  QComboBox* delay_seconds_ = nullptr;
  QComboBox* interval_minutes_ = nullptr;
  QComboBox* interval_seconds_ = nullptr;
  QWidget* time_group_ = nullptr;
  QPushButton* configure_ = nullptr;
};

// The dialog's pointer in the reply routing; pNetworkMessage (network_message_link.h) points
// to the same dialog while it is open.
extern DialogPointer<CNetworkMessage> pNetworkMessageDialog;
