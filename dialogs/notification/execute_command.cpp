#include "dialogs/notification/execute_command.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/file_dialog.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/information/record_text_validator.h"
#include "dialogs/notification/action_helpers.h"
#include "dialogs/notification/event_notification.h"

DialogPointer<CExecuteCommand> pExecuteCommand{DialogSlot::ExecuteCommand};

TREM_REGISTER_DIALOG(CExecuteCommand);

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CExecuteCommand::kHelpContext, "Configure Execute Command",
    "The program the agent runs when one of the selected events occurs: its complete path, "
    "followed by its arguments, and the time the agent waits before running it.");

CExecuteCommand::CExecuteCommand(QWidget* parent, const QString& hostName)
    : ActionDialog(kTemplateId, parent, hostName) {
  Init();
}

CExecuteCommand::CExecuteCommand(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                                 const QStringList& hostNames)
    : ActionDialog(kTemplateId, parent, selectionLabel, hostName, hostNames) {
  Init();
}

void CExecuteCommand::Init() {
  BindDialogPointer(pExecuteCommand);
  SetWaitCount(0);
  BuildControls();
  Create(kTemplateId);
}

CExecuteCommand::~CExecuteCommand() = default;

void CExecuteCommand::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  auto* commandLabel = new QLabel(QStringLiteral("Complete &path and file name"), this);
  command_ = new QLineEdit(this);
  command_->setObjectName(ControlName(IDC_COMMAND));
  command_->setMaxLength(254);
  command_->setValidator(new RecordTextValidator(command_));
  command_->setMinimumWidth(340);
  commandLabel->setBuddy(command_);
  auto* browse = MakeButton(IDC_BROWSE, QStringLiteral("&Browse..."));
  browse->setAutoDefault(false);
  connect(browse, &QPushButton::clicked, this, [this] { OnBrowse(); });
  auto* commandRow = new QHBoxLayout;
  commandRow->addWidget(command_, 1);
  commandRow->addWidget(browse);
  layout->addWidget(commandLabel);
  layout->addLayout(commandRow);
  auto* timeGroup = new QGroupBox(QStringLiteral("Time"), this);
  auto* grid = new QGridLayout(timeGroup);
  delay_minutes_ = MakeTimeCombo(IDC_DELAY_MINUTES, 20);
  delay_seconds_ = MakeTimeCombo(IDC_DELAY_SECONDS, 59);
  AddTimeRow(grid, 0, new QLabel(QStringLiteral("Time to wait before executing command"), timeGroup),
             delay_minutes_, delay_seconds_);
  layout->addWidget(timeGroup);
  layout->addStretch(1);
  layout->addLayout(MakeButtonRow({IDOK, IDCANCEL, ID_HELP}));
  setTabOrder(command_, browse);
  setTabOrder(browse, delay_minutes_);
  setTabOrder(delay_minutes_, delay_seconds_);
  setTabOrder(delay_seconds_, Control(IDOK));
}

bool CExecuteCommand::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  GetCurrentConfig();
  SetHostCaption(QStringLiteral("Configure Execute Command"));
  return true;
}

void CExecuteCommand::OnNewData(unsigned /*status*/, unsigned block, unsigned /*branch*/, unsigned /*item*/) {
  if (block == 5) GetCurrentConfig();
}

void CExecuteCommand::GetCurrentConfig() {
  SelectTimeValue(delay_minutes_, 0);
  SelectTimeValue(delay_seconds_, 0);
  const int event = SingleSelectedEvent();
  if (event == 0) return;
  KT_ActionEntry entry;
  bool found = false;
  {
    auto lock = gScp.Lock();
    found = gScp.notify.FindAction(event, ACTION_COMMAND, entry);
  }
  if (!found) return;
  command_->setText(QString::fromStdString(entry.message.value_or(std::string())));
  SelectTimeValue(delay_minutes_, entry.delay / 60);
  SelectTimeValue(delay_seconds_, entry.delay % 60);
}

void CExecuteCommand::OnBrowse() {
  QString chosen;
  if (!GetFileDialogLayer().GetOpenFileName(this, QString(), QString(), QStringLiteral("All Files (*)"),
                                            chosen)) {
    return;
  }
  if (!RecordTextValidator::Fits(chosen)) {
    TremMessageBox(this, QStringLiteral("The path is too long to be stored."), MB_OK);
    return;
  }
  command_->setText(chosen);
}

void CExecuteCommand::OnOK() {
  const QString command = command_->text();
  if (command.isEmpty()) {
    TremMessageBox(this, QStringLiteral("Must supply a complete path and filename"), MB_OK);
    return;
  }
  for (QChar c : command) {
    if (QStringLiteral("*?<>|\"").contains(c)) {
      TremMessageBox(
          this,
          QStringLiteral("A filename cannot have any of the following characters:\n \\ / : * ? \\\" < > |"),
          MB_OK | MB_ICONERROR);
      return;
    }
  }
  const int delay = ReadTime(this, delay_minutes_, delay_seconds_, kDelayTexts);
  if (delay < 0) return;
  int refused = 0;
  {
    auto lock = gScp.Lock();
    for (int event : gpSelectedEvents) {
      KT_ActionEntry entry(static_cast<uint8_t>(event), ACTION_COMMAND);
      entry.delay = static_cast<uint16_t>(delay);
      entry.SetMessage(command.toStdString().c_str());
      if (!AddOrReplaceAction(gScp.notify, entry)) ++refused;
    }
  }
  for (int i = 0; i < refused; ++i) ReportAddRefused();
  ReloadNotificationList();
  KTDialog::OnOK();
}
