#include "dialogs/network/network_adapter_config.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>

#include "core/adapters/adapter_name.h"
#include "core/adapters/netbcm.h"
#include "core/adapters/snmp.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/network/spin_field.h"

DialogPointer<CNetworkAdapterConfig> pNetworkAdapterConfig{DialogSlot::NetworkAdapterConfig};
int gnAdapterVerificationMode = 0;

TREM_REGISTER_DIALOG(CNetworkAdapterConfig);

namespace {
enum : int {
  kCaption = 1691,
  kMarble = 3211,
  kHarvest = 3212,
  kCantTalk = 3225,
  kNotVerifiedSave = 3226,
  kSnmpNoUps = 3227,
  kPasswordCorrect = 3228,
  kUpsNotUp = 3229,
  kPasswordIncorrect = 3230,
  kOrInvalidHost = 3231,
  kTryDefaults = 3232,
  kNoMib = 3233,
  kDefaultPassword = 3234,
  kNoHost = 3235,
  kBadGet = 3236,
  kBadSet = 3237,
  kBadPassword = 3238,
  kOnBattery = 3239,
  kStateUnknown = 3240,
  kNoUps = 3245,
  kNetware = 3246,
  kNotResponding = 3248,
  kTimeoutNotGreater = 3709,
};
constexpr int kMinPolling = 3;
constexpr int kMaxPolling = 600;
constexpr int kMinTimeout = 3;
constexpr int kMaxTimeout = 1800;
constexpr int kDefaultPolling = 3;
constexpr int kDefaultTimeout = 120;
// The agent's software version (its second number) that has the timing values, and the value
// of a version not known yet.
constexpr int kTimingMajor = 1;
constexpr int kMajorUnknown = 255;
// How often the dialog asks for the agent's UPS information before it gives up the timing.
constexpr int kMaxVersionAsks = 3;
// The UPS states after which an adapter may be chosen: 'P' (all well) and '0'.
constexpr int kUpsStateUp = 0x50;
constexpr int kUpsStateZero = 0x30;
// CheckNetBcmPassword's own answer for a UPS on battery (no check sent).
constexpr int kCheckOnBattery = -4;

std::atomic<int> g_netbcm_second_ms{1000};

QString Text(const std::optional<std::string>& s) {
  return s ? QString::fromStdString(*s) : QString();
}

std::string Std(const QString& s) {
  return s.toStdString();
}
}  // namespace

void CNetworkAdapterConfig::SetNetBcmSecondLength(int ms) {
  g_netbcm_second_ms.store(ms > 0 ? ms : 1);
}

CNetworkAdapterConfig::CNetworkAdapterConfig(QWidget* parent, const QString& hostName)
    : KTDialog(IDD_NETWORK_ADAPTER_CONFIG, parent, hostName), exchange_(this) {
  Construct();
}

CNetworkAdapterConfig::CNetworkAdapterConfig(QWidget* parent, const QString& selectionLabel,
                                             const QString& hostName, const QStringList& hostNames)
    : KTDialog(IDD_NETWORK_ADAPTER_CONFIG, parent, selectionLabel, hostName, hostNames), exchange_(this) {
  Construct();
}

CNetworkAdapterConfig::~CNetworkAdapterConfig() = default;

void CNetworkAdapterConfig::Construct() {
  BindDialogPointer(pNetworkAdapterConfig);
  if (!gScp.HasSnmpSupport() && !gScp.HasTcpIpSupport()) {
    TremMessageBox(nullptr, LoadString(kCantTalk), MB_OK | MB_ICONEXCLAMATION);
    // No window: the dialog goes away and nothing points to it.
    refused_ = true;
    pNetworkAdapterConfig.ClearIf(this);
    deleteLater();
    return;
  }
  BuildControls();
  Create(IDD_NETWORK_ADAPTER_CONFIG);
}

