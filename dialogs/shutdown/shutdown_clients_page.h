// ShutdownClientsPage: "Network Clients", offered when the agent can act as network master:
// the client computers it tells to shut down when its UPS goes on battery (configuration
// branch 9), each with its agent's password, the wait before its shutdown starts and before it
// warns its users. The clients are chosen among the agents a search found; the search covers
// gClientDiscovery's subnets, kept in "cfsubnet.dat" and edited through CDiscoverc.
#pragma once

#include "core/network/net_client_list.h"
#include "dialogs/discovery/subnet_owner.h"
#include "dialogs/shutdown/shutdown_page.h"

class QComboBox;
class QLineEdit;

inline constexpr int IDD_SHUTDOWN_CLIENTS_PAGE = 228;
inline constexpr int IDC_CLIENTS_CLIENT = 1917;
inline constexpr int IDC_CLIENTS_PASSWORD = 1920;
inline constexpr int IDC_CLIENTS_SHUTDOWN = 1928;
inline constexpr int IDC_CLIENTS_WARNING = 1925;
inline constexpr int IDC_CLIENTS_ADD = 1181;
inline constexpr int IDC_CLIENTS_DELETE = 1183;
inline constexpr int IDC_CLIENTS_DISCOVER = 2036;

class ShutdownClientsPage : public ShutdownPage, public SubnetListOwner {
  Q_OBJECT

 public:
  static constexpr int kHelpContext = 9;

  explicit ShutdownClientsPage(QWidget* parent = nullptr, const QString& hostName = QString());

  bool OnInitDialog() override;
  QString Check() override;
  // Adds the chosen client to branch 9 (replacing a listed one of that address).
  bool Apply() override;
  void OnOK() override;
  void OnBack() override;
  void OnAdd();
  void OnDelete();
  void OnDiscover();
  void GetHosts();

  // SubnetListOwner.
  KT_Discover& SubnetDiscovery() override;
  void Rediscover() override { GetHosts(); }
  bool OwnerIsOpen() const override { return WindowExists(); }

  KT_NetClientList& Found() { return found_; }
  QComboBox* Clients() const { return clients_; }

 protected:
  bool event(QEvent* event) override;

 private:
  void BuildControls();

  QComboBox* clients_ = nullptr;
  QLineEdit* password_ = nullptr;
  QLineEdit* shutdown_ = nullptr;
  QLineEdit* warning_ = nullptr;
  KT_NetClientList found_;
  int shut_delay_ = 0;
  int warn_delay_ = 0;
};
