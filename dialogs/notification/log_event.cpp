#include "dialogs/notification/log_event.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialogs/eventlog/event_log_config.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/notification/action_helpers.h"
#include "dialogs/notification/event_notification.h"

DialogPointer<CLogEvent> pLogEvent{DialogSlot::LogEvent};

TREM_REGISTER_DIALOG(CLogEvent);

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CLogEvent::kHelpContext, "Log Event",
    "Whether the agent records the selected events in its own event log file and in the "
    "system's application log. Clearing a box removes that record from every selected event "
    "that has it.");

CLogEvent::CLogEvent(QWidget* parent, const QString& hostName) : ActionDialog(kTemplateId, parent, hostName) {
  Init();
}

CLogEvent::CLogEvent(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                     const QStringList& hostNames)
    : ActionDialog(kTemplateId, parent, selectionLabel, hostName, hostNames) {
  Init();
}

void CLogEvent::Init() {
  BindDialogPointer(pLogEvent);
  SetWaitCount(0);
  BuildControls();
  Create(kTemplateId);
}

CLogEvent::~CLogEvent() = default;

void CLogEvent::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  event_log_ = new QCheckBox(QStringLiteral("Log event to the Tremona &Event Log file"), this);
  event_log_->setObjectName(ControlName(IDC_EVENT_LOG));
  application_log_ = new QCheckBox(QStringLiteral("Log event to the &Application Log file"), this);
  application_log_->setObjectName(ControlName(IDC_APPLICATION_LOG));
  layout->addWidget(event_log_);
  layout->addWidget(application_log_);
  layout->addStretch(1);
  auto* buttons = MakeButtonRow({IDOK, IDCANCEL, IDC_CONFIGURE, ID_HELP});
  layout->addLayout(buttons);
  configure_ = Control<QPushButton>(IDC_CONFIGURE);
  configure_->setText(QStringLiteral("&Configure"));
  configure_->setAutoDefault(false);
  connect(configure_, &QPushButton::clicked, this, [this] { OnConfigure(); });
  setTabOrder(event_log_, application_log_);
  setTabOrder(application_log_, Control(IDOK));
  resize(380, 150);
}

bool CLogEvent::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  GetCurrentConfig();
  int supported = 0;
  {
    auto lock = gScp.Lock();
    supported = gScp.notify.TestSupportBit(SUPPORT_ACTIONS, 1, 2);
  }
  application_log_->setEnabled(supported == 1);
  SetHostCaption(QStringLiteral("Log Event"));
  return true;
}

void CLogEvent::OnNewData(unsigned /*status*/, unsigned /*block*/, unsigned /*branch*/, unsigned /*item*/) {
  GetCurrentConfig();
}

void CLogEvent::GetCurrentConfig() {
  event_log_->setChecked(true);
  application_log_->setChecked(true);
  const int event = SingleSelectedEvent();
  if (event == 0) return;
  KT_ActionEntry entry;
  auto lock = gScp.Lock();
  event_log_->setChecked(gScp.notify.FindAction(event, ACTION_EVENT_LOG, entry));
  application_log_->setChecked(gScp.notify.FindAction(event, ACTION_APPLICATION_LOG, entry));
}

void CLogEvent::OnConfigure() {
  if (DialogIsOpen(pEventLogConfig.get())) {
    pEventLogConfig->raise();
    pEventLogConfig->activateWindow();
    return;
  }
  if (!HostList().isEmpty()) {
    new CEventLogConfig(this, SelectionLabel(), HostName(), HostList());
  } else {
    new CEventLogConfig(this, HostName());
  }
}

void CLogEvent::OnOK() {
  // A disabled box is inert: it neither adds nor removes its action (the agent cannot be
  // given that action, and records it already holds stay).
  struct Box {
    const QCheckBox* box;
    uint8_t action;
  };
  const Box kBoxes[] = {{event_log_, ACTION_EVENT_LOG}, {application_log_, ACTION_APPLICATION_LOG}};
  int refused = 0;
  {
    auto lock = gScp.Lock();
    for (int event : gpSelectedEvents) {
      for (const Box& b : kBoxes) {
        if (!b.box->isEnabled()) continue;
        const KT_ActionEntry entry(static_cast<uint8_t>(event), b.action);
        if (b.box->isChecked()) {
          if (!AddOrReplaceAction(gScp.notify, entry)) ++refused;
        } else {
          gScp.notify.RemoveAction(entry);
        }
      }
    }
  }
  for (int i = 0; i < refused; ++i) ReportAddRefused();
  ReloadNotificationList();
  KTDialog::OnOK();
}