void CNetworkAdapterConfig::BuildControls() {
  setWindowTitle(LoadString(kCaption));
  auto* layout = new QVBoxLayout(this);

  auto label = [this](int id, const QString& text) {
    auto* l = new QLabel(text, this);
    l->setObjectName(ControlName(id));
    return l;
  };
  auto edit = [this](int id, bool password) {
    auto* e = new QLineEdit(this);
    e->setObjectName(ControlName(id));
    if (password) e->setEchoMode(QLineEdit::Password);
    e->setMinimumWidth(e->fontMetrics().averageCharWidth() * 28);
    return e;
  };

  auto* adapterGroup = new QGroupBox(QStringLiteral("Configure An Adapter"), this);
  adapterGroup->setObjectName(ControlName(IDC_NA_GROUP));
  auto* grid = new QGridLayout(adapterGroup);
  host_edit_ = edit(IDC_NA_HOST, false);
  get_edit_ = edit(IDC_NA_GET, true);
  get_edit_->setMaxLength(15);
  set_edit_ = edit(IDC_NA_SET, true);
  set_edit_->setMaxLength(15);
  password_edit_ = edit(IDC_NA_PASSWORD, true);
  password_edit_->setMaxLength(6);
  adapter_info_edit_ = edit(IDC_NA_ADAPTER_INFO, false);
  ups_info_edit_ = edit(IDC_NA_UPS_INFO, false);
  for (QLineEdit* e : {adapter_info_edit_, ups_info_edit_}) {
    // Read-only texts on the dialog's own background, as the system shows them.
    e->setReadOnly(true);
    e->setFocusPolicy(Qt::ClickFocus);
    QPalette p = e->palette();
    p.setColor(QPalette::Base, p.color(QPalette::Window));
    e->setPalette(p);
  }
  const struct {
    int labelId;
    const char* text;
    QLineEdit* field;
  } rows[] = {
      {IDC_NA_HOST_LABEL, "&Host Name", host_edit_},
      {IDC_NA_GET_LABEL, "&Get Community Name", get_edit_},
      {IDC_NA_SET_LABEL, "&Set Community Name", set_edit_},
      {IDC_NA_PASSWORD_LABEL, "Pass&word", password_edit_},
      {IDC_NA_ADAPTER_INFO_LABEL, "Network Adapter Info", adapter_info_edit_},
      {IDC_NA_UPS_INFO_LABEL, "UPS Info", ups_info_edit_},
  };
  int row = 0;
  for (const auto& r : rows) {
    QLabel* l = label(r.labelId, QString::fromLatin1(r.text));
    l->setBuddy(r.field);
    grid->addWidget(l, row, 0, Qt::AlignRight | Qt::AlignVCenter);
    grid->addWidget(r.field, row, 1);
    ++row;
  }
  verify_adapter_ = new QPushButton(QStringLiteral("Verify &Adapter"), this);
  verify_adapter_->setObjectName(ControlName(IDC_NA_VERIFY_ADAPTER));
  verify_passwords_ = new QPushButton(QStringLiteral("&Verify Password(s)"), this);
  verify_passwords_->setObjectName(ControlName(IDC_NA_VERIFY_PASSWORDS));
  auto* verifyRow = new QHBoxLayout;
  verifyRow->addStretch(1);
  verifyRow->addWidget(verify_adapter_);
  verifyRow->addWidget(verify_passwords_);
  grid->addLayout(verifyRow, row, 0, 1, 2);
  grid->setColumnStretch(1, 1);
  layout->addWidget(adapterGroup);

  auto* timingGroup = new QGroupBox(QStringLiteral("Timing Values"), this);
  timingGroup->setObjectName(ControlName(IDC_NA_TIMING_GROUP));
  auto* timing = new QHBoxLayout(timingGroup);
  polling_spin_ = MakeSpinField(this, IDC_NA_POLLING, kMinPolling, kMaxPolling, kDefaultPolling);
  timeout_spin_ = MakeSpinField(this, IDC_NA_TIMEOUT, kMinTimeout, kMaxTimeout, kDefaultTimeout);
  QLabel* pollingLabel = label(IDC_NA_POLLING_LABEL, QStringLiteral("&Polling Interval"));
  pollingLabel->setBuddy(polling_spin_);
  QLabel* timeoutLabel = label(IDC_NA_TIMEOUT_LABEL, QStringLiteral("Time-out &Value"));
  timeoutLabel->setBuddy(timeout_spin_);
  auto* update = new QPushButton(QStringLiteral("&Update"), this);
  update->setObjectName(ControlName(IDC_NA_UPDATE));
  timing->addWidget(pollingLabel);
  timing->addWidget(polling_spin_);
  timing->addSpacing(12);
  timing->addWidget(timeoutLabel);
  timing->addWidget(timeout_spin_);
  timing->addStretch(1);
  timing->addWidget(update);
  layout->addWidget(timingGroup);

  layout->addSpacing(8);
  layout->addLayout(MakeButtonRow({IDOK, IDCANCEL, ID_HELP}));
  layout->setSizeConstraint(QLayout::SetFixedSize);
  ok_button_ = Control<QPushButton>(IDOK);
  // "Verify Adapter" is the default button.
  ok_button_->setDefault(false);
  ok_button_->setAutoDefault(false);
  verify_adapter_->setDefault(true);

  connect(verify_adapter_, &QPushButton::clicked, this, [this] { OnTestHostname(); });
  connect(verify_passwords_, &QPushButton::clicked, this, [this] { OnButtonVerify(); });
  connect(update, &QPushButton::clicked, this, [this] { OnButtonUpdate(); });
  connect(host_edit_, &QLineEdit::textChanged, this, [this] { ResetDialog(); });
  for (QLineEdit* e : {get_edit_, set_edit_, password_edit_}) {
    connect(e, &QLineEdit::textChanged, this, [this] { verified_ = false; });
  }
  setTabOrder(host_edit_, get_edit_);
  setTabOrder(get_edit_, set_edit_);
  setTabOrder(set_edit_, password_edit_);
  setTabOrder(password_edit_, verify_adapter_);
  setTabOrder(verify_adapter_, verify_passwords_);
  setTabOrder(verify_passwords_, polling_spin_);
  setTabOrder(polling_spin_, timeout_spin_);
  setTabOrder(timeout_spin_, update);
  host_edit_->setFocus();
}

