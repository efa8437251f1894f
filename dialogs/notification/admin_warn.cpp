#include "dialogs/notification/admin_warn.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/scp/event_log_block.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/file_dialog.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/information/record_text_validator.h"
#include "dialogs/notification/action_helpers.h"
#include "dialogs/notification/event_notification.h"

DialogPointer<CAdminWarn> pAdminWarn;

TREM_REGISTER_DIALOG(CAdminWarn);

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CAdminWarn::kHelpContext, "Configure Local Warning",
    "The warnings given on the agent's own computer when one of the selected events occurs: a "
    "message shown on its console, a sound file played, or both, with the time before the "
    "first warning and how often it is repeated.\n\n"
    "Clearing a box does not remove a warning configured earlier; delete it in Configure "
    "Events.");

namespace {

constexpr const char* kDelayText = "Delay before first message is sent";
constexpr const char* kShutdownDelayText = "Time before event occurs that message will be displayed";

bool IsAnnouncedShutdown(int event) {
  const QString name = QString::fromUtf8(GetEventName(event));
  return name.compare(QStringLiteral("Scheduled Shutdown"), Qt::CaseInsensitive) == 0 ||
         name.compare(QStringLiteral("Remote Shutdown"), Qt::CaseInsensitive) == 0;
}

}  // namespace

CAdminWarn::CAdminWarn(QWidget* parent, const QString& hostName)
    : ActionDialog(kTemplateId, parent, hostName) {
  Init();
}

CAdminWarn::CAdminWarn(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                       const QStringList& hostNames)
    : ActionDialog(kTemplateId, parent, selectionLabel, hostName, hostNames) {
  Init();
}

void CAdminWarn::Init() {
  BindDialogPointer(pAdminWarn);
  SetWaitCount(0);
  BuildControls();
  Create(kTemplateId);
}

CAdminWarn::~CAdminWarn() = default;

void CAdminWarn::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  auto* messageGroup = new QGroupBox(QStringLiteral("Message"), this);
  auto* grid = new QGridLayout(messageGroup);
  visual_ = new QCheckBox(QStringLiteral("&Visual Message"), messageGroup);
  visual_->setObjectName(ControlName(IDC_VISUAL));
  audible_ = new QCheckBox(QStringLiteral("&Audible Message"), messageGroup);
  audible_->setObjectName(ControlName(IDC_AUDIBLE));
  connect(visual_, &QCheckBox::clicked, this, [this] { OnVisualMsg(); });
  connect(audible_, &QCheckBox::clicked, this, [this] { OnAudioMsg(); });
  message_label_ = new QLabel(QStringLiteral("Message &Text"), messageGroup);
  message_label_->setObjectName(ControlName(IDC_MESSAGE_LABEL));
  message_ = new QPlainTextEdit(messageGroup);
  message_->setObjectName(ControlName(IDC_MESSAGE));
  message_->setTabChangesFocus(true);
  message_->setMinimumSize(380, 80);
  LimitToRecordText(message_, 254);
  message_label_->setBuddy(message_);
  audio_label_ = new QLabel(QStringLiteral("Audio &File Name"), messageGroup);
  audio_label_->setObjectName(ControlName(IDC_AUDIO_LABEL));
  audio_file_ = new QLineEdit(messageGroup);
  audio_file_->setObjectName(ControlName(IDC_AUDIO_FILE));
  audio_file_->setMaxLength(254);
  audio_file_->setValidator(new RecordTextValidator(audio_file_));
  audio_label_->setBuddy(audio_file_);
  browse_ = MakeButton(IDC_BROWSE, QStringLiteral("&Browse"));
  browse_->setAutoDefault(false);
  connect(browse_, &QPushButton::clicked, this, [this] { OnButtonBrowse(); });
  auto* boxes = new QHBoxLayout;
  boxes->addWidget(visual_);
  boxes->addWidget(audible_);
  boxes->addStretch(1);
  grid->addLayout(boxes, 0, 0, 1, 2);
  grid->addWidget(message_label_, 1, 0, 1, 2);
  grid->addWidget(message_, 2, 0, 1, 2);
  grid->addWidget(audio_label_, 3, 0, 1, 2);
  grid->addWidget(audio_file_, 4, 0);
  grid->addWidget(browse_, 4, 1);
  layout->addWidget(messageGroup, 1);

  auto* timeGroup = new QGroupBox(QStringLiteral("Time"), this);
  auto* timeGrid = new QGridLayout(timeGroup);
  delay_minutes_ = MakeTimeCombo(IDC_DELAY_MINUTES, 20);
  interval_minutes_ = MakeTimeCombo(IDC_INTERVAL_MINUTES, 20);
  interval_seconds_ = MakeTimeCombo(IDC_INTERVAL_SECONDS, 59);
  delay_label_ = new QLabel(QString::fromUtf8(kDelayText), timeGroup);
  delay_label_->setObjectName(ControlName(IDC_DELAY_LABEL));
  AddTimeRow(timeGrid, 0, delay_label_, delay_minutes_, nullptr);
  AddTimeRow(timeGrid, 1, new QLabel(QStringLiteral("Frequency at which message is sent"), timeGroup),
             interval_minutes_, interval_seconds_);
  layout->addWidget(timeGroup);
  layout->addLayout(MakeButtonRow({IDOK, IDCANCEL, ID_HELP}));
  setTabOrder(visual_, audible_);
  setTabOrder(audible_, message_);
  setTabOrder(message_, audio_file_);
  setTabOrder(audio_file_, browse_);
  setTabOrder(browse_, delay_minutes_);
  setTabOrder(delay_minutes_, interval_minutes_);
  setTabOrder(interval_minutes_, interval_seconds_);
  setTabOrder(interval_seconds_, Control(IDOK));
}

