#include "dialogs/eventlog/event_log_config.h"

#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>
#include <algorithm>

#include "core/scp/config_block.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/file_dialog.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/trem_globals.h"

DialogPointer<CEventLogConfig> pEventLogConfig{DialogSlot::EventLogConfig};

TREM_REGISTER_DIALOG(CEventLogConfig);

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CEventLogConfig::kHelpContext, "Configure Event Log",
    "The file in the agent's folder that holds its event log, and the most events it keeps "
    "(10 to 100). The name is a plain file name: letters, digits, '.', '_' and '-'.");

CEventLogConfig::CEventLogConfig(QWidget* parent, const QString& hostName)
    : KTDialog(kTemplateId, parent, hostName) {
  Init();
}

CEventLogConfig::CEventLogConfig(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                                 const QStringList& hostNames)
    : KTDialog(kTemplateId, parent, selectionLabel, hostName, hostNames) {
  Init();
}

void CEventLogConfig::Init() {
  BindDialogPointer(pEventLogConfig);
  SetWaitCount(1);
  BuildControls();
  Create(kTemplateId);
}

CEventLogConfig::~CEventLogConfig() = default;

void CEventLogConfig::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  file_name_edit_ = new QLineEdit(this);
  file_name_edit_->setObjectName(ControlName(IDC_FILE_NAME));
  file_name_edit_->setMaxLength(64);
  file_name_edit_->setMinimumWidth(220);
  auto* browse = MakeButton(IDC_BROWSE, QStringLiteral("&Browse..."));
  browse->setAutoDefault(false);
  connect(browse, &QPushButton::clicked, this, [this] { OnBrowse(); });
  auto* fileRow = new QHBoxLayout;
  fileRow->addWidget(file_name_edit_, 1);
  fileRow->addWidget(browse);
  max_entries_edit_ = new QLineEdit(this);
  max_entries_edit_->setObjectName(ControlName(IDC_MAX_ENTRIES));
  max_entries_edit_->setMaxLength(5);
  max_entries_edit_->setValidator(new QIntValidator(0, 99999, max_entries_edit_));
  max_entries_edit_->setMaximumWidth(80);
  auto* fileLabel = new QLabel(QStringLiteral("&File Name"), this);
  fileLabel->setBuddy(file_name_edit_);
  form->addRow(fileLabel, fileRow);
  form->addRow(QStringLiteral("&Maximum Entries"), max_entries_edit_);
  layout->addLayout(form);
  layout->addStretch(1);
  layout->addLayout(MakeButtonRow({IDOK, IDCANCEL, ID_HELP}));
  setTabOrder(file_name_edit_, browse);
  setTabOrder(browse, max_entries_edit_);
  setTabOrder(max_entries_edit_, Control(IDOK));
}

bool CEventLogConfig::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  RequestData(4, 5, 0);
  SetHostCaption(QStringLiteral("Configure Event Log"));
  return true;
}

void CEventLogConfig::OnNewData(unsigned /*status*/, unsigned /*block*/, unsigned /*branch*/,
                                unsigned /*item*/) {
  OnConfigBlock();
}

void CEventLogConfig::OnConfigBlock() {
  int size = 0;
  std::optional<std::string> name;
  {
    auto lock = gScp.Lock();
    size = gScp.config.GetEventLogSize();
    name = gScp.config.GetEventLogFileName();
  }
  if (size != 255) max_entries_edit_->setText(QString::number(std::clamp(size, kMinEntries, kMaxEntries)));
  if (name && !name->empty()) file_name_edit_->setText(QString::fromStdString(*name));
  file_name_edit_->selectAll();
  file_name_edit_->setCursorPosition(0);
  file_name_edit_->selectAll();
}

void CEventLogConfig::OnBrowse() {
  QString chosen;
  if (!GetFileDialogLayer().GetSaveFileName(this, QStringLiteral("Save As"), QStringLiteral("*.*"),
                                            QStringLiteral("All Files (*.*)"), chosen))
    return;
  // The agent keeps the log in its own folder: only the name counts.
  file_name_edit_->setText(QFileInfo(chosen).fileName());
}

QString CEventLogConfig::PlainNameMessage() {
  return QStringLiteral(
      "The agent keeps its log only under a plain file name in its own folder: letters, digits, "
      "'.', '_' and '-', not starting with '.', at most 64 characters, and not the name of one of "
      "its other files.");
}

bool CEventLogConfig::VerifyData() {
  const QString entries = max_entries_edit_->text();
  bool number = false;
  const int max = entries.toInt(&number);
  const QString name = file_name_edit_->text();
  QString failure;
  if (!number || max < kMinEntries || max > kMaxEntries) {
    failure = QStringLiteral("Max Entries must be between 10 and 100");
  } else if (name.isEmpty()) {
    failure = QStringLiteral("Invalid filename specified");
  } else if (name.contains(QRegularExpression(QStringLiteral("[*?<>|\"]")))) {
    failure =
        QStringLiteral("A filename cannot have any of the following characters:\n \\ / : * ? \\\" < > |");
  } else if (!IsAllowedLogFileName(name.toStdString())) {
    failure = PlainNameMessage();
  }
  if (failure.isEmpty()) return true;
  ShowMessageBox(this, failure, gcsMessageBoxTitle, MB_OK | MB_ICONSTOP);
  return false;
}

void CEventLogConfig::OnOK() {
  if (!VerifyData()) return;
  const QByteArray name = file_name_edit_->text().toUtf8();
  {
    auto lock = gScp.Lock();
    gScp.config.SetEventLogSize(static_cast<uint16_t>(max_entries_edit_->text().toInt()));
    gScp.config.SetEventLogFileName(name.constData());
    gScp.config.Branches().Touch(5);
  }
  SendCommand(4, 5, 0);
  KTDialog::OnOK();
}