bool CNetworkAdapterConfig::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHostCaption(kCaption);
  ResetDialog();
  // The UPS information that AskTiming may ask for goes first, so that its answer is in
  // before that of the adapter settings.
  const int timing = AskTiming();
  const int requests = (RequestData(BLOCK_CONFIG, 7, 0) > 0 ? 1 : 0) + timing;
  SetWaitCount(requests);
  return true;
}

int CNetworkAdapterConfig::SoftwareMajor() const {
  auto lock = gScp.Lock();
  return gScp.upsInfo.GetSoftwareVersionSecond();
}

int CNetworkAdapterConfig::AskTiming() {
  const int major = SoftwareMajor();
  if (major == kTimingMajor) return RequestData(BLOCK_CONFIG, 12, 0) > 0 ? 1 : 0;
  if (major != kMajorUnknown || version_asks_ >= kMaxVersionAsks) return 0;
  // Without the agent's version the timing can be neither asked nor read (the version says
  // how it travels): the UPS information first. It reaches no dialog; the reply to the
  // adapter settings asked after it tells that it is in.
  ++version_asks_;
  awaiting_version_ = true;
  RequestData(BLOCK_UPS_INFO, 0, 0);
  return 1;  // the timing's reply, asked for once the version is known
}

void CNetworkAdapterConfig::FollowVersion() {
  const int major = SoftwareMajor();
  if (major == kMajorUnknown && version_asks_ < kMaxVersionAsks) {
    // Not answered yet (the agent asked to be asked again): both once more, in order.
    ++version_asks_;
    RequestData(BLOCK_UPS_INFO, 0, 0);
    if (RequestData(BLOCK_CONFIG, 7, 0) > 0) SetWaitCount(GetWaitCount() + 1);
    return;
  }
  awaiting_version_ = false;
  if (major == kTimingMajor && RequestData(BLOCK_CONFIG, 12, 0) > 0) return;
  // An agent without the timing values, or one that never told its version: nothing to wait for.
  SetWaitCount(std::max(0, GetWaitCount() - 1));
  if (!IsBusy()) KillTimer(kReplyTimerId);
}

