#include "dialogs/network/networking_prop_config.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/network/net_settings.h"
#include "dialogs/network/spin_field.h"

DialogPointer<CNetworkingPropConfig> pNetworkingPropConfig;

TREM_REGISTER_DIALOG(CNetworkingPropConfig);

namespace {
constexpr int kWriteFailedText = 3449;
constexpr int kCaptionText = 3199;
}  // namespace

CNetworkingPropConfig::CNetworkingPropConfig(QWidget* parent, const QString& hostName)
    : KTDialog(IDD_NETWORKING_PROP, parent, hostName) {
  BindDialogPointer(pNetworkingPropConfig);
  ReadFileFromDisk();
  BuildControls();
  Create(IDD_NETWORKING_PROP);
}

CNetworkingPropConfig::CNetworkingPropConfig(QWidget* parent, const QString& selectionLabel,
                                             const QString& hostName, const QStringList& hostNames)
    : KTDialog(IDD_NETWORKING_PROP, parent, selectionLabel, hostName, hostNames) {
  BindDialogPointer(pNetworkingPropConfig);
  ReadFileFromDisk();
  BuildControls();
  Create(IDD_NETWORKING_PROP);
}

CNetworkingPropConfig::~CNetworkingPropConfig() = default;

void CNetworkingPropConfig::BuildControls() {
  setWindowTitle(LoadString(kCaptionText));
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
  polling_spin_ =
      MakeSpinField(this, IDC_NP_POLLING, kMinPollingIntervalSeconds, kMaxPollingIntervalSeconds, polling_);
  timeout_spin_ =
      MakeSpinField(this, IDC_NP_TIMEOUT, kMinCommTimeoutSeconds, kMaxCommTimeoutSeconds, timeout_);
  auto* pollingLabel = new QLabel(QStringLiteral("&Polling Interval :"), this);
  pollingLabel->setObjectName(ControlName(1996));
  pollingLabel->setBuddy(polling_spin_);
  auto* timeoutLabel = new QLabel(QStringLiteral("Time-out &Value :"), this);
  timeoutLabel->setObjectName(ControlName(1997));
  timeoutLabel->setBuddy(timeout_spin_);
  form->addRow(pollingLabel, polling_spin_);
  form->addRow(timeoutLabel, timeout_spin_);
  // The product's group: its mnemonic leads to the first field.
  group_ = new QGroupBox(QStringLiteral("&Tavona "), this);
  group_->setObjectName(ControlName(IDC_NP_PRODUCT));
  group_->setLayout(form);
  layout->addWidget(group_);
  layout->addSpacing(8);
  layout->addLayout(MakeButtonRow({IDOK, IDCANCEL, ID_HELP}));
  layout->setSizeConstraint(QLayout::SetFixedSize);
  setTabOrder(polling_spin_, timeout_spin_);
  polling_spin_->setFocus();
}

bool CNetworkingPropConfig::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHostCaption(kCaptionText);
  // Wide enough for the whole caption.
  group_->setMinimumWidth(fontMetrics().horizontalAdvance(windowTitle()) +
                          4 * fontMetrics().averageCharWidth());
  return true;
}

int CNetworkingPropConfig::ReadFileFromDisk() {
  NetSettingsFile values{PollingIntervalSeconds(), CommTimeoutSeconds()};
  const int read = ReadNetSettingsFile(QString::fromLatin1(kNetSettingsFileName), values);
  polling_ = values.pollingInterval;
  timeout_ = values.timeout;
  if (polling_spin_ != nullptr) {
    polling_spin_->setValue(polling_);
    timeout_spin_->setValue(timeout_);
  }
  return read;
}

int CNetworkingPropConfig::WriteFileToDisk() {
  if (WriteNetSettingsFile(QString::fromLatin1(kNetSettingsFileName), NetSettingsFile{polling_, timeout_}))
    return 1;
  ShowMessageBox(this, LoadString(kWriteFailedText), QString(), MB_OK);
  return 0;
}

void CNetworkingPropConfig::OnOK() {
  // A value outside its range keeps the dialog open, with the field to correct.
  if (!ReadSpinField(this, polling_spin_, polling_) || !ReadSpinField(this, timeout_spin_, timeout_)) return;
  if (polling_ != 0) SetPollingIntervalSeconds(polling_);
  if (timeout_ != 0) SetCommTimeoutSeconds(timeout_);
  if (WriteFileToDisk() == 1) KTDialog::OnOK();
}
