#include "dialogs/network/manage_adapter.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "core/adapters/mib_file.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/host_control.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"

DialogPointer<CManageAdapter> pManageAdapter;

TREM_REGISTER_DIALOG(CManageAdapter);

static const StringTableRegistrar kStrings{
    {3216, "Done, Warnning."}, {3217, "Done, Error."},    {3218, "Aborted."},
    {3219, "In Progress."},    {3220, "None Scheduled."},
};

namespace {
enum : int {
  kNoMib = 3213,
  kInvalidHost = 3214,
  kTestPassed = 3215,
  kTestInProgress = 3219,
  kNone = 3221,
  kBadLength = 3223,
  kIncorrect = 3224,
  kTitle = 3706,
};
constexpr int kCommunityLimit = 255;
constexpr int kCountdownMs = 1000;
constexpr int kTestMs = 2000;
}  // namespace

CManageAdapter::CManageAdapter(QWidget* parent, const QString& hostName)
    : KTDialog(IDD_MANAGE_ADAPTER, parent, hostName) {
  Construct();
}

CManageAdapter::CManageAdapter(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                               const QStringList& hostNames)
    : KTDialog(IDD_MANAGE_ADAPTER, parent, selectionLabel, hostName, hostNames) {
  Construct();
}

CManageAdapter::~CManageAdapter() {
  KillTimer(kCountdownTimer);
  KillTimer(kTestTimer);
}

void CManageAdapter::Construct() {
  BindDialogPointer(pManageAdapter);
  name_ = HostName();
  mib_loaded_ = ReadMibFile(ConsoleMibFile().c_str());
  if (!mib_loaded_) BoxError(kNoMib);
  BuildControls();
  Create(IDD_MANAGE_ADAPTER);
}

int CManageAdapter::BoxError(int stringId) {
  return ShowMessageBox(this, LoadString(stringId), LoadString(kTitle), MB_OK | MB_ICONERROR);
}