std::string CNetworkAdapterConfig::TargetHost() const {
  return SplitAdapterName(Std(host_)).host;
}

int CNetworkAdapterConfig::TargetPort() const {
  return SplitAdapterName(Std(host_)).port;
}

void CNetworkAdapterConfig::OnNewData(unsigned status, unsigned block, unsigned branch, unsigned item) {
  if (block != BLOCK_CONFIG) return;
  // "Not Available" of the timing carries no values: the fields keep theirs.
  if (branch == 12 && status == SCP_NOT_AVAILABLE) return;
  if (branch == 12 && item == 0 && status == SCP_GET_OK) timing_read_ = true;
  OnConfigBlock(branch);
  if (awaiting_version_ && (branch == 7 || branch == 0)) FollowVersion();
}

void CNetworkAdapterConfig::OnConfigBlock(unsigned branch) {
  {
    auto lock = gScp.Lock();
    const ConfigBlock& c = gScp.config;
    if (branch == 7 || branch == 0) {
      host_ = Text(c.GetAdapterName());
      get_community_ = Text(c.GetReadCommunity());
      if (get_community_.isEmpty()) get_community_ = LoadString(kMarble);
      set_community_ = Text(c.GetWriteCommunity());
      if (set_community_.isEmpty()) set_community_ = LoadString(kHarvest);
      password_ = Text(c.GetWriteCommunity());
      if (password_.isEmpty()) password_ = LoadString(kDefaultPassword);
    }
    // The timing from its own reply only: a whole block carries it only for a peer of its
    // format.
    if (branch == 12) {
      polling_ = c.GetPollingInterval() != 0 ? static_cast<int>(c.GetPollingInterval()) : kDefaultPolling;
      timeout_ = c.GetCommTimeout() != 0 ? static_cast<int>(c.GetCommTimeout()) : kDefaultTimeout;
      shown_polling_ = polling_;
      shown_timeout_ = timeout_;
    }
  }
  UpdateData(false);
}

void CNetworkAdapterConfig::UpdateData(bool fromControls) {
  if (fromControls) {
    host_ = host_edit_->text().trimmed();
    get_community_ = get_edit_->text();
    set_community_ = set_edit_->text();
    password_ = password_edit_->text();
    ups_info_ = ups_info_edit_->text();
    adapter_info_ = adapter_info_edit_->text();
    polling_ = polling_spin_->value();
    timeout_ = timeout_spin_->value();
    return;
  }
  // Writing the fields back is no user's change: the verification state stays.
  const bool verified = verified_;
  if (host_edit_->text() != host_) host_edit_->setText(host_);
  get_edit_->setText(get_community_);
  set_edit_->setText(set_community_);
  password_edit_->setText(password_);
  ups_info_edit_->setText(ups_info_);
  adapter_info_edit_->setText(adapter_info_);
  polling_spin_->setValue(polling_);
  timeout_spin_->setValue(timeout_);
  verified_ = verified;
}

void CNetworkAdapterConfig::ShowControls(std::initializer_list<int> ids, bool show) {
  for (int id : ids) {
    if (QWidget* w = Control(id)) w->setVisible(show);
  }
  // Enter presses "Verify Adapter" while it is offered, else OK.
  const bool verifying = !verify_adapter_->isHidden();
  verify_adapter_->setDefault(verifying);
  ok_button_->setDefault(!verifying);
}

void CNetworkAdapterConfig::ShowTiming() {
  if (SoftwareMajor() == kTimingMajor) ShowControls({IDC_NA_TIMING_GROUP}, true);
}

