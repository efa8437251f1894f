// CNetworkConfiguration: the client agents that an agent acting as network master shuts down
// before it turns its UPS off (configuration branch 10, the scheduled-shutdown clients).
//
// The user picks a client among the agents a discovery search found, gives its password and
// two lead times in minutes and adds it; Delete removes configured clients. Edits change the
// console's image of branch 10 at once; OK sends the branch (4, 10, 0) and saves the searched
// subnets in "cfsubnet.dat". The search covers the subnets of the dialog's own discovery
// object, edited through CDiscoverc ("Discover"), and IPX too unless the agent's software or
// operating system rules IPX out (a Linux agent always does).
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

#include "core/discovery/discover.h"
#include "core/network/net_client_list.h"
#include "dialogs/discovery/subnet_owner.h"
#include "dialogs/frame/kt_dialog.h"

class QComboBox;
class QLineEdit;
class QTreeWidget;

inline constexpr int IDD_NETWORK_CONFIGURATION = 3013;
inline constexpr int IDC_NC_CLIENT = 1753;
inline constexpr int IDC_NC_DISCOVER = 2036;
inline constexpr int IDC_NC_PASSWORD = 1105;
inline constexpr int IDC_NC_WARNING = 1111;
inline constexpr int IDC_NC_CLIENT_SHUTDOWN = 1755;
inline constexpr int IDC_NC_LIST = 1746;
inline constexpr int IDC_NC_ADD = 1181;
inline constexpr int IDC_NC_DELETE = 1183;

class CNetworkConfiguration : public KTDialog, public SubnetListOwner {
  Q_OBJECT

 public:
  static constexpr int kHelpContext = 27;
  static constexpr const char* kRemoteServerSuffix = " - (Remote Server)";

  explicit CNetworkConfiguration(QWidget* parent = nullptr, const QString& hostName = QString());
  CNetworkConfiguration(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                        const QStringList& hostNames);
  ~CNetworkConfiguration() override;

  bool OnInitDialog() override;
  void OnNewData(unsigned status, unsigned block, unsigned branch, unsigned item) override;
  void OnOK() override;

  // SubnetListOwner.
  KT_Discover& SubnetDiscovery() override { return discover_; }
  void Rediscover() override;
  bool OwnerIsOpen() const override { return WindowExists(); }

  // Whether a search also asks IPX, from the agent's UPS information (software version and
  // operating-system type).
  static bool SearchesIpx(int softwareSecond, int softwareThird, int osType);
  // The text shown for a client: its host name, with the remote-server suffix for IPX.
  static QString ShownText(KT_Address& address);

  // The defaults SetDefaults gives: the warning minutes from the agent's shutdown start delay
  // (0xFFFF: not set, the agent's default of 5), the client shutdown minutes from the minutes
  // until the scheduled shutdown. Both stay within 0..254.
  static uint8_t WarningDefault(uint16_t startDelay);
  static uint8_t ClientShutdownDefault(uint8_t minutesToShutdown);

  void GetHosts();
  void OnAdd();
  void OnDelete();
  void OnDiscover();
  void OnConfigBlock();
  void OnSchedShutdown();
  void SetDefaults(int which);
  int ReadFileFromDisk();
  int WriteFileToDisk();

  KT_NetClientList& Discovered() { return discovered_; }
  uint8_t MinutesToShutdown() const { return minutes_to_shutdown_; }
  // Searches started (tests count rediscoveries).
  int SearchCount() const { return search_count_; }

 protected:
  bool event(QEvent* event) override;

 private:
  void BuildControls();
  bool UpdateData(bool fromControls);
  int AddItemToList(int row, int column, const QString& text);
  static QString WithoutSuffix(const QString& text);

  QComboBox* combo_ = nullptr;
  QTreeWidget* list_ = nullptr;
  QLineEdit* password_edit_ = nullptr;
  QLineEdit* warning_edit_ = nullptr;
  QLineEdit* client_shutdown_edit_ = nullptr;

  QString password_;
  uint8_t warning_ = 0;
  QString client_;
  uint8_t client_shutdown_ = 0;
  KT_NetClientList discovered_;
  uint8_t minutes_to_shutdown_ = 255;
  uint16_t start_delay_ = 0;
  KT_Discover discover_;
  int search_count_ = 0;
};

extern DialogPointer<CNetworkConfiguration> pNetworkConfiguration;
