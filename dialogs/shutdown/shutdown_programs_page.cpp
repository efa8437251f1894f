#include "dialogs/shutdown/shutdown_programs_page.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "dialogs/filesaver/file_saver_dlg.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/file_dialog.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/information/record_text_validator.h"
#include "dialogs/shutdown/page_fields.h"

TREM_REGISTER_DIALOG(ShutdownProgramsPage);

static const StringTableRegistrar kStrings{
    {3577,
     "Operating system shutdown time is out of range!\nAPC UPS can only accept 3, 5, or 10 minutes values."},
    {3578,
     "Operating system shutdown time is out of range!\nSelect a value between 1 and 479 minutes for this "
     "UPS."},
    {3579,
     "Operating system shutdown time is out of range!\nSelect a value between 1 and 4 minutes for this UPS."},
    {3580,
     "The time required to shutdown the operating system \nplus the time on battery before starting "
     "shutdown \nprocess exceeds the total battery time available."},
    {3581,
     "You have selected to run a pre-shutdown command prior to shutting\n down the system, please "
     "provide the filename of the command."},
    {3582,
     "Warning!  \nUnable to set the operating system shutdown time.\nThe value entered exceeds the "
     "maximum limit."},
    {3583, "Unable to set the low battery option of the pre-shutdown command."},
};

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, ShutdownProgramsPage::kHelpContext, "Software Programs",
    "The time the operating system needs to shut down; with the wait before the shutdown starts "
    "it must fit into the total battery time.\n\n"
    "A pre-shutdown command runs before the operating system is shut down, on a low-battery "
    "shutdown too when asked. Browse chooses the command's file.");

namespace {
constexpr uint16_t kUnset = 0xFFFF;
// Communication mode of a console that talks to the agent on its own computer.
constexpr int kLocalCommMode = 3;
}  // namespace

ShutdownProgramsPage::ShutdownProgramsPage(QWidget* parent, const QString& hostName)
    : ShutdownPage(ShutdownPageId::Programs, IDD_SHUTDOWN_PROGRAMS_PAGE, parent, hostName) {
  BuildControls();
  Create(IDD_SHUTDOWN_PROGRAMS_PAGE);
}

void ShutdownProgramsPage::BuildControls() {
  setWindowTitle(QStringLiteral("Configure Shutdown Parameters - Software Programs"));
  auto* layout = new QVBoxLayout(this);
  auto* grid = new QGridLayout;
  os_time_ = MakeMinutesEdit(this, IDC_PROG_OS_TIME);
  AddQuestionRow(grid, 0,
                 QStringLiteral("How long does it take for the operating system to shut down under normal "
                                "conditions?"),
                 os_time_);
  grid->setColumnStretch(0, 1);
  layout->addLayout(grid);
  layout->addSpacing(8);

  auto* saverRow = new QHBoxLayout;
  file_saver_ = new QCheckBox(this);
  file_saver_->setObjectName(ControlName(IDC_PROG_FILE_SAVER));
  file_saver_text_ = new QLabel(
      QStringLiteral("Run the File Saver program before the operating system is shut down."), this);
  file_saver_text_->setObjectName(ControlName(IDC_PROG_FILE_SAVER_TEXT));
  file_saver_text_->setBuddy(file_saver_);
  setup_saver_ = MakeButton(IDC_PROG_SETUP_SAVER, QStringLiteral("Setup File Saver..."));
  setup_saver_->setAutoDefault(false);
  saverRow->addWidget(file_saver_);
  saverRow->addWidget(file_saver_text_, 1);
  saverRow->addWidget(setup_saver_);
  layout->addLayout(saverRow);

  run_command_ = new QCheckBox(
      QStringLiteral("Run a pre-shutdown command before the operating system is shut down."), this);
  run_command_->setObjectName(ControlName(IDC_PROG_RUN_COMMAND));
  low_battery_ =
      new QCheckBox(QStringLiteral("Run the pre-shutdown command during a low battery shutdown."), this);
  low_battery_->setObjectName(ControlName(IDC_PROG_LOW_BATTERY));
  layout->addWidget(run_command_);
  layout->addWidget(low_battery_);

  auto* commandRow = new QHBoxLayout;
  command_label_ = new QLabel(QStringLiteral("Pre-shutdown &Command:"), this);
  command_label_->setObjectName(ControlName(IDC_PROG_COMMAND_LABEL));
  command_ = new QLineEdit(this);
  command_->setObjectName(ControlName(IDC_PROG_COMMAND));
  command_->setMaxLength(255);
  command_->setValidator(new RecordTextValidator(command_));
  command_label_->setBuddy(command_);
  browse_ = MakeButton(IDC_PROG_BROWSE, QStringLiteral("B&rowse..."));
  browse_->setAutoDefault(false);
  commandRow->addWidget(command_label_);
  commandRow->addWidget(command_, 1);
  commandRow->addWidget(browse_);
  layout->addLayout(commandRow);
  layout->addStretch(1);
  layout->addSpacing(8);
  layout->addWidget(MakeFitNote());
  layout->addLayout(MakePageButtons(OffersLoadSegments() || OffersClients(), true));

  connect(file_saver_, &QCheckBox::toggled, this, [this] { UpdateVisibility(); });
  connect(run_command_, &QCheckBox::toggled, this, [this] { UpdateVisibility(); });
  connect(low_battery_, &QCheckBox::toggled, this, [this] { UpdateVisibility(); });
  connect(browse_, &QPushButton::clicked, this, [this] { OnBrowse(); });
  connect(setup_saver_, &QPushButton::clicked, this, [this] { OnSetupFileSaver(); });
  setTabOrder(os_time_, file_saver_);
  setTabOrder(file_saver_, setup_saver_);
  setTabOrder(setup_saver_, run_command_);
  setTabOrder(run_command_, low_battery_);
  setTabOrder(low_battery_, command_);
  setTabOrder(command_, browse_);
}

