#include "dialogs/information/serial_device_config.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <optional>
#include <string>
#include <vector>

#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/information/record_text_validator.h"

DialogPointer<CSerialDeviceConfig> pSerialDeviceConfig{DialogSlot::SerialDeviceConfig};

TREM_REGISTER_DIALOG(CSerialDeviceConfig);

static const StringTableRegistrar kStrings{
    {1250, "Configure Serial Device"},
    {3420, "COM1"},
    {3421, "COM2"},
    {3422, "COM3"},
    {3423, "COM4"},
    {3523, "IsFunctionSupported failure"},
    {3524,
     "Additional hardware is required in\norder to implement this feature.\n\nInsure that the Client/Server "
     "UPS\nhardware has been installed before\nproceeding with this selection."},
};

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CSerialDeviceConfig::kHelpContext, "Configure Serial Device",
    "Sets how the agent reaches its UPS over a serial line.\n\n"
    "Device Name is the serial port the UPS cable is plugged into; the list holds the ports the "
    "agent's computer has.\n\n"
    "Local Serial Device: the UPS serves this computer alone. Server and Client Serial Device "
    "share one UPS among several computers and need the UPS-sharing hardware; these choices are "
    "only offered when the UPS has it.\n\n"
    "Disable Serial Loopback Test skips the cable check the agent makes when it starts.");

namespace {
constexpr const char* kNoPortList = "Unable to assemble list of available serial ports.";
}

CSerialDeviceConfig::CSerialDeviceConfig(QWidget* parent, const QString& hostName)
    : KTDialog(kTemplateId, parent, hostName) {
  Init();
}

CSerialDeviceConfig::CSerialDeviceConfig(QWidget* parent, const QString& selectionLabel,
                                         const QString& hostName, const QStringList& hostNames)
    : KTDialog(kTemplateId, parent, selectionLabel, hostName, hostNames) {
  Init();
}

void CSerialDeviceConfig::Init() {
  BindDialogPointer(pSerialDeviceConfig);
  // Five requests, four replies handed to the dialog. With all networks (mode 4) the two
  // replies of the UPS information block land in the host's own image and never reach the
  // dialog, so only the two configuration replies are awaited.
  SetWaitCount(gnCommMode == 4 ? 2 : 4);
  device_name_.clear();
  role_ = -1;
  os_type_ = -1;
  BuildControls();
  Create(kTemplateId);
}

CSerialDeviceConfig::~CSerialDeviceConfig() = default;

void CSerialDeviceConfig::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  auto* roleBox = new QGroupBox(QStringLiteral("Serial Device Type"), this);
  auto* roleLayout = new QVBoxLayout(roleBox);
  roles_ = new QButtonGroup(this);
  const struct {
    int id;
    const char* text;
    int role;
  } kRoles[] = {{IDC_LOCAL, "&Local Serial Device", kRoleLocal},
                {IDC_SERVER, "&Server Serial Device", kRoleServer},
                {IDC_CLIENT, "C&lient Serial Device", kRoleClient}};
  for (const auto& r : kRoles) {
    auto* button = new QRadioButton(QString::fromLatin1(r.text), roleBox);
    button->setObjectName(ControlName(r.id));
    roles_->addButton(button, r.role);
    roleLayout->addWidget(button);
  }
  connect(roles_->button(kRoleServer), &QRadioButton::clicked, this, [this] { OnMasterPortSelected(); });
  connect(roles_->button(kRoleClient), &QRadioButton::clicked, this, [this] { OnClientPortSelected(); });
  layout->addWidget(roleBox);

  auto* deviceRow = new QHBoxLayout;
  auto* label = new QLabel(QStringLiteral("&Device Name:"), this);
  label->setObjectName(ControlName(IDC_DEVICE_LABEL));
  device_ = new QComboBox(this);
  device_->setObjectName(ControlName(IDC_DEVICE_NAME));
  device_->setEditable(true);
  device_->setInsertPolicy(QComboBox::NoInsert);
  device_->lineEdit()->setMaxLength(255);
  device_->setValidator(new RecordTextValidator(device_));
  device_->setMinimumContentsLength(18);
  device_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  label->setBuddy(device_);
  deviceRow->addWidget(label);
  deviceRow->addWidget(device_, 1);
  layout->addLayout(deviceRow);

  no_loopback_ = new QCheckBox(QStringLiteral("Disable Serial Loopback &Test"), this);
  no_loopback_->setObjectName(ControlName(IDC_NO_LOOPBACK));
  no_loopback_->hide();  // shown once the dialog asked for its setting
  layout->addWidget(no_loopback_);
  layout->addSpacing(6);
  layout->addLayout(MakeButtonRow({IDOK, IDCANCEL, ID_HELP}));
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