void CNetworkAdapterConfig::ResetDialog() {
  // An answer still on its way is about the host before the change.
  exchange_.Drop();
  kind_ = ADAPTER_UNKNOWN;
  verified_ = false;
  ShowControls({IDC_NA_GET_LABEL, IDC_NA_GET, IDC_NA_SET_LABEL, IDC_NA_SET, IDC_NA_PASSWORD_LABEL,
                IDC_NA_PASSWORD, IDC_NA_ADAPTER_INFO_LABEL, IDC_NA_ADAPTER_INFO, IDC_NA_UPS_INFO_LABEL,
                IDC_NA_UPS_INFO, IDC_NA_TIMING_GROUP, IDC_NA_VERIFY_PASSWORDS, IDOK},
               false);
  ShowControls({IDC_NA_VERIFY_ADAPTER}, true);
}

int CNetworkAdapterConfig::ValidateData() {
  if (kind_ == ADAPTER_UNKNOWN) return -1;
  int failure = 0;
  if (host_.isEmpty()) {
    failure = kNoHost;
  } else if (kind_ == ADAPTER_SNMP) {
    const int getLength = static_cast<int>(get_community_.toUtf8().size());
    const int setLength = static_cast<int>(set_community_.toUtf8().size());
    if (getLength < 2 || getLength > 15) {
      failure = kBadGet;
    } else if (setLength < 2 || setLength > 15) {
      failure = kBadSet;
    }
  } else if (password_.toUtf8().size() != 6) {
    failure = kBadPassword;
  }
  if (failure == 0) return 0;
  TremMessageBox(this, LoadString(failure), MB_OK | MB_ICONERROR);
  return -1;
}

// ---- exchanges -----------------------------------------------------------------------------

void CNetworkAdapterConfig::VerifyViaSnmp(const QString& getCommunity,
                                          std::function<void(std::optional<std::string>)> done) {
  if (!gScp.HasSnmpSupport()) {
    TremMessageBox(this, LoadString(kNoMib), MB_OK | MB_ICONERROR);
    done(std::nullopt);
    return;
  }
  exchange_.Run<std::optional<std::string>>(
      [host = TargetHost(), port = TargetPort(), get = Std(getCommunity), set = Std(set_community_)] {
        KT_SNMP client(host.c_str(), get.c_str(), set.c_str(), port);
        if (client.OpenSession() != 0) return std::optional<std::string>();
        return client.ProbeAdapter();
      },
      std::move(done));
}

void CNetworkAdapterConfig::VerifyViaNetBcm(std::function<void(NetBcmResult)> done) {
  ups_state_ = -1;
  exchange_.Run<NetBcmResult>(
      [host = TargetHost(), port = TargetPort()] {
        KT_NetBCM driver(&gScp, 0);
        driver.SetSecondLength(g_netbcm_second_ms.load());
        driver.SetAdapter(host.c_str(), nullptr, port);
        NetBcmAdapterIdentity identity;
        NetBcmResult r;
        r.found = driver.QueryAdapter(host.c_str(), identity);
        if (r.found == 1) {
          r.upsText = identity.upsText;
          r.adapterText = identity.adapterText;
          r.upsState = identity.upsState;
        }
        return r;
      },
      std::move(done));
}

void CNetworkAdapterConfig::CheckSnmpPasswords(std::function<void(bool)> done) {
  if (!gScp.HasSnmpSupport()) {
    TremMessageBox(this, LoadString(kNoMib), MB_OK | MB_ICONERROR);
    done(false);
    return;
  }
  exchange_.Run<bool>(
      [host = TargetHost(), port = TargetPort(), get = Std(get_community_), set = Std(set_community_)] {
        KT_SNMP client(host.c_str(), get.c_str(), set.c_str(), port);
        return client.OpenSession() == 0 && client.TestWriteAccess() == 1;
      },
      std::move(done));
}