bool ShutdownProgramsPage::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  const OsTimeRule rule = OsTimeRule::Current();
  uint16_t os;
  uint8_t lowBattery, saver;
  std::optional<std::string> command;
  {
    auto lock = gScp.Lock();
    os = gScp.config.GetOsShutdownTime();
    lowBattery = gScp.config.GetCommandOnLowBattery();
    saver = gScp.config.GetRunFileSaver();
    command = gScp.config.GetPreShutdownCommand();
  }
  // A held time this UPS does not take is shown as the one it takes instead, and said so.
  const int shown = rule.Shown(os);
  os_time_->setText(QString::number(shown));
  if (os != kUnset && shown * 60 != os) {
    const int held = os;
    ShowFitNote({FitLine(QStringLiteral("Operating system shutdown time"), shown, held,
                         shown == (held + 59) / 60 ? QStringLiteral("the page sets whole minutes")
                                                   : QStringLiteral("this UPS takes %1").arg(rule.Range()))});
  }
  low_battery_->setChecked(lowBattery == 1 || lowBattery == 255);
  local_ = gnCommMode == kLocalCommMode;
  saver_offered_ = local_;
  if (local_) {
    file_saver_->setChecked(saver == 1);
  } else {
    file_saver_->setChecked(false);
    file_saver_->hide();
    file_saver_text_->hide();
  }
  const bool hasCommand = command.has_value() && !command->empty();
  command_->setText(hasCommand ? QString::fromStdString(*command) : QString());
  run_command_->setChecked(hasCommand);
  UpdateVisibility();
  SetHostCaption(QStringLiteral("Configure Shutdown Parameters - Software Programs"));
  os_time_->setFocus();
  return true;
}

void ShutdownProgramsPage::UpdateVisibility() {
  setup_saver_->setVisible(saver_offered_ && file_saver_->isChecked());
  const bool command = run_command_->isChecked() || low_battery_->isChecked();
  command_label_->setVisible(command);
  command_->setVisible(command);
  browse_->setVisible(command);
}

QString ShutdownProgramsPage::Check() {
  int total, start;
  {
    auto lock = gScp.Lock();
    const uint16_t t = gScp.config.GetTotalBatteryTime();
    const uint16_t s = gScp.config.GetShutdownStartDelay();
    total = (t == kUnset ? 7 : t) * 60;
    start = (s == kUnset ? 5 : s) * 60;
  }
  const int minutes = MinutesOf(os_time_);
  os_seconds_ = std::max(0, minutes) * 60;
  const OsTimeRule rule = OsTimeRule::Current();
  QString refusal;
  if (!rule.Accepts(minutes)) {
    refusal = LoadString(rule.smartUps ? 3577 : rule.maxMinutes > 4 ? 3578 : 3579);
  }
  if (os_seconds_ + start > total) {
    refusal = LoadString(3580);
  } else if (refusal.isEmpty()) {
    if (!run_command_->isChecked() && !low_battery_->isChecked()) {
      command_->clear();
    } else if (command_->text().trimmed().isEmpty()) {
      refusal = LoadString(3581);
    }
  }
  return refusal;
}

bool ShutdownProgramsPage::Apply() {
  QString failure;
  auto lock = gScp.Lock();
  if (gScp.config.SetOsShutdownTime(os_seconds_) < 0) failure = LoadString(3582);
  const QString command = command_->text();
  if (command.isEmpty())
    gScp.config.ClearPreShutdownCommand();
  else
    gScp.config.SetPreShutdownCommand(command.toUtf8().constData());
  if (gScp.config.SetCommandOnLowBattery(low_battery_->isChecked() ? 1 : 0) < 0) failure = LoadString(3583);
  if (file_saver_->isChecked())
    gScp.config.SetRunFileSaver();
  else
    gScp.config.ClearRunFileSaver();
  lock.unlock();
  if (!failure.isEmpty()) {
    TremMessageBox(this, failure, MB_OK);
    return false;
  }
  return true;
}

void ShutdownProgramsPage::OnBrowse() {
  QString chosen;
  if (GetFileDialogLayer().GetOpenFileName(this, QStringLiteral("Pre-shutdown Command"), QString(),
                                           QStringLiteral("All Files (*)"), chosen))
    command_->setText(chosen);
}

void ShutdownProgramsPage::OnSetupFileSaver() {
  FileSaverDlg::Open(this);
}

std::optional<ShutdownPageId> ShutdownProgramsPage::NextPage() const {
  if (OffersLoadSegments()) return ShutdownPageId::LoadSegment;
  if (OffersClients()) return ShutdownPageId::Clients;
  return std::nullopt;
}

void ShutdownProgramsPage::OnNext() {
  const std::optional<ShutdownPageId> target = NextPage();
  if (target && GoTo(*target)) ShutdownPage::OnOK();
}

void ShutdownProgramsPage::OnBack() {
  if (GoBack(ShutdownPageId::Ups)) ShutdownPage::OnOK();
}