bool CSerialDeviceConfig::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  {
    auto lock = gScp.Lock();
    gScp.config.Ports().Clear();
  }
  RequestData(2, 4, 1);
  RequestData(2, 1, 0);
  RequestData(4, 1, 0);
  RequestData(4, 11, 0);
  RequestData(4, 13, 1);
  SetHostCaption(1250);
  no_loopback_->show();
  return true;
}

void CSerialDeviceConfig::OnNewData(unsigned /*status*/, unsigned block, unsigned branch, unsigned /*item*/) {
  if (block == 2) {
    UpdateInfo(static_cast<int>(branch));
  } else if (block == 4) {
    if (branch == 11) {
      UpdateSerialPorts();
    } else {
      OnConfigBlock();
    }
  }
}

void CSerialDeviceConfig::UpdateData(bool save) {
  if (save) {
    device_name_ = device_->currentText();
    role_ = roles_->checkedId();
  } else {
    device_->setEditText(device_name_);
    if (role_ >= kRoleLocal && role_ <= kRoleClient) {
      roles_->button(role_)->setChecked(true);
    } else if (QAbstractButton* checked = roles_->checkedButton()) {
      roles_->setExclusive(false);
      checked->setChecked(false);
      roles_->setExclusive(true);
    }
  }
}

void CSerialDeviceConfig::UpdateInfo(int kind) {
  if (kind == 4) {
    auto lock = gScp.Lock();
    os_type_ = gScp.upsInfo.GetOsType();
    return;
  }
  int supported = 0;
  {
    auto lock = gScp.Lock();
    supported = gScp.upsInfo.IsFunctionSupported(2, 2);
  }
  if (supported == 0) {
    for (int role : {kRoleLocal, kRoleServer, kRoleClient}) roles_->button(role)->hide();
    // Their group would stand empty.
    roles_->button(kRoleLocal)->parentWidget()->hide();
  } else if (supported < 0) {
    TremMessageBox(this, LoadString(3523), MB_OK);
  }
}

void CSerialDeviceConfig::OnConfigBlock() {
  uint32_t noLoopback = 0;
  {
    auto lock = gScp.Lock();
    switch (gScp.config.GetCommMode()) {
      case 1:
        role_ = kRoleServer;
        break;
      case 2:
        role_ = kRoleClient;
        break;
      default:
        role_ = kRoleLocal;
        break;
    }
    noLoopback = gScp.config.GetNoLoopbackTest();
  }
  no_loopback_->setChecked(noLoopback != 0 && noLoopback != 0xFFFFFFFFu);
  UpdateData(false);
}

void CSerialDeviceConfig::UpdateSerialPorts() {
  std::vector<std::string> ports;
  std::optional<std::string> current;
  {
    auto lock = gScp.Lock();
    ports = gScp.config.Ports().Ports();
    current = gScp.config.GetSerialDeviceName();
  }
  bool report = false;
  // A repeated answer replaces the list rather than adding to it.
  device_->clear();
  if (!ports.empty()) {
    for (const std::string& port : ports) device_->addItem(QString::fromStdString(port));
  } else if (os_type_ >= 1 && os_type_ <= 3) {
    for (int id = 3420; id <= 3423; ++id) device_->addItem(LoadString(id));
  } else {
    report = true;
  }
  if (current) device_name_ = QString::fromStdString(*current);
  UpdateData(false);
  if (report) TremMessageBox(this, QString::fromLatin1(kNoPortList), MB_OK | MB_ICONEXCLAMATION);
}

void CSerialDeviceConfig::ShowHardwareWarning() {
  if (QWidget* ok = Control(IDOK)) ok->setFocus();
  TremMessageBox(this, LoadString(3524), MB_OK | MB_ICONEXCLAMATION);
}

void CSerialDeviceConfig::OnMasterPortSelected() {
  ShowHardwareWarning();
}

void CSerialDeviceConfig::OnClientPortSelected() {
  ShowHardwareWarning();
}

void CSerialDeviceConfig::OnOK() {
  UpdateData(true);
  {
    auto lock = gScp.Lock();
    gScp.config.SetNoLoopbackTest(no_loopback_->isChecked() ? 1 : 0);
    gScp.config.Branches().Touch(13);
  }
  SendCommand(4, 13, 1);
  {
    auto lock = gScp.Lock();
    gScp.config.SetCommMode(role_);
    gScp.config.SetSerialDeviceName(device_name_.toStdString().c_str());
    gScp.config.Branches().Touch(1);
  }
  SendCommand(4, 1, 1);
  SendCommand(4, 1, 3);
  KTDialog::OnOK();
}
