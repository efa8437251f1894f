#include "dialogs/mimic/mimic.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/mimic/mimic_pictures.h"

DialogPointer<CMimic> pMimic{DialogSlot::Mimic};

TREM_REGISTER_DIALOG(CMimic);

namespace {

constexpr int IDS_VIEW_UPS_MIMIC = 1674;

const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CMimic::kHelpContext, "View UPS Mimic",
    "Shows the path the power takes through the UPS now.\n\n"
    "Green: the load runs on utility power. Amber: utility power has failed and the load runs on "
    "the battery. Blue: the load is fed around the inverter (bypass). Teal: the UPS is correcting a "
    "high (buck) or low (boost) utility voltage.\n\n"
    "The marks along the lit path move in the direction of the flow.");

}  // namespace

CMimic::CMimic(QWidget* parent, const QString& hostName) : KTDialog(IDD_MIMIC, parent, hostName) {
  Construct();
}

CMimic::CMimic(QWidget* parent, const QString& selectionLabel, const QString& hostName,
               const QStringList& hostNames)
    : KTDialog(IDD_MIMIC, parent, selectionLabel, hostName, hostNames) {
  Construct();
}

void CMimic::Construct() {
  BindDialogPointer(pMimic);
  SetWaitCount(0);
  MakeButton(IDCANCEL, QStringLiteral("Cancel"));
  MakeButton(ID_HELP, QStringLiteral("Help"));
  Create(IDD_MIMIC);
}

CMimic::~CMimic() {
  pMimic.ClearIf(this);
}

bool CMimic::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  UpdateInfo();
  UpdateStatus();
  ModifyWindow();
  DisplayBitmap();
  SetHostCaption(IDS_VIEW_UPS_MIMIC);
  return true;
}

void CMimic::OnNewData(unsigned /*status*/, unsigned block, unsigned /*branch*/, unsigned /*item*/) {
  if (block == 1) {
    UpdateStatus();
  } else if (block == 2) {
    UpdateInfo();
  }
}

int CMimic::UpdateInfo() {
  auto lock = gScp.Lock();
  type_ = gScp.upsInfo.GetVariant();
  return type_;
}

void CMimic::UpdateStatus() {
  int a = 5;
  int b = 6;
  bool onBattery = false;
  {
    auto lock = gScp.Lock();
    StatusBlock& status = gScp.upsStatus;
    status.ResetAlarmCursor();
    AlarmEntry entry;
    while (status.GetNextAlarm(entry) == 1) {
      // Only the alarms of the power path pick the pair; the agent's own alarms (started,
      // configuration changed, ...) leave the path as it is.
      switch (entry.code) {
        case ALARM_ON_BYPASS:
          a = 1;
          b = 2;
          break;
        case ALARM_ON_BATTERY:
          a = 3;
          b = 4;
          onBattery = true;
          break;
        case ALARM_BUCKING:
          a = 7;
          b = 8;
          break;
        case ALARM_BOOSTING:
          a = 9;
          b = 10;
          break;
        default:
          break;
      }
    }
    status.ResetAlarmCursor();
  }
  if (onBattery) {
    a = 3;
    b = 4;
  }
  picture_a_ = a;
  picture_b_ = b;
  if (first_status_ == 1) {
    first_status_ = 0;
    SetTimer(kBlinkTimer, blink_ms_);
  }
}

void CMimic::OnTimer(int timerId) {
  KTDialog::OnTimer(timerId);
  if (timerId != kBlinkTimer) return;
  if (phase_ == 1) {
    phase_ = 0;
    picture_ = picture_a_;
  } else {
    phase_ = 1;
    picture_ = picture_b_;
  }
  DisplayBitmap();
}

int CMimic::BitmapFor(int type, int picture) {
  switch (type) {
    case 0:
      switch (picture) {
        case 1:
          return 146;
        case 2:
          return 147;
        case 3:
          return 156;
        case 4:
          return 163;
        case 6:
          return 164;
        default:
          return 161;
      }
    case 1:
      switch (picture) {
        case 3:
          return 187;
        case 4:
          return 186;
        case 6:
          return 184;
        default:
          return 185;
      }
    case 2:
      switch (picture) {
        case 3:
          return 183;
        case 4:
          return 182;
        case 6:
          return 176;
        case 7:
          return 181;
        case 8:
          return 180;
        case 9:
          return 179;
        case 10:
          return 178;
        default:
          return 177;
      }
    default:
      return 0;
  }
}

void CMimic::DisplayBitmap() {
  const int id = BitmapFor(type_, picture_);
  bitmap_id_ = id;
  bitmap_ = QImage();
  if (id != 0) {
    bitmap_ = LoadMimicPicture(id);
    if (bitmap_.isNull()) TremMessageBox(this, QStringLiteral("Cannot get bitmap info"));
  }
  update();
}

void CMimic::ModifyWindow() {
  const QImage sizing = LoadMimicPicture(kSizingPicture);
  if (sizing.isNull()) TremMessageBox(this, QStringLiteral("Cannot get bitmap info"));
  const int w = sizing.width();
  const int h = sizing.height();
  const int total = h + h / 6;
  setFixedSize(w, total);
  // Centred on the screen.
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center().x() - w / 2, area.center().y() - total / 2);
  }
  if (auto* cancel = Control<QPushButton>(IDCANCEL)) {
    const QSize s = cancel->sizeHint();
    const int right = w / 2 - s.width() / 4;
    const int bottom = total - s.height() / 4;
    cancel->setGeometry(right - s.width(), bottom - s.height(), s.width(), s.height());
  }
  if (auto* help = Control<QPushButton>(ID_HELP)) {
    const QSize s = help->sizeHint();
    const int bottom = total - s.height() / 4;
    help->setGeometry(w / 2 + s.width() / 4, bottom - s.height(), s.width(), s.height());
  }
}

void CMimic::paintEvent(QPaintEvent* event) {
  KTDialog::paintEvent(event);
  if (bitmap_.isNull()) return;
  QPainter p(this);
  p.drawImage(QPoint(0, 0), bitmap_);
}