void CNetworkAdapterConfig::CheckNetBcmPassword(std::function<void(bool)> done) {
  exchange_.Run<PasswordResult>(
      [host = TargetHost(), port = TargetPort(), code = Std(password_)] {
        KT_NetBCM driver(&gScp, 0);
        driver.SetSecondLength(g_netbcm_second_ms.load());
        driver.SetAdapter(host.c_str(), code.c_str(), port);
        PasswordResult r;
        // A UPS on battery cannot check a password now: the check is not sent.
        NetBcmAdapterIdentity identity;
        if (driver.QueryAdapter(host.c_str(), identity) == 1) {
          r.upsState = identity.upsState;
          if (identity.upsFlags >= 0 && (identity.upsFlags & 0x80) == 0) {
            r.code = kCheckOnBattery;
            return r;
          }
        }
        driver.SetAdapter(host.c_str(), code.c_str(), port);
        r.code = driver.CheckAccessCode(host.c_str());
        return r;
      },
      [this, done = std::move(done)](PasswordResult r) {
        if (r.upsState >= 0) ups_state_ = r.upsState;
        if (r.code == kCheckOnBattery) {
          TremMessageBox(this, LoadString(kOnBattery), MB_OK | MB_ICONERROR);
        } else if (r.code == -3) {
          TremMessageBox(this, LoadString(kStateUnknown), MB_OK | MB_ICONERROR);
        }
        done(r.code == 1);
      });
}

// ---- Verify Adapter ------------------------------------------------------------------------

void CNetworkAdapterConfig::OnTestHostname() {
  // While the agent's settings are still on their way, their reply would replace the host
  // being verified.
  if (exchange_.Running() || IsBusy()) return;
  UpdateData(true);
  {
    auto lock = gScp.Lock();
    const UpsInfoBlock& info = gScp.upsInfo;
    gnAdapterVerificationMode = info.GetOsType() != 0 && info.GetSoftwareVersionSecond() == 0 &&
                                        info.GetSoftwareVersionThird() <= 37 && gScp.HasSnmpSupport()
                                    ? 2
                                    : 0;
  }
  entered_get_ = get_community_;
  if (gnAdapterVerificationMode != 2 && gScp.HasTcpIpSupport()) {
    VerifyViaNetBcm([this](NetBcmResult r) { AfterNetBcm(r); });
    return;
  }
  TrySnmp(0);
}

void CNetworkAdapterConfig::AfterNetBcm(const NetBcmResult& r) {
  if (r.found != 1) {
    TrySnmp(0);
    return;
  }
  ups_info_ = QString::fromStdString(r.upsText);
  adapter_info_ = QString::fromStdString(r.adapterText);
  ups_state_ = r.upsState;
  ups_info_edit_->setText(ups_info_);
  adapter_info_edit_->setText(adapter_info_);
  ShowControls({IDC_NA_UPS_INFO_LABEL, IDC_NA_UPS_INFO, IDC_NA_ADAPTER_INFO_LABEL, IDC_NA_ADAPTER_INFO},
               true);
  ShowTiming();
  if (ups_info_.isEmpty()) {
    TremMessageBox(this, LoadString(kNoUps), MB_OK | MB_ICONEXCLAMATION);
    ups_info_ = LoadString(kNoUps);
    ups_info_edit_->setText(ups_info_);
    host_edit_->setFocus();
  } else {
    kind_ = ADAPTER_NETBCM;
    ShowControls({IDC_NA_PASSWORD_LABEL, IDC_NA_PASSWORD, IDC_NA_VERIFY_PASSWORDS, IDOK}, true);
    ShowControls({IDC_NA_VERIFY_ADAPTER}, false);
  }
  AdapterAnswered(true);
}