void CManageAdapter::BuildControls() {
  setWindowTitle(QStringLiteral("Manage Adapter"));
  auto* layout = new QVBoxLayout(this);
  auto edit = [this](int id, bool readOnly) {
    auto* e = new QLineEdit(this);
    e->setObjectName(ControlName(id));
    if (readOnly) {
      // Read-only texts on the dialog's own background, as the system shows them.
      e->setReadOnly(true);
      e->setFocusPolicy(Qt::ClickFocus);
      QPalette p = e->palette();
      p.setColor(QPalette::Base, p.color(QPalette::Window));
      e->setPalette(p);
    }
    e->setMinimumWidth(e->fontMetrics().averageCharWidth() * 24);
    return e;
  };
  auto button = [this](int id, const QString& text) {
    auto* b = new QPushButton(text, this);
    b->setObjectName(ControlName(id));
    b->setAutoDefault(false);
    return b;
  };
  auto addRow = [this](QGridLayout* grid, int row, int labelId, const QString& text, QWidget* field) {
    auto* l = new QLabel(text, this);
    if (labelId != 0) l->setObjectName(ControlName(labelId));
    l->setBuddy(field);
    grid->addWidget(l, row, 0, Qt::AlignRight | Qt::AlignVCenter);
    grid->addWidget(field, row, 1);
  };

  auto* config = new QGroupBox(QStringLiteral("Adapter Configuration"), this);
  config->setObjectName(ControlName(1008));
  auto* configGrid = new QGridLayout(config);
  name_edit_ = edit(IDC_MA_NAME, true);
  get_edit_ = edit(IDC_MA_GET, false);
  get_edit_->setMaxLength(kCommunityLimit);
  set_edit_ = edit(IDC_MA_SET, false);
  set_edit_->setMaxLength(kCommunityLimit);
  contact_edit_ = edit(IDC_MA_CONTACT, false);
  addRow(configGrid, 0, 1007, QStringLiteral("Name"), name_edit_);
  addRow(configGrid, 1, 1006, QStringLiteral("&Get Community Name"), get_edit_);
  addRow(configGrid, 2, 1005, QStringLiteral("&Set Community Name"), set_edit_);
  addRow(configGrid, 3, 1013, QStringLiteral("&Contact Name"), contact_edit_);
  configGrid->setColumnStretch(1, 1);
  layout->addWidget(config);

  auto* control = new QGroupBox(QStringLiteral("Adapter Control "), this);
  auto* controlGrid = new QGridLayout(control);
  off_edit_ = edit(IDC_MA_PENDING_OFF, true);
  on_edit_ = edit(IDC_MA_PENDING_ON, true);
  addRow(controlGrid, 0, 1000, QStringLiteral("Pending Off Delay"), off_edit_);
  addRow(controlGrid, 1, 1004, QStringLiteral("Pending On Delay"), on_edit_);
  auto* upsOff = button(IDC_MA_UPS_OFF, QStringLiteral("UPS O&ff"));
  auto* upsOn = button(IDC_MA_UPS_ON, QStringLiteral("UPS O&n"));
  auto* restart = button(IDC_MA_RESTART_AGENT, QStringLiteral("Restart SNMP &Agent"));
  auto* abort = button(IDC_MA_ABORT, QStringLiteral("A&bort Shutdown"));
  auto* controlButtons = new QGridLayout;
  controlButtons->addWidget(upsOff, 0, 0);
  controlButtons->addWidget(upsOn, 0, 1);
  controlButtons->addWidget(restart, 1, 0);
  controlButtons->addWidget(abort, 1, 1);
  controlGrid->addLayout(controlButtons, 2, 0, 1, 2);
  controlGrid->setColumnStretch(1, 1);
  layout->addWidget(control);

  auto* test = new QGroupBox(QStringLiteral("Diagnostic Test"), this);
  auto* testRow = new QHBoxLayout(test);
  result_edit_ = edit(IDC_MA_TEST_RESULTS, true);
  auto* resultLabel = new QLabel(QStringLiteral("Test Results"), this);
  resultLabel->setBuddy(result_edit_);
  auto* runTest = button(IDC_MA_RUN_TEST, QStringLiteral("&Run Test"));
  testRow->addWidget(resultLabel);
  testRow->addWidget(result_edit_, 1);
  testRow->addWidget(runTest);
  layout->addWidget(test);

  layout->addSpacing(8);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  auto* ok = MakeButton(IDC_MA_OK, QStringLiteral("OK"));
  ok->setDefault(true);
  buttons->addWidget(ok);
  buttons->addWidget(MakeButton(IDCANCEL, QString()));
  buttons->addWidget(MakeButton(ID_HELP, QString()));
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(upsOff, &QPushButton::clicked, this, [this] { OnUpsOffImm(); });
  connect(upsOn, &QPushButton::clicked, this, [this] { OnUpsOnImm(); });
  connect(restart, &QPushButton::clicked, this, [this] { OnControlRestartsnmpagent(); });
  connect(abort, &QPushButton::clicked, this, [this] { OnControlAbortshutdown(); });
  connect(runTest, &QPushButton::clicked, this, [this] { OnButtonRunTest(); });
  connect(ok, &QPushButton::clicked, this, [this] { OnOk(); });
  for (QLineEdit* e : {get_edit_, set_edit_}) {
    connect(e, &QLineEdit::textChanged, this, [this] {
      if (!filling_) OnChangeManageAdapterCommunityNames();
    });
  }
  setTabOrder(get_edit_, set_edit_);
  setTabOrder(set_edit_, contact_edit_);
  setTabOrder(contact_edit_, upsOff);
  setTabOrder(upsOff, upsOn);
  setTabOrder(upsOn, restart);
  setTabOrder(restart, abort);
  setTabOrder(abort, runTest);
  setTabOrder(runTest, ok);
  get_edit_->setFocus();
}

