#include "dialogs/information/ups_configuration.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>
#include <string>
#include <utility>

#include "core/base/setup_data.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"

DialogPointer<CUpsConfiguration> pUpsConfiguration{DialogSlot::UpsConfiguration};

TREM_REGISTER_DIALOG(CUpsConfiguration);

static const StringTableRegistrar kStrings{
    {1670, "Configure UPS Options"},
    {3537, "Horn status must be selected"},
    {3538, "Invalid low battery warning specified"},
};

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CUpsConfiguration::kHelpContext, "Configure UPS Options",
    "Sets two options of the UPS itself.\n\n"
    "Low Battery Warning: how many minutes of battery time are left when the UPS warns that "
    "its battery is running low.\n\n"
    "Audible Alarm: whether the UPS sounds its alarm when it runs on battery or has a fault.\n\n"
    "A setting that the UPS can neither report nor change shows Unknown and cannot be chosen.\n\n"
    "Press OK to send the options to the agent, which passes them on to the UPS.");

namespace {
// Longest model text shown.
constexpr int kModelTextMax = 50;
}  // namespace

CUpsConfiguration::CUpsConfiguration(QWidget* parent, const QString& hostName)
    : KTDialog(kTemplateId, parent, hostName) {
  Init();
}

CUpsConfiguration::CUpsConfiguration(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                                     const QStringList& hostNames)
    : KTDialog(kTemplateId, parent, selectionLabel, hostName, hostNames) {
  Init();
}

void CUpsConfiguration::Init() {
  BindDialogPointer(pUpsConfiguration);
  // With all networks (mode 4) the identification reply goes to the host's own image.
  SetWaitCount(gnCommMode == 4 ? 1 : 2);
  model_text_.clear();
  audible_ = -1;
  warning_ = -1;
  BuildControls();
  Create(kTemplateId);
}

CUpsConfiguration::~CUpsConfiguration() = default;

void CUpsConfiguration::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  auto* modelRow = new QHBoxLayout;
  auto* modelLabel = new QLabel(QStringLiteral("UPS Make and Model:"), this);
  modelLabel->setObjectName(ControlName(IDC_MODEL_LABEL));
  model_ = new QLabel(this);
  model_->setObjectName(ControlName(IDC_MODEL));
  model_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  model_->setMinimumWidth(model_->fontMetrics().averageCharWidth() * 32);
  modelRow->addWidget(modelLabel);
  modelRow->addWidget(model_, 1);
  layout->addLayout(modelRow);

  auto* options = new QGroupBox(QStringLiteral("Options"), this);
  auto* grid = new QGridLayout(options);
  auto addPair = [&](int row, const char* label, QButtonGroup*& group, QLabel*& unknown, int firstId,
                     const char* first, int secondId, const char* second) {
    group = new QButtonGroup(this);
    auto* a = new QRadioButton(QString::fromLatin1(first), options);
    a->setObjectName(ControlName(firstId));
    auto* b = new QRadioButton(QString::fromLatin1(second), options);
    b->setObjectName(ControlName(secondId));
    group->addButton(a, 0);
    group->addButton(b, 1);
    grid->addWidget(new QLabel(QString::fromLatin1(label), options), row, 0);
    grid->addWidget(a, row, 1);
    grid->addWidget(b, row, 2);
    // Shown while the UPS does not report the setting; its buttons are then disabled.
    unknown = new QLabel(QStringLiteral("Unknown"), options);
    unknown->setToolTip(QStringLiteral("The UPS does not report this setting and cannot change it."));
    QFont italic = unknown->font();
    italic.setItalic(true);
    unknown->setFont(italic);
    unknown->setVisible(false);
    QSizePolicy keep = unknown->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    unknown->setSizePolicy(keep);
    grid->addWidget(unknown, row, 3);
  };
  addPair(0, "Low Battery Warning:", warning_group_, warning_unknown_label_, IDC_WARN_2, "&2 Minutes",
          IDC_WARN_5, "&5 Minutes");
  addPair(1, "Audible Alarm:", audible_group_, audible_unknown_label_, IDC_ALARM_ON, "O&n", IDC_ALARM_OFF,
          "O&ff");
  // Says why a setting marked Unknown offers no choice.
  unknown_note_ = new QLabel(QStringLiteral("This UPS cannot report or change the settings marked Unknown."), options);
  unknown_note_->setVisible(false);
  grid->addWidget(unknown_note_, 2, 0, 1, 5);
  grid->setColumnStretch(4, 1);
  grid->setHorizontalSpacing(16);
  layout->addWidget(options);
  layout->addSpacing(6);
  layout->addLayout(MakeButtonRow({IDOK, IDCANCEL, ID_HELP}));
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

