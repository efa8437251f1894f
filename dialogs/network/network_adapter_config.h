// CNetworkAdapterConfig: points an agent at a UPS network adapter. It finds out whether the
// adapter at the host name answers the network BCM protocol (UDP port 7010) or SNMP, checks
// the adapter's own passwords (the 6-character access code, or the get and set communities),
// and stores the adapter, its passwords, the communication mode (9 network BCM, 8 SNMP) and the
// adapter threads' polling interval and time-out in the agent's configuration (block 4,
// branches 7, 1 and 12). The timing fields show the agent's stored values, asked for at every
// opening (after the agent's UPS information when the console has none yet: the agent's version
// says whether it has them); "Update" and OK send only the values the user changed.
//
// The console talks to the adapter itself, through its own KT_NetBCM and KT_SNMP drivers, one
// exchange at a time on a worker thread (a password check may wait the adapter time-out and
// 40 s more); meanwhile the dialog shows the wait cursor and its buttons are disabled. The
// adapter name may carry a port ("host:port"), which both drivers then use.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <string>

#include "dialogs/frame/kt_dialog.h"
#include "dialogs/network/adapter_exchange.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

inline constexpr int IDD_NETWORK_ADAPTER_CONFIG = 131;
inline constexpr int IDC_NA_GROUP = 1031;
inline constexpr int IDC_NA_HOST_LABEL = 1025;
inline constexpr int IDC_NA_HOST = 1028;
inline constexpr int IDC_NA_GET_LABEL = 1026;
inline constexpr int IDC_NA_GET = 1029;
inline constexpr int IDC_NA_SET_LABEL = 1027;
inline constexpr int IDC_NA_SET = 1030;
inline constexpr int IDC_NA_PASSWORD_LABEL = 1033;
inline constexpr int IDC_NA_PASSWORD = 1032;
inline constexpr int IDC_NA_VERIFY_ADAPTER = 3;
inline constexpr int IDC_NA_VERIFY_PASSWORDS = 1024;
inline constexpr int IDC_NA_ADAPTER_INFO_LABEL = 1035;
inline constexpr int IDC_NA_ADAPTER_INFO = 1034;
inline constexpr int IDC_NA_UPS_INFO_LABEL = 1037;
inline constexpr int IDC_NA_UPS_INFO = 1036;
inline constexpr int IDC_NA_TIMING_GROUP = 2009;
inline constexpr int IDC_NA_POLLING_LABEL = 2006;
inline constexpr int IDC_NA_POLLING = 2002;
inline constexpr int IDC_NA_TIMEOUT_LABEL = 2016;
inline constexpr int IDC_NA_TIMEOUT = 2003;
inline constexpr int IDC_NA_UPDATE = 2017;

// Adapter kinds.
enum AdapterKind : int { ADAPTER_UNKNOWN = 0, ADAPTER_NETBCM = 1, ADAPTER_SNMP = 2 };

// Which protocols "Verify Adapter" may try: 0 both (network BCM first), 2 SNMP only. One value
// for the library.
extern int gnAdapterVerificationMode;

class CNetworkAdapterConfig : public KTDialog {
  Q_OBJECT

 public:
  explicit CNetworkAdapterConfig(QWidget* parent = nullptr, const QString& hostName = QString());
  CNetworkAdapterConfig(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                        const QStringList& hostNames);
  ~CNetworkAdapterConfig() override;

  // Without SNMP and TCP/IP in gScp a dialog shows "Your agent can't talk to network adapters
  // ...", makes no window and deletes itself (the pointer is cleared at once).
  bool Refused() const { return refused_; }

  bool OnInitDialog() override;
  void OnNewData(unsigned status, unsigned block, unsigned branch, unsigned item) override;
  void OnOK() override;
  void OnConfigBlock(unsigned branch);

  void ResetDialog();
  // -1 (with its box, unless the adapter kind is still unknown) or 0.
  int ValidateData();
  void OnTestHostname();
  void OnButtonVerify();
  // False after the time-out box: the time-out must be greater than the polling interval.
  bool OnButtonUpdate();

  int AdapterKind() const { return kind_; }
  bool PasswordsVerified() const { return verified_; }
  bool ExchangeRunning() const { return exchange_.Running(); }
  // The agent's stored timing values are in the fields.
  bool TimingRead() const { return timing_read_; }

  // Milliseconds that stand for one second in the network BCM drivers' waits (1000; tests
  // shorten it).
  static void SetNetBcmSecondLength(int ms);

 private:
  struct NetBcmResult {
    int found = 0;
    std::string upsText;
    std::string adapterText;
    int upsState = -1;
  };
  struct PasswordResult {
    int code = 0;  // 1 correct, -4 on battery, else the check's answer
    int upsState = -1;
  };

  void Construct();
  void BuildControls();
  void UpdateData(bool fromControls);
  void ShowControls(std::initializer_list<int> ids, bool show);
  void ShowTiming();
  int SoftwareMajor() const;
  // Asks for the stored timing of an agent that has it: at once when its version is known, else
  // its UPS information first (see FollowVersion). 1 when a reply is awaited for it, else 0.
  int AskTiming();
  // After the adapter settings' reply, which comes after the UPS information asked with it:
  // the timing is asked for, or not awaited, or the version asked again.
  void FollowVersion();
  // Both drivers' target: the host name without a port, and the port (0: the protocol's own).
  std::string TargetHost() const;
  int TargetPort() const;

  // The exchanges.
  void VerifyViaSnmp(const QString& getCommunity, std::function<void(std::optional<std::string>)> done);
  void VerifyViaNetBcm(std::function<void(NetBcmResult)> done);
  void CheckSnmpPasswords(std::function<void(bool)> done);
  void CheckNetBcmPassword(std::function<void(bool)> done);

  // Steps of "Verify Adapter" and "Verify Password(s)".
  void AfterNetBcm(const NetBcmResult& r);
  void TrySnmp(int attempt);
  void AdapterAnswered(bool netbcm);
  void AdapterSilent();
  void PasswordsChecked(bool ok);
  void FinishSnmpVerify(const std::optional<std::string>& ups);
  void PasswordOutcome(bool ok);

  QLineEdit* host_edit_ = nullptr;
  QLineEdit* get_edit_ = nullptr;
  QLineEdit* set_edit_ = nullptr;
  QLineEdit* password_edit_ = nullptr;
  QLineEdit* adapter_info_edit_ = nullptr;
  QLineEdit* ups_info_edit_ = nullptr;
  QSpinBox* polling_spin_ = nullptr;
  QSpinBox* timeout_spin_ = nullptr;
  QPushButton* verify_adapter_ = nullptr;
  QPushButton* verify_passwords_ = nullptr;
  QPushButton* ok_button_ = nullptr;

  QString host_;
  QString get_community_;
  QString set_community_;
  QString ups_info_;
  QString adapter_info_;
  QString password_;
  int polling_ = 3;
  int timeout_ = 120;
  // What the timing fields were given (the agent's values once read, else the defaults): a
  // value still equal to it is not the user's and is never sent.
  int shown_polling_ = 3;
  int shown_timeout_ = 120;
  bool timing_read_ = false;
  bool awaiting_version_ = false;
  int version_asks_ = 0;
  int kind_ = ADAPTER_UNKNOWN;
  bool verified_ = false;
  int ups_state_ = -1;
  bool refused_ = false;
  QString entered_get_;  // the get community "Verify Adapter" started with
  AdapterExchange exchange_;
};

extern DialogPointer<CNetworkAdapterConfig> pNetworkAdapterConfig;