bool CAdminWarn::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  GetCurrentConfig();
  SetHostCaption(QStringLiteral("Configure Administrative Warning"));
  OnAudioMsg();
  OnVisualMsg();
  return true;
}

void CAdminWarn::ShowTimes(const KT_ActionEntry& entry) {
  SelectTimeValue(delay_minutes_, entry.delay / 60);
  SelectTimeValue(interval_minutes_, entry.interval / 60);
  SelectTimeValue(interval_seconds_, entry.interval % 60);
}

void CAdminWarn::GetCurrentConfig() {
  SelectTimeValue(delay_minutes_, 0);
  SelectTimeValue(interval_minutes_, 1);
  SelectTimeValue(interval_seconds_, 0);
  delay_label_->setText(QString::fromUtf8(kDelayText));
  const int event = SingleSelectedEvent();
  if (event == 0) return;
  if (IsAnnouncedShutdown(event)) delay_label_->setText(QString::fromUtf8(kShutdownDelayText));
  KT_ActionEntry visual;
  KT_ActionEntry audio;
  bool hasVisual = false;
  bool hasAudio = false;
  {
    auto lock = gScp.Lock();
    hasVisual = gScp.notify.FindAction(event, ACTION_CONSOLE_WARNING, visual);
    hasAudio = gScp.notify.FindAction(event, ACTION_AUDIO, audio);
  }
  if (hasVisual) {
    message_->setPlainText(QString::fromStdString(visual.message.value_or(std::string())));
    visual_->setChecked(true);
    ShowTimes(visual);
  }
  // After the console warning, so that the audio action's times win.
  if (hasAudio) {
    audio_file_->setText(QString::fromStdString(audio.message.value_or(std::string())));
    audible_->setChecked(true);
    ShowTimes(audio);
  }
}

void CAdminWarn::OnVisualMsg() {
  const bool on = visual_->isChecked();
  message_label_->setEnabled(on);
  message_->setEnabled(on);
}

void CAdminWarn::OnAudioMsg() {
  const bool on = audible_->isChecked();
  audio_label_->setEnabled(on);
  audio_file_->setEnabled(on);
  browse_->setEnabled(on);
}

void CAdminWarn::OnButtonBrowse() {
  QString chosen;
  if (!GetFileDialogLayer().GetOpenFileName(this, QString(), QString(), QStringLiteral("All Files (*)"),
                                            chosen)) {
    return;
  }
  if (!RecordTextValidator::Fits(chosen)) {
    TremMessageBox(this, QStringLiteral("The path is too long to be stored."), MB_OK);
    return;
  }
  audio_file_->setText(chosen);
}

void CAdminWarn::OnOK() {
  if (!visual_->isChecked() && !audible_->isChecked()) {
    TremMessageBox(this, QStringLiteral("Please select Visual Message and/or Audio Message. "), MB_OK);
    return;
  }
  const int interval = ReadTime(this, interval_minutes_, interval_seconds_, kIntervalTexts);
  if (interval < 0) return;
  const int delay = ReadTime(this, delay_minutes_, nullptr, kDelayTexts);
  if (delay < 0) return;
  // Each ticked box stores its records; a missing text stops at that box, what was stored
  // before it stays.
  auto store = [&](uint8_t action, const QString& text) {
    int refused = 0;
    {
      auto lock = gScp.Lock();
      for (int event : gpSelectedEvents) {
        KT_ActionEntry entry(static_cast<uint8_t>(event), action);
        entry.delay = static_cast<uint16_t>(delay);
        entry.interval = static_cast<uint16_t>(interval);
        entry.SetMessage(text.toStdString().c_str());
        if (!AddOrReplaceAction(gScp.notify, entry)) ++refused;
      }
    }
    for (int i = 0; i < refused; ++i) ReportAddRefused();
  };
  if (visual_->isChecked()) {
    const QString message = message_->toPlainText();
    if (message.isEmpty()) {
      TremMessageBox(this, QStringLiteral("Please enter a message to be sent."), MB_OK);
      message_->setFocus();
      return;
    }
    store(ACTION_CONSOLE_WARNING, message);
  }
  if (audible_->isChecked()) {
    const QString file = audio_file_->text();
    if (file.isEmpty()) {
      TremMessageBox(this, QStringLiteral("Please enter an audio filename to be played."), MB_OK);
      audio_file_->setFocus();
      ReloadNotificationList();
      return;
    }
    store(ACTION_AUDIO, file);
  }
  ReloadNotificationList();
  KTDialog::OnOK();
}