bool CManageAdapter::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHostCaption(QStringLiteral("Manage Adapter"));
  bool found = false;
  {
    KT_HostControl reader(0);
    const int index = gHosts.FindHostByName(name_.toUtf8().constData());
    if (HostEntry* host = index >= 0 ? gHosts.GetHostByIndex(index) : nullptr) {
      const char* get = host->Address().GetReadCommunity();
      const char* set = host->Address().GetWriteCommunity();
      get_community_ = QString::fromUtf8(get != nullptr ? get : "");
      set_community_ = QString::fromUtf8(set != nullptr ? set : "");
      found = true;
    }
  }
  UpdateData(false);
  if (!found) {
    BoxError(kInvalidHost);
  } else if (mib_loaded_) {
    SetCommunityNames();
    UpdateBatteryInfo();
    UpdatePendingTimes();
    contact_ = QString::fromStdString(client_.ReadAdapterText().value_or(std::string()));
  } else {
    // Without the MIB nothing can be managed: the dialog closes once it is up.
    QTimer::singleShot(0, this, [this] {
      if (WindowExists()) OnCancel();
    });
  }
  UpdateData(false);
  if (auto* abort = Control<QPushButton>(IDC_MA_ABORT)) abort->setEnabled(false);
  return true;
}

void CManageAdapter::UpdateData(bool fromControls) {
  if (fromControls) {
    get_community_ = get_edit_->text();
    set_community_ = set_edit_->text();
    contact_ = contact_edit_->text();
    return;
  }
  filling_ = true;
  name_edit_->setText(name_);
  get_edit_->setText(get_community_);
  set_edit_->setText(set_community_);
  contact_edit_->setText(contact_);
  off_edit_->setText(pending_off_text_);
  on_edit_->setText(pending_on_text_);
  result_edit_->setText(test_result_);
  filling_ = false;
}

int CManageAdapter::SetCommunityNames() {
  UpdateData(true);
  int result = last_check_;
  if (communities_changed_) {
    client_.SetSession(name_.toUtf8().constData(), get_community_.toUtf8().constData(),
                       set_community_.toUtf8().constData(), 0);
    setCursor(Qt::WaitCursor);
    // A session that cannot be opened (an unknown host) fails as a refused write would.
    result = client_.OpenSession() == 0 ? client_.TestWriteAccess() : 0;
    unsetCursor();
    last_check_ = result;
  }
  communities_changed_ = false;
  if (result == -1) {
    BoxError(kBadLength);
    return 0;
  }
  if (result == 0) {
    BoxError(kIncorrect);
    return 0;
  }
  return 1;
}

void CManageAdapter::OnChangeManageAdapterCommunityNames() {
  EnableButtons(true, false, true, true, true);
  communities_changed_ = true;
}

void CManageAdapter::EnableButtons(bool restart, bool abort, bool runTest, bool upsOn, bool upsOff) {
  const std::pair<int, bool> states[] = {{IDC_MA_RESTART_AGENT, restart},
                                         {IDC_MA_ABORT, abort},
                                         {IDC_MA_RUN_TEST, runTest},
                                         {IDC_MA_UPS_ON, upsOn},
                                         {IDC_MA_UPS_OFF, upsOff}};
  for (const auto& [id, on] : states) {
    if (auto* b = Control<QPushButton>(id)) b->setEnabled(on);
  }
}

void CManageAdapter::OnUpsOffImm() {
  if (SetCommunityNames() != 1) return;
  client_.SetControlDelay(CONTROL_STARTUP_DELAY, -1);
  client_.SetControlDelay(CONTROL_SHUTDOWN_DELAY, kOffDelaySeconds);
  pending_off_ = kOffDelaySeconds;
  UpdatePendingTimes();
  StartTimer(kCountdownTimer);
  EnableButtons(false, true, false, false, false);
}

