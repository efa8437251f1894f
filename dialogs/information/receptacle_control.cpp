#include "dialogs/information/receptacle_control.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QVBoxLayout>
#include <algorithm>

#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/information/artwork.h"

// The On/Off picture button: the "up" picture, or the "down" one while pressed.
class StatePictureButton : public QAbstractButton {
 public:
  static constexpr int kPictureSize = 48;
  explicit StatePictureButton(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setFixedSize(kPictureSize + 8, kPictureSize + 8);
  }
  void SetPictures(int up, int down) {
    up_ = up;
    down_ = down;
    update();
  }
  QSize sizeHint() const override { return QSize(kPictureSize + 8, kPictureSize + 8); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.drawPixmap(4, 4, ReceptacleArtwork(isDown() ? down_ : up_, kPictureSize));
    if (hasFocus()) {
      p.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
      p.drawRect(rect().adjusted(1, 1, -2, -2));
    }
  }

 private:
  int up_ = 211;
  int down_ = 211;
};

DialogPointer<CReceptacleControl> pReceptacleControl{DialogSlot::ReceptacleControl};

TREM_REGISTER_DIALOG(CReceptacleControl);

static const StringTableRegistrar kStrings{
    {3196, "Receptacle Control"},
    {3437, "All"},
    {3438, "Cannot add "},
    {3439, " to combo box"},
    {3440, "Load Segment"},
    {3441, "On"},
    {3442, "Off due to power failure shutdown"},
    {3443, "Off due to scheduled shutdown"},
    {3444, "Off waiting for startup delay"},
    {3445, "Unknown"},
};

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CReceptacleControl::kHelpContext, "Receptacle Control",
    "Shows the UPS's load segments: the groups of receptacles the UPS can switch on and off "
    "on their own.\n\n"
    "Bank chooses a segment, or All of them. Status shows whether the receptacles are on, or "
    "why they are off: a shutdown after a power failure, a scheduled shutdown, or the delay "
    "before they start again.\n\n"
    "The delays under Utility Failure and Scheduled Shutdown are how long the segment waits "
    "before it switches on or off.");

CReceptacleControl::CReceptacleControl(QWidget* parent, const QString& hostName)
    : KTDialog(kTemplateId, parent, hostName) {
  BindDialogPointer(pReceptacleControl);
  SetWaitCount(1);
  BuildControls();
  Create(kTemplateId);
}

CReceptacleControl::~CReceptacleControl() {
  CleanUp();
}

void CReceptacleControl::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  auto* bankRow = new QHBoxLayout;
  auto* bankLabel = new QLabel(QStringLiteral("&Bank:"), this);
  bank_ = new QComboBox(this);
  bank_->setObjectName(ControlName(IDC_BANK));
  bank_->setMinimumContentsLength(16);
  bankLabel->setBuddy(bank_);
  bankRow->addWidget(bankLabel);
  bankRow->addWidget(bank_, 1);
  layout->addLayout(bankRow);

  // Members bound in this order: 1782, 1784, 1781, 1783.
  const int kDelayIds[4] = {IDC_UTILITY_DELAY_OFF, IDC_SCHEDULED_DELAY_OFF, IDC_UTILITY_DELAY_ON,
                            IDC_SCHEDULED_DELAY_ON};
  for (int i = 0; i < 4; ++i) {
    delays_[i] = new QLineEdit(this);
    delays_[i]->setObjectName(ControlName(kDelayIds[i]));
    delays_[i]->setValidator(new QIntValidator(0, 255, delays_[i]));
    delays_[i]->setMaxLength(3);
    delays_[i]->setAlignment(Qt::AlignRight);
    delays_[i]->setMaximumWidth(delays_[i]->fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 16);
  }
  auto* groups = new QHBoxLayout;
  auto addGroup = [&](const QString& title, QLineEdit* on, QLineEdit* off) {
    auto* box = new QGroupBox(title, this);
    auto* form = new QFormLayout(box);
    form->addRow(QStringLiteral("Delay On:"), on);
    form->addRow(QStringLiteral("Delay Off:"), off);
    groups->addWidget(box);
  };
  addGroup(QStringLiteral("Utility Failure"), delays_[2], delays_[0]);
  addGroup(QStringLiteral("Scheduled Shutdown"), delays_[3], delays_[1]);
  layout->addLayout(groups);

  auto* statusBox = new QGroupBox(QStringLiteral("Status"), this);
  auto* statusLayout = new QHBoxLayout(statusBox);
  onoff_ = new StatePictureButton(statusBox);
  onoff_->setObjectName(ControlName(IDC_ONOFF));
  connect(onoff_, &QAbstractButton::clicked, this, [this] { OnReceptacleOnoff(); });
  status_label_ = new QLabel(LoadString(3445), statusBox);
  status_label_->setObjectName(ControlName(IDC_STATUS_TEXT));
  status_label_->setWordWrap(true);
  status_label_->setMinimumWidth(status_label_->fontMetrics().horizontalAdvance(LoadString(3442)) + 8);
  statusLayout->addWidget(onoff_);
  statusLayout->addSpacing(8);
  statusLayout->addWidget(status_label_, 1);
  layout->addWidget(statusBox);
  layout->addSpacing(6);
  layout->addLayout(MakeButtonRow({IDOK, IDCANCEL, ID_HELP}));
  layout->setSizeConstraint(QLayout::SetFixedSize);

  setTabOrder(bank_, delays_[2]);
  setTabOrder(delays_[2], delays_[0]);
  setTabOrder(delays_[0], delays_[3]);
  setTabOrder(delays_[3], delays_[1]);
  setTabOrder(delays_[1], onoff_);
  setTabOrder(onoff_, Control(IDOK));
}