void CNetworkAdapterConfig::TrySnmp(int attempt) {
  if (attempt == 0) {
    if (!gScp.HasSnmpSupport()) {
      AdapterSilent();
      return;
    }
    if (gnCommMode == 1) {
      TremMessageBox(this, LoadString(kNetware), MB_OK | MB_ICONEXCLAMATION);
      host_edit_->setFocus();
      return;
    }
  }
  // The entered get community, then "marble", then "harvest"; a value already tried is not
  // tried again.
  QString community;
  for (; attempt < 3; ++attempt) {
    if (attempt == 0) {
      community = entered_get_;
      break;
    }
    const QString candidate = LoadString(attempt == 1 ? kMarble : kHarvest);
    if (candidate != entered_get_) {
      community = candidate;
      break;
    }
  }
  if (attempt >= 3) {
    AdapterSilent();
    return;
  }
  if (attempt > 0) {
    get_community_ = community;
    get_edit_->setText(community);
  }
  VerifyViaSnmp(community, [this, attempt](std::optional<std::string> ups) {
    if (!ups) {
      TrySnmp(attempt + 1);
      return;
    }
    ups_info_ = QString::fromStdString(*ups);
    ups_info_edit_->setText(ups_info_);
    ShowControls({IDC_NA_UPS_INFO_LABEL, IDC_NA_UPS_INFO}, true);
    ShowTiming();
    if (ups_info_.isEmpty()) {
      TremMessageBox(this, LoadString(kNoUps), MB_OK | MB_ICONEXCLAMATION);
      ups_info_ = LoadString(kNoUps);
      ups_info_edit_->setText(ups_info_);
      host_edit_->setFocus();
    } else {
      kind_ = ADAPTER_SNMP;
      ShowControls(
          {IDC_NA_GET_LABEL, IDC_NA_GET, IDC_NA_SET_LABEL, IDC_NA_SET, IDC_NA_VERIFY_PASSWORDS, IDOK}, true);
      ShowControls({IDC_NA_VERIFY_ADAPTER}, false);
    }
    AdapterAnswered(false);
  });
}

void CNetworkAdapterConfig::AdapterAnswered(bool netbcm) {
  (netbcm ? password_edit_ : set_edit_)->setFocus();
  OnButtonVerify();
}

void CNetworkAdapterConfig::AdapterSilent() {
  if (gScp.HasSnmpSupport()) {
    // The user may still enter the communities and verify them.
    kind_ = ADAPTER_SNMP;
    ShowControls({IDC_NA_GET_LABEL, IDC_NA_GET, IDC_NA_SET_LABEL, IDC_NA_SET, IDC_NA_VERIFY_PASSWORDS}, true);
  }
  TremMessageBox(this, host_ + LoadString(kNotResponding), MB_OK | MB_ICONERROR);
  get_edit_->setFocus();
}

// ---- Verify Password(s) --------------------------------------------------------------------

void CNetworkAdapterConfig::OnButtonVerify() {
  if (exchange_.Running()) return;
  UpdateData(true);
  if (ValidateData() != 0) return;
  if (verified_) {
    PasswordOutcome(true);
    return;
  }
  if (kind_ == ADAPTER_NETBCM) {
    CheckNetBcmPassword([this](bool ok) { PasswordOutcome(ok); });
    return;
  }
  CheckSnmpPasswords([this](bool ok) {
    if (!ok) {
      PasswordOutcome(false);
      return;
    }
    VerifyViaSnmp(get_community_, [this](std::optional<std::string> ups) { FinishSnmpVerify(ups); });
  });
}

void CNetworkAdapterConfig::FinishSnmpVerify(const std::optional<std::string>& ups) {
  ups_info_ = ups ? QString::fromStdString(*ups) : QString();
  if (ups_info_.isEmpty()) {
    TremMessageBox(this, LoadString(kSnmpNoUps), MB_OK | MB_ICONEXCLAMATION);
    ups_info_ = LoadString(kSnmpNoUps);
  } else {
    ShowControls({IDOK}, true);
  }
  ups_info_edit_->setText(ups_info_);
  ShowControls({IDC_NA_UPS_INFO_LABEL, IDC_NA_UPS_INFO}, true);
  PasswordOutcome(true);
}