bool CUpsConfiguration::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  OnConfigBlock();
  OnInfoBlock();
  RequestData(4, 3, 0);
  RequestData(2, 2, 0);
  SetHostCaption(1670);
  return true;
}

void CUpsConfiguration::OnNewData(unsigned /*status*/, unsigned block, unsigned /*branch*/,
                                  unsigned /*item*/) {
  if (block == 2) {
    OnInfoBlock();
  } else if (block == 4) {
    OnConfigBlock();
  }
}

void CUpsConfiguration::UpdateData(bool save) {
  if (save) {
    audible_ = audible_group_->checkedId();
    warning_ = warning_group_->checkedId();
    return;
  }
  model_->setText(model_text_.left(kModelTextMax));
  struct Pair {
    QButtonGroup* group;
    int choice;
    QLabel* unknownLabel;
    bool unknown;
  };
  for (const Pair& p : {Pair{audible_group_, audible_, audible_unknown_label_, audible_unknown_},
                        Pair{warning_group_, warning_, warning_unknown_label_, warning_unknown_}}) {
    if (p.choice == 0 || p.choice == 1) {
      p.group->button(p.choice)->setChecked(true);
    } else if (QAbstractButton* checked = p.group->checkedButton()) {
      p.group->setExclusive(false);
      checked->setChecked(false);
      p.group->setExclusive(true);
    }
    // A setting the UPS does not report is one it does not take either: nothing to choose.
    for (QAbstractButton* button : p.group->buttons()) button->setEnabled(!p.unknown);
    p.unknownLabel->setVisible(p.unknown);
  }
  unknown_note_->setVisible(audible_unknown_ || warning_unknown_);
}

void CUpsConfiguration::OnInfoBlock() {
  const SetupData setup;
  // Built afresh from each reply, so a second reply does not append to the first.
  model_text_.clear();
  {
    auto lock = gScp.Lock();
    const std::string& name = setup.GetUpsModelName(gScp.upsInfo.GetModelIndex());
    if (!name.empty()) model_text_ = QString::fromStdString(name) + QStringLiteral(", ");
    if (auto text = gScp.upsInfo.GetModelText()) model_text_ += QString::fromStdString(*text);
  }
  if (!IsBusy()) UpdateData(false);
}

void CUpsConfiguration::OnConfigBlock() {
  {
    auto lock = gScp.Lock();
    const uint8_t alarm = gScp.config.GetAudibleAlarm();
    if (alarm != 255) audible_ = alarm == 1 ? 0 : 1;
    const uint8_t warning = gScp.config.GetLowBatteryWarning();
    if (warning != 255) warning_ = warning == 2 ? 0 : 1;
    // Once the agent has answered, 255 is its word that the UPS does not report the setting;
    // such a setting has no choice.
    if (gScp.config.Branches().GetTime(3) != 0) {
      audible_unknown_ = alarm == 255;
      warning_unknown_ = warning == 255;
      if (audible_unknown_) audible_ = -1;
      if (warning_unknown_) warning_ = -1;
    }
  }
  if (!IsBusy()) UpdateData(false);
}

int CUpsConfiguration::VerifyData() {
  int message = 0;
  if ((audible_ < 0 || audible_ > 1) && !audible_unknown_) {
    message = 3537;
  } else if ((warning_ < 0 || warning_ > 1) && !warning_unknown_) {
    message = 3538;
  }
  if (message == 0) return 1;
  TremMessageBox(this, LoadString(message), MB_OK | MB_ICONEXCLAMATION);
  return 0;
}

void CUpsConfiguration::OnOK() {
  UpdateData(true);
  if (VerifyData() == 0) return;
  // A setting left unknown goes as 255, which the agent passes on to no UPS; with both
  // unknown nothing is sent.
  const bool audibleChosen = audible_ == 0 || audible_ == 1;
  const bool warningChosen = warning_ == 0 || warning_ == 1;
  if (audibleChosen || warningChosen) {
    {
      auto lock = gScp.Lock();
      gScp.config.SetAudibleAlarm(audibleChosen ? (audible_ == 0 ? 1 : 0) : 255);
      gScp.config.SetLowBatteryWarning(warningChosen ? (warning_ == 0 ? 2 : 5) : 255);
    }
    SendCommand(4, 3, 0);
  }
  KTDialog::OnOK();
}