bool CReceptacleControl::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  up_bitmap_ = down_bitmap_ = 211;
  onoff_->SetPictures(211, 211);
  RequestData(Recptinf::kBlockId, 1, 0);
  SetHostCaption(3196);
  UpdateData(false);
  return true;
}

void CReceptacleControl::StatusLook(uint8_t status, int& upBitmap, int& downBitmap, int& textId) {
  switch (status) {
    case RECEPTACLE_ON:
      upBitmap = 209;
      downBitmap = 213;
      textId = 3441;
      break;
    case RECEPTACLE_OFF_POWER_FAIL:
    case RECEPTACLE_OFF_SCHEDULED:
    case RECEPTACLE_OFF_WAIT_STARTUP:
      upBitmap = 210;
      downBitmap = 212;
      textId = 3441 + status;
      break;
    default:
      upBitmap = downBitmap = 211;
      textId = 3445;
      break;
  }
}

void CReceptacleControl::UpdateButtonBitmap(uint8_t status) {
  int textId = 0;
  StatusLook(status, up_bitmap_, down_bitmap_, textId);
  onoff_->SetPictures(up_bitmap_, down_bitmap_);
  status_text_ = LoadString(textId);
}

void CReceptacleControl::CleanUp() {
  segments_.clear();
}

void CReceptacleControl::OnNewData(unsigned /*status*/, unsigned block, unsigned /*branch*/,
                                   unsigned /*item*/) {
  if (block != Recptinf::kBlockId) return;
  bank_->clear();
  CleanUp();
  {
    auto lock = gScp.Lock();
    const Recptinf& r = gScp.receptacles;
    count_ = static_cast<uint8_t>(std::clamp(r.GetCount(), 0, 255));
    segments_.resize(count_);
    // Entry i is segment i of the block; entry 0 stands for "All".
    for (int i = 0; i < count_; ++i) {
      segments_[i].status = r.GetStatus(i);
      segments_[i].schedDownTime = r.GetSchedDownTime(i);
      segments_[i].schedDownDura = r.GetSchedDownDura(i);
      segments_[i].downDelay = r.GetDownDelay(i);
      segments_[i].upDelay = r.GetUpDelay(i);
    }
  }
  QStringList texts{LoadString(3437)};
  for (int i = 1; i < count_; ++i) texts << LoadString(3440) + QString::number(i);
  for (const QString& text : texts) {
    const int before = bank_->count();
    bank_->addItem(text);
    if (bank_->count() == before) {
      TremMessageBox(this, LoadString(3438) + text + LoadString(3439), MB_OK | MB_ICONEXCLAMATION);
    }
  }
  UpdateButtonBitmap(count_ > 0 ? segments_[0].status : 255);
  selected_bank_ = bank_->count() > 0 ? 0 : -1;
  UpdateData(false);
  update();
}

void CReceptacleControl::UpdateData(bool save) {
  if (save) {
    for (int i = 0; i < 4; ++i)
      delay_values_[i] = static_cast<uint8_t>(std::clamp(delays_[i]->text().toInt(), 0, 255));
    selected_bank_ = bank_->currentIndex();
    return;
  }
  // No delays of the agent's before its receptacle block arrives: the fields stand empty.
  for (int i = 0; i < 4; ++i) delays_[i]->setText(IsFilled() ? QString::number(delay_values_[i]) : QString());
  if (selected_bank_ >= 0 && selected_bank_ < bank_->count()) bank_->setCurrentIndex(selected_bank_);
  status_label_->setText(status_text_.isEmpty() ? LoadString(3445) : status_text_);
}

void CReceptacleControl::SetScpData(uint8_t /*segment*/) {}

void CReceptacleControl::OnReceptacleOnoff() {}

void CReceptacleControl::OnOK() {
  UpdateData(true);
  if (selected_bank_ != 0) {
    SetScpData(static_cast<uint8_t>(selected_bank_));
  } else {
    for (int i = 1; i < count_; ++i) SetScpData(static_cast<uint8_t>(i));
  }
  SendCommand(Recptinf::kBlockId, 1, 0);
  KTDialog::OnOK();
}
