// CManageAdapter: controls one SNMP UPS network adapter of the host table (an address of type
// 3) directly from the console: the UPS off after 61 s or on after 5 s through the adapter's
// delayed-control objects, aborting a pending off, restarting the adapter's SNMP agent, the
// battery test and its result, and the adapter's contact text and the communities under which
// the console reaches it. Everything goes through the dialog's own SNMP client; nothing passes
// through an agent.
//
// The communities are checked (a write test on the adapter) before UPS Off, UPS On and Run
// Test; the result is kept until a community changes. Both the flag and the result belong to
// the dialog, so every Manage Adapter sets up its own client.
#pragma once

#include <QString>
#include <QStringList>

#include "core/adapters/snmp.h"
#include "dialogs/frame/kt_dialog.h"

class QLineEdit;
class QPushButton;

inline constexpr int IDD_MANAGE_ADAPTER = 122;
inline constexpr int IDC_MA_NAME = 1011;
inline constexpr int IDC_MA_GET = 1010;
inline constexpr int IDC_MA_SET = 1009;
inline constexpr int IDC_MA_CONTACT = 1014;
inline constexpr int IDC_MA_PENDING_OFF = 1001;
inline constexpr int IDC_MA_PENDING_ON = 1002;
inline constexpr int IDC_MA_UPS_OFF = 1051;
inline constexpr int IDC_MA_UPS_ON = 1052;
inline constexpr int IDC_MA_RESTART_AGENT = 1035;
inline constexpr int IDC_MA_ABORT = 1032;
inline constexpr int IDC_MA_TEST_RESULTS = 1953;
inline constexpr int IDC_MA_RUN_TEST = 1954;
inline constexpr int IDC_MA_OK = 1012;

class CManageAdapter : public KTDialog {
  Q_OBJECT

 public:
  static constexpr int kCountdownTimer = 2;
  static constexpr int kTestTimer = 3;
  static constexpr int kOffDelaySeconds = 61;
  static constexpr int kOnDelaySeconds = 5;

  explicit CManageAdapter(QWidget* parent = nullptr, const QString& hostName = QString());
  CManageAdapter(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                 const QStringList& hostNames);
  ~CManageAdapter() override;

  bool OnInitDialog() override;
  void OnCancel() override;
  void OnTimer(int timerId) override;

  // The community check: 1 passed, 0 failed (after its box).
  int SetCommunityNames();
  void OnChangeManageAdapterCommunityNames();
  // Restart SNMP Agent, Abort Shutdown, Run Test, UPS On, UPS Off.
  void EnableButtons(bool restart, bool abort, bool runTest, bool upsOn, bool upsOff);
  void OnUpsOffImm();
  void OnUpsOnImm();
  void OnControlAbortshutdown();
  void OnControlRestartsnmpagent();
  void OnButtonRunTest();
  void UpdateBatteryInfo();
  void UpdatePendingTimes();
  void StartTimer(int timerId);
  void StopTimer(int timerId);
  void OnOk();

  bool MibLoaded() const { return mib_loaded_; }
  int PendingOff() const { return pending_off_; }
  int PendingOn() const { return pending_on_; }
  KT_SNMP& Client() { return client_; }

 private:
  void Construct();
  void BuildControls();
  void UpdateData(bool fromControls);
  int BoxError(int stringId);

  QLineEdit* name_edit_ = nullptr;
  QLineEdit* get_edit_ = nullptr;
  QLineEdit* set_edit_ = nullptr;
  QLineEdit* contact_edit_ = nullptr;
  QLineEdit* off_edit_ = nullptr;
  QLineEdit* on_edit_ = nullptr;
  QLineEdit* result_edit_ = nullptr;

  QString name_;
  QString get_community_;
  QString set_community_;
  QString contact_;
  QString pending_off_text_;
  QString pending_on_text_;
  QString test_result_;
  int pending_on_ = -1;
  int pending_off_ = -1;
  bool mib_loaded_ = false;
  bool filling_ = false;
  // The community check: asked again after a change, else its last result is used.
  bool communities_changed_ = true;
  int last_check_ = 0;
  KT_SNMP client_;
};

extern DialogPointer<CManageAdapter> pManageAdapter;