void CNetworkAdapterConfig::PasswordOutcome(bool ok) {
  if (ok) {
    verified_ = true;
    ok_button_->setFocus();
    TremMessageBox(this, LoadString(kPasswordCorrect), MB_OK);
    if (kind_ == ADAPTER_NETBCM && ups_state_ != kUpsStateUp && ups_state_ != kUpsStateZero) {
      TremMessageBox(this, LoadString(kUpsNotUp), MB_OK | MB_ICONEXCLAMATION);
      ShowControls({IDOK}, false);
      host_edit_->setFocus();
    }
    return;
  }
  QString text = LoadString(kPasswordIncorrect);
  if (kind_ == ADAPTER_NETBCM) {
    TremMessageBox(this, text, MB_OK | MB_ICONEXCLAMATION);
    password_edit_->setFocus();
    return;
  }
  text += LoadString(kOrInvalidHost);
  if (get_community_ != LoadString(kMarble) || set_community_ != LoadString(kHarvest))
    text += LoadString(kTryDefaults);
  TremMessageBox(this, text, MB_OK | MB_ICONEXCLAMATION);
  set_edit_->setFocus();
}

// ---- timing and OK -------------------------------------------------------------------------

bool CNetworkAdapterConfig::OnButtonUpdate() {
  setCursor(Qt::WaitCursor);
  int polling = 0;
  int timeout = 0;
  bool ok = ReadSpinField(this, polling_spin_, polling) && ReadSpinField(this, timeout_spin_, timeout);
  if (ok && timeout <= polling) {
    TremMessageBox(this, LoadString(kTimeoutNotGreater), MB_OK | MB_ICONEXCLAMATION);
    ok = false;
  }
  if (ok) {
    // Only what the user changed goes to the agent: a value still as the dialog showed it is
    // the agent's own, or a default that would overwrite what the agent has stored.
    const bool pollingChanged = polling != shown_polling_;
    const bool timeoutChanged = timeout != shown_timeout_;
    polling_ = polling;
    timeout_ = timeout;
    {
      auto lock = gScp.Lock();
      if (pollingChanged) gScp.config.SetPollingInterval(static_cast<uint32_t>(polling_));
      if (timeoutChanged) gScp.config.SetCommTimeout(static_cast<uint32_t>(timeout_));
      gScp.config.Branches().Touch(12);
    }
    if (SoftwareMajor() == kTimingMajor) {
      if (pollingChanged) SendCommand(BLOCK_CONFIG, 12, 1);
      if (timeoutChanged) SendCommand(BLOCK_CONFIG, 12, 2);
    }
    shown_polling_ = polling_;
    shown_timeout_ = timeout_;
  }
  unsetCursor();
  return ok;
}

void CNetworkAdapterConfig::OnOK() {
  if (exchange_.Running()) return;
  if (!OnButtonUpdate()) return;
  UpdateData(true);
  if (!verified_ && TremMessageBox(this, LoadString(kNotVerifiedSave), MB_YESNO | MB_ICONQUESTION) != IDYES)
    return;
  if (ValidateData() != 0) return;
  {
    auto lock = gScp.Lock();
    ConfigBlock& c = gScp.config;
    c.SetAdapterName(Std(host_).c_str());
    if (kind_ == ADAPTER_NETBCM) {
      c.SetAdapterPassword(Std(password_).c_str());
      c.SetWriteCommunity(Std(password_).c_str());
      c.SetCommMode(COMM_NETBCM_ADAPTER);
    } else {
      c.SetReadCommunity(Std(get_community_).c_str());
      c.SetWriteCommunity(Std(set_community_).c_str());
      c.SetCommMode(COMM_SNMP_ADAPTER);
    }
    c.Branches().Touch(1);
  }
  SendCommand(BLOCK_CONFIG, 1, 3);
  {
    auto lock = gScp.Lock();
    gScp.config.Branches().Touch(7);
  }
  SendCommand(BLOCK_CONFIG, 7, 0);
  KTDialog::OnOK();
}