void CManageAdapter::OnUpsOnImm() {
  if (SetCommunityNames() != 1) return;
  client_.SetControlDelay(CONTROL_STARTUP_DELAY, kOnDelaySeconds);
  pending_on_ = kOnDelaySeconds;
  UpdatePendingTimes();
  StartTimer(kCountdownTimer);
  EnableButtons(false, false, false, false, false);
}

void CManageAdapter::OnControlAbortshutdown() {
  StopTimer(kCountdownTimer);
  client_.SetControlDelay(CONTROL_SHUTDOWN_DELAY, -1);
  UpdatePendingTimes();
  UpdateData(false);
}

void CManageAdapter::OnControlRestartsnmpagent() {
  client_.RestartAdapterAgent();
}

void CManageAdapter::OnButtonRunTest() {
  if (SetCommunityNames() != 1 || HasTimer(kTestTimer)) return;
  client_.InitiateBatteryTest();
  UpdateBatteryInfo();
  StartTimer(kTestTimer);
  EnableButtons(false, false, false, false, false);
}

void CManageAdapter::UpdateBatteryInfo() {
  const int state = client_.UpdateBatteryTest();
  if (state >= 0 && state <= 5) {
    test_result_ = LoadString(kTestPassed + state);
    result_edit_->setText(test_result_);
  }
}

void CManageAdapter::UpdatePendingTimes() {
  auto text = [](int seconds) {
    return seconds == -1 ? LoadString(kNone) : QStringLiteral("%1 seconds").arg(seconds);
  };
  pending_off_text_ = text(pending_off_);
  pending_on_text_ = text(pending_on_);
  off_edit_->setText(pending_off_text_);
  on_edit_->setText(pending_on_text_);
  if (HasTimer(kCountdownTimer) && pending_off_ < 1 && pending_on_ < 1) StopTimer(kCountdownTimer);
}

void CManageAdapter::StartTimer(int timerId) {
  if (HasTimer(timerId)) return;
  if (timerId == kCountdownTimer) SetTimer(kCountdownTimer, kCountdownMs);
  if (timerId == kTestTimer) SetTimer(kTestTimer, kTestMs);
}

void CManageAdapter::StopTimer(int timerId) {
  if (timerId == kCountdownTimer) {
    KillTimer(kCountdownTimer);
    pending_off_ = -1;
    pending_on_ = -1;
    UpdatePendingTimes();
  } else if (timerId == kTestTimer) {
    KillTimer(kTestTimer);
    UpdateBatteryInfo();
  } else {
    return;
  }
  EnableButtons(true, false, true, true, true);
}

void CManageAdapter::OnTimer(int timerId) {
  if (timerId == kCountdownTimer) {
    // One counter at a time, the pending on first.
    if (pending_on_ >= 0) {
      --pending_on_;
    } else if (pending_off_ >= 0) {
      --pending_off_;
    }
    UpdatePendingTimes();
  } else if (timerId == kTestTimer) {
    UpdateBatteryInfo();
    if (test_result_ != LoadString(kTestInProgress)) StopTimer(kTestTimer);
  } else {
    KTDialog::OnTimer(timerId);
  }
}

void CManageAdapter::OnOk() {
  UpdateData(true);
  client_.WriteAdapterText(contact_.toUtf8().constData());
  {
    KT_HostControl writer;
    const int index = gHosts.FindHostByName(name_.toUtf8().constData());
    HostEntry* host = index >= 0 ? gHosts.GetHostByIndex(index) : nullptr;
    if (host != nullptr) {
      host->Address().SetReadCommunity(get_community_.toUtf8().constData());
      host->Address().SetWriteCommunity(set_community_.toUtf8().constData());
    }
    if (host == nullptr) {
      writer.Release();
      BoxError(kInvalidHost);
      return;
    }
  }
  KillTimer(kCountdownTimer);
  KillTimer(kTestTimer);
  KTDialog::OnOK();
}

void CManageAdapter::OnCancel() {
  KillTimer(kCountdownTimer);
  KillTimer(kTestTimer);
  KTDialog::OnCancel();
}
