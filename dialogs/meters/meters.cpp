#include "dialogs/meters/meters.h"

#include <QFile>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPainter>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <tuple>
#include <utility>

#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"

DialogPointer<CMeters> pMeters{DialogSlot::Meters};

TREM_REGISTER_DIALOG(CMeters);

namespace {

constexpr const char* kSavedViewFile = "cfgmeter.dat";
constexpr int kSavedViewLineLength = 80;
constexpr int IDS_RANGE_FILE_MISSING = 3350;
constexpr int IDS_UNABLE_TO_WRITE = 3352;

const StringTableRegistrar kStrings{
    {1376, "Input Frequency"},
    {1377, "Percent Load - Linear"},
    {1378, "Output Power - Apparent"},
    {1379, "Percent Load"},
    {1380, "Battery Voltage"},
    {1603, "Battery Capacity"},
    {1604, "Battery Time Remaining"},
    {1605, "Output Frequency"},
    {1606, "Output Power - Real"},
    {1607, "Percent Load - Non Linear"},
    {1608, "Temperature"},
    {1609, "Input Voltage"},
    {1610, "Output Voltage"},
    {1611, "Input Current"},
    {1612, "Output Current"},
    {1613, "Input Voltage - Phase B"},
    {1614, "Input Voltage - Phase C"},
    {1615, "Output Voltage - Phase B"},
    {1616, "Output Voltage - Phase C"},
    {1617, "Input Current - Phase B"},
    {1618, "Output Current - Phase B"},
    {1619, "Input Current - Phase C"},
    {1620, "Output Current - Phase C"},
    {1621, "BatteryVoltagePositive"},
    {1622, "BatteryVoltageNegative"},
    {1623, "BatteryCurrent"},
    {1624, "BatteryCurrentPositive"},
    {1625, "BatteryCurrentNegative"},
    {1626, "DCVoltagePositive"},
    {1627, "DCVoltageNegative"},
    {1628, "BypassVoltage"},
    {1629, "InverterFrequency"},
    {1630, "BypassFrequency"},
    {1631, "DCLinkVoltage"},
    {1632, "BatteryChargeTime"},
    {1633, "Input Voltage - Phase A"},
    {1634, "Output Voltage - Phase A"},
    {1635, "Input Current - Phase A"},
    {1636, "Output Current - Phase A"},
    {IDS_RANGE_FILE_MISSING,
     "The file containing the minimum and maximum\nvalues for the meters could not be opened.\nWill use "
     "default values."},
};

const HelpTopicRegistrar kHelp(
    kPanelHelpFile, CMeters::kHelpContext, "View Meters",
    "Lists every reading the UPS supplies: load, battery, frequencies, temperature, and the voltages "
    "and currents of each phase.\n\n"
    "Double-click a reading to open its dial gauge. The dial's green band is the normal range; the "
    "red band marks readings above the high alarm and the amber band readings below the low alarm.\n\n"
    "Save View remembers which gauges are open, so that they open again the next time you view the "
    "meters.");

// The list's icon: a small dial.
QIcon MeterIcon() {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(0x3a, 0x3d, 0x42), 1));
  p.setBrush(QColor(0xfa, 0xfa, 0xf6));
  p.drawEllipse(QRectF(1, 1, 14, 14));
  p.setPen(QPen(QColor(0x4c, 0xaf, 0x50), 2));
  p.drawArc(QRectF(3, 3, 10, 10), 225 * 16, -180 * 16);
  p.setPen(QPen(QColor(0xd9, 0x3b, 0x35), 2));
  p.drawArc(QRectF(3, 3, 10, 10), 45 * 16, -90 * 16);
  p.setPen(QPen(QColor(0xd3, 0x2f, 0x2f), 1.4));
  p.drawLine(QPointF(8, 8), QPointF(11.5, 4.5));
  return QIcon(pm);
}

}  // namespace

int CActiveMeterFlags::CopyFrom(const CActiveMeterFlags& other) {
  const int changed = flags_ != other.flags_ ? 1 : 0;
  flags_ = other.flags_;
  return changed;
}

CMeters::CMeters(QWidget* parent, const QString& hostName) : KTDialog(IDD_METERS, parent, hostName) {
  Construct();
}

CMeters::CMeters(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                 const QStringList& hostNames)
    : KTDialog(IDD_METERS, parent, selectionLabel, hostName, hostNames) {
  Construct();
}

void CMeters::Construct() {
  BindDialogPointer(pMeters);
  for (int i = 0; i < kMeterCount; ++i) ClearSlot(i);
  rebuild_ = 1;
  SetWaitCount(1);
  BuildControls();
  Create(IDD_METERS);
}

CMeters::~CMeters() {
  // The gauge windows go first; what they do as they go is no longer watched.
  delete frame_watcher_;
  frame_watcher_ = nullptr;
  for (int i = 0; i < kMeterCount; ++i) ClearSlot(i);
  pMeters.ClearIf(this);
}

void CMeters::ClearSlot(int slot) {
  GaugeSlot& s = slots_[static_cast<size_t>(slot)];
  if (s.holder) {
    const int meter = s.holder->Meter();
    KtGaugeDestroy(meter_handles_[static_cast<size_t>(meter)]);
    meter_handles_[static_cast<size_t>(meter)] = 0;
  }
  if (s.record && s.record->window) delete s.record->window.data();
  s.record.reset();
  s.holder.reset();
  s.placed.reset();
  s.settled = false;
}

void CMeters::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  list_ = new QTreeWidget(this);
  list_->setObjectName(ControlName(IDC_ADV_METERS));
  list_->setColumnCount(2);
  list_->setHeaderLabels({LoadString(1374), LoadString(1375)});
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setAllColumnsShowFocus(true);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setIconSize(QSize(16, 16));
  list_->header()->setStretchLastSection(true);
  list_->setMinimumSize(360, 380);
  connect(list_, &QTreeWidget::itemDoubleClicked, this,
          [this](QTreeWidgetItem* item) { OnDblclkAdvMeters(item); });
  layout->addWidget(list_, 1);

  auto* row = new QHBoxLayout;
  row->addStretch(1);
  QPushButton* ok = MakeButton(IDOK, QStringLiteral("OK"));
  QPushButton* save = MakeButton(IDC_SAVE_VIEW, QStringLiteral("Save View"));
  QPushButton* help = MakeButton(ID_HELP, QStringLiteral("Help"));
  connect(save, &QPushButton::clicked, this, [this] { OnSaveView(); });
  row->addWidget(ok);
  row->addWidget(save);
  row->addWidget(help);
  row->addStretch(1);
  layout->addLayout(row);
  setTabOrder(list_, ok);
  setTabOrder(ok, save);
  setTabOrder(save, help);
}

bool CMeters::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  InitMinMax();
  BuildMinMax();
  // The name column two thirds of the list, the value one third.
  const int width = std::max(list_->viewport()->width(), list_->minimumWidth() - 4);
  list_->setColumnWidth(0, width * 2 / 3);
  BuildMeterArray();
  list_->setIconSize(QSize(16, 16));
  RequestData(4, 2, 0);
  RequestData(2, 0, 0);
  FollowData(3, 0, 0);
  SetHostCaption(1374);
  LoadConfiguredMeters();
  return true;
}

void CMeters::OnNewData(unsigned /*status*/, unsigned block, unsigned /*branch*/, unsigned /*item*/) {
  if (block == 2) {
    int model = 255;
    {
      auto lock = gScp.Lock();
      model = gScp.upsInfo.GetModelIndex();
    }
    range_file_ = RangeFileForModel(model);
    BuildMinMax();
  } else if (block == 4) {
    BuildMinMax();
  } else if (block == 3) {
    // Ratings that reached the console's image without their own reply here (or changed since)
    // rescale the dials before the readings move the needles.
    if (CurrentRatings() != ratings_) BuildMinMax();
    const int location = GetCurrentLocation();
    const int topRow = list_->indexOfTopLevelItem(list_->itemAt(0, 0));
    if (ActiveMeterFlagsChanged() == 1) {
      rebuild_ = 1;
      list_built_ = 0;
    }
    UpdateMetersListControl();
    UpdateMeterValues();
    // The row that was at the top stays in view.
    if (QTreeWidgetItem* item = list_->topLevelItem(topRow)) {
      list_->scrollToItem(item, QAbstractItemView::PositionAtTop);
    }
    if (QTreeWidgetItem* item = list_->topLevelItem(location)) item->setSelected(true);
    // The next readings: asked for with each meter reply, so that the list and the needles
    // follow the UPS at the pace of the console's worker while the dialog is open (the queue
    // keeps one request per block and host, however many replies come in). One that gets no
    // answer (a datagram lost, the agent restarted) is asked again after a short wait.
    FollowData(3, 0, 0);
  }
}

// --- limits ---

void CMeters::InitMinMax() {
  InitLimits(limits_);
}

MeterRatings CMeters::CurrentRatings() {
  MeterRatings r;
  auto lock = gScp.Lock();
  const UpsInfoBlock& info = gScp.upsInfo;
  r.inputVoltage = info.GetNominalInputVoltage();
  r.outputVoltage = info.GetNominalOutputVoltage();
  r.inputFrequency = info.GetNominalInputFrequency();
  r.outputFrequency = info.GetNominalOutputFrequency();
  r.vaRating = info.GetVARating();
  r.wattRating = info.GetWattRating();
  r.modelCode = info.GetModelIndex();
  r.batteryMinutes = gScp.config.GetTotalBatteryTime();
  return r;
}

int CMeters::BuildMinMax() {
  ratings_ = CurrentRatings();
  ComputeDefaultLimits(ratings_, limits_);
  RedrawOpenGauges();
  return 0;
}

void CMeters::ReadMinMax() {
  const int result = ReadRangeFile(range_file_.toStdString(), limits_);
  if (result == -1) {
    ShowMessageBox(this, LoadString(IDS_RANGE_FILE_MISSING), QStringLiteral("ERROR"), MB_OK);
    BuildMinMax();
    return;
  }
  if (result == 0) {
    BuildMinMax();
    return;
  }
  RedrawOpenGauges();
}

void CMeters::RedrawOpenGauges() {
  for (auto& slot : slots_) {
    if (slot.holder && slot.holder->Control() != nullptr && slot.record && slot.record->window) {
      slot.holder->Control()->Draw();
    }
  }
  UpdateMeterValues();
}

// --- list ---

void CMeters::BuildMeterArray() {
  for (int i = 0; i < kMeterCount; ++i) meter_handles_[static_cast<size_t>(i)] = 0;
  for (auto& slot : slots_) {
    if (slot.holder && slot.record && slot.record->window) {
      // A gauge still open from before keeps its definition.
      if (MeterGaugeControl* c = slot.holder->Control()) {
        if (KtGaugeWidget* w = c->Handle())
          meter_handles_[static_cast<size_t>(slot.holder->Meter())] = w->Handle();
      }
    }
  }
  list_->clear();
  list_built_ = 0;
}

QString CMeters::MeterLabel(int meter) {
  const MeterInfo& info = kMeterTable[meter];
  if (info.phaseTextId == 0) return LoadString(info.textId);
  bool phaseB = false;
  {
    auto lock = gScp.Lock();
    const int v =
        (meter == 11 || meter == 13) ? gScp.meters.GetInputVoltage(1) : gScp.meters.GetOutputVoltage(1);
    phaseB = v != 0xFFFF;
  }
  return LoadString(phaseB ? info.phaseTextId : info.textId);
}

int CMeters::ActiveMeterFlagsChanged() {
  CActiveMeterFlags fresh;
  {
    auto lock = gScp.Lock();
    for (int i = 0; i < kMeterCount; ++i) {
      bool known = false;
      MeterReading(gScp.meters, i, &known);
      fresh.Set(i, known ? 1 : 0);
    }
  }
  return active_.CopyFrom(fresh);
}

void CMeters::UpdateMetersListControl() {
  if (list_built_ == 0) list_->clear();
  AddMeterItems();
}

void CMeters::BuildMeterItem(int row, int column, const QString& text) {
  if (column == 0) {
    if (list_built_ != 0) return;
    static const QIcon icon = MeterIcon();
    auto* item = new QTreeWidgetItem(list_);
    item->setText(0, text);
    item->setIcon(0, icon);
    return;
  }
  if (QTreeWidgetItem* item = list_->topLevelItem(row)) item->setText(1, text);
}

void CMeters::AddMeterItems() {
  QStringList opening;  // the saved view's gauges that open with the list
  int row = 0;
  for (int i = 0; i < kMeterCount; ++i) {
    bool known = false;
    int64_t reading = 0;
    {
      auto lock = gScp.Lock();
      reading = MeterReading(gScp.meters, i, &known);
    }
    if (!known) continue;
    const QString label = MeterLabel(i);
    BuildMeterItem(row, 0, label);
    if (rebuild_ == 1 && std::find(configured_.begin(), configured_.end(), label) != configured_.end()) {
      opening << label;
    }
    BuildMeterItem(row, 1, MeterValueText(i, reading));
    ++row;
  }
  rebuild_ = 0;
  list_built_ = 1;
  // Those not open yet are placed in the panel they make together from the first one on.
  saved_view_pending_ = 0;
  for (const QString& label : opening) {
    if (GaugeWindowOf(MeterOfLabel(label)) == nullptr) ++saved_view_pending_;
  }
  for (const QString& label : opening) CreatePages(label);
  saved_view_pending_ = 0;
}

void CMeters::UpdateMeterValues() {
  for (int i = 0; i < kMeterCount; ++i) {
    const KtGaugeHandle handle = meter_handles_[static_cast<size_t>(i)];
    if (handle == 0 || GaugeWindowOf(i) == nullptr) continue;
    bool known = false;
    int64_t reading = 0;
    {
      auto lock = gScp.Lock();
      reading = MeterReading(gScp.meters, i, &known);
    }
    if (!known) {
      // A reading the agent no longer has: no needle, rather than its last value.
      KtGaugeSetValue(handle, std::numeric_limits<double>::quiet_NaN());
      continue;
    }
    const MeterLimits& l = limits_[static_cast<size_t>(i)];
    KtGaugeSetValue(handle, MeterNeedleValue(i, reading, l.scaleMin, l.scaleMax), MeterReadoutValue(i, reading));
  }
}

int CMeters::GetCurrentLocation() const {
  int location = 0;
  for (int r = 0; r < list_->topLevelItemCount(); ++r) {
    if (list_->topLevelItem(r)->isSelected()) location = r;
  }
  return location;
}

// --- gauges ---

KtGaugeWindow* CMeters::GaugeWindowOf(int meter) {
  for (auto& slot : slots_) {
    if (slot.holder && slot.holder->Meter() == meter && slot.record && slot.record->window) {
      return slot.record->window.data();
    }
  }
  return nullptr;
}

int CMeters::SlotMeter(int slot) {
  const GaugeSlot& s = slots_[static_cast<size_t>(slot)];
  return s.holder && s.record && s.record->window ? s.holder->Meter() : -1;
}

namespace {

// Panel columns by the width of the screen that shows the dialog.
int GaugeColumns(int screenWidth) {
  return screenWidth <= 640 ? 3 : screenWidth <= 800 ? 4 : 5;
}

// The last row of the panel and its step down the screen.
constexpr int kGaugeLastRow = 7;
constexpr int kGaugeRowStep = 20;
// Room between the dialog's frame and the first gauge.
constexpr int kGaugePanelGap = 8;

}  // namespace

QPoint CMeters::GaugePlacement(int slot, int screenWidth) {
  const int columns = GaugeColumns(screenWidth);
  const int row = std::min(slot / columns, kGaugeLastRow);
  return {(slot - row * columns) * kGaugeSize, row * kGaugeRowStep};
}

QSize CMeters::GaugePanelSize(int highestSlot, int screenWidth, QSize cell) {
  const int columns = GaugeColumns(screenWidth);
  const int used = std::min(columns, highestSlot + 1);
  const int rows = std::min(highestSlot / columns, kGaugeLastRow) + 1;
  return {used * cell.width(), (rows - 1) * kGaugeRowStep + cell.height()};
}

namespace {

// A coordinate moved as little as it must to keep a length inside [low, high).
int Within(int at, int length, int low, int high) {
  return std::max(low, std::min(at, high - length));
}

// Where the panel goes beside the dialog's frame, when a side has room for it: right, else
// left (level with the dialog), else above, else below (centred on it).
std::optional<QPoint> BesideDialog(const QRect& dialogFrame, const QRect& available, QSize panel) {
  const int areaRight = available.right() + 1;
  const int areaBottom = available.bottom() + 1;
  const int level = Within(dialogFrame.top(), panel.height(), available.top(), areaBottom);
  const int centred =
      Within(dialogFrame.center().x() + 1 - panel.width() / 2, panel.width(), available.left(), areaRight);
  const bool fitsAcross = panel.width() <= available.width();
  const bool fitsDown = panel.height() <= available.height();

  const int right = dialogFrame.right() + 1 + kGaugePanelGap;
  if (fitsDown && right + panel.width() <= areaRight) return QPoint(right, level);
  const int left = dialogFrame.left() - kGaugePanelGap - panel.width();
  if (fitsDown && left >= available.left()) return QPoint(left, level);
  const int above = dialogFrame.top() - kGaugePanelGap - panel.height();
  if (fitsAcross && above >= available.top()) return QPoint(centred, above);
  const int below = dialogFrame.bottom() + 1 + kGaugePanelGap;
  if (fitsAcross && below + panel.height() <= areaBottom) return QPoint(centred, below);
  return std::nullopt;
}

// What a panel at `at` hides of the dialog, worst first: whether it covers any of the
// buttons, then how much of the dialog it covers.
std::pair<bool, long long> PanelCover(QPoint at, QSize panel, const QRect& dialogFrame,
                                      const QRect& buttons) {
  const QRect area(at, panel);
  const QRect covered = area.intersected(dialogFrame);
  return {area.intersects(buttons),
          covered.isEmpty() ? 0 : static_cast<long long>(covered.width()) * covered.height()};
}

}  // namespace

QPoint CMeters::GaugePanelOrigin(const QRect& dialogFrame, const QRect& available, QSize panel,
                                 const QRect& buttons) {
  if (const auto beside = BesideDialog(dialogFrame, available, panel)) return *beside;

  // No side has room: against the right, left, top or bottom edge of the area. The buttons are
  // what the user needs most: the spot that leaves them clear, if one does, covering least of
  // the dialog (the first of equals). A caption bar covered instead hides only a handle: OK
  // and Escape still close the dialog, and Save View has no other way.
  const int areaRight = available.right() + 1;
  const int areaBottom = available.bottom() + 1;
  const int level = Within(dialogFrame.top(), panel.height(), available.top(), areaBottom);
  const int centred =
      Within(dialogFrame.center().x() + 1 - panel.width() / 2, panel.width(), available.left(), areaRight);
  const QPoint edges[] = {
      {Within(areaRight - panel.width(), panel.width(), available.left(), areaRight), level},
      {available.left(), level},
      {centred, available.top()},
      {centred, Within(areaBottom - panel.height(), panel.height(), available.top(), areaBottom)},
  };
  const QPoint* best = &edges[0];
  for (const QPoint& at : edges) {
    if (PanelCover(at, panel, dialogFrame, buttons) < PanelCover(*best, panel, dialogFrame, buttons))
      best = &at;
  }
  return *best;
}

CMeters::GaugeLayout CMeters::GaugePanelLayout(const QRect& dialogFrame, const QRect& buttons,
                                               const QRect& available, QSize panel, bool dialogMayMove) {
  const QPoint from = dialogFrame.topLeft();
  // The layout with the dialog's frame at `dialog`, and what it costs: what the panel hides of
  // the dialog (buttons first), then how far the dialog moves.
  const auto with = [&](QPoint dialog) {
    const QPoint shift = dialog - from;
    const QRect frame = dialogFrame.translated(shift);
    const QPoint at = GaugePanelOrigin(frame, available, panel, buttons.translated(shift));
    return std::pair(GaugeLayout{at, dialog},
                     std::tuple(PanelCover(at, panel, frame, buttons.translated(shift)),
                                std::abs(shift.x()) + std::abs(shift.y())));
  };
  if (!dialogMayMove || BesideDialog(dialogFrame, available, panel)) return with(from).first;

  // Where the dialog may go, on each axis: where it is, against either edge of the area, and
  // the nearest places that leave room for the panel beside it, or clear it of a panel at an
  // edge. Its frame stays whole on the area (a frame larger than the area at its top left).
  const auto places = [](int at, int length, int low, int high, int beside) {
    const int last = std::max(low, high - length);
    return std::array<int, 5>{at, low, last, std::clamp(low + beside + kGaugePanelGap, low, last),
                              std::clamp(high - beside - kGaugePanelGap - length, low, last)};
  };
  const auto xs =
      places(from.x(), dialogFrame.width(), available.left(), available.right() + 1, panel.width());
  const auto ys =
      places(from.y(), dialogFrame.height(), available.top(), available.bottom() + 1, panel.height());
  auto best = with(from);
  for (const int x : xs) {
    for (const int y : ys) {
      const auto candidate = with({x, y});
      if (candidate.second < best.second) best = candidate;
    }
  }
  return best.first;
}

QPoint CMeters::GaugeScreenPosition(const QRect& available, QPoint origin, int slot, int screenWidth,
                                    QSize cell) {
  // The columns stand a window frame apart, so that neighbours do not overlap.
  const QPoint offset = GaugePlacement(slot, screenWidth);
  const QPoint at = origin + QPoint(offset.x() / kGaugeSize * cell.width(), offset.y());
  return {std::max(available.left(), std::min(at.x(), available.right() + 1 - cell.width())),
          std::max(available.top(), std::min(at.y(), available.bottom() + 1 - cell.height()))};
}

namespace {

// A window's frame as the window manager has drawn it, known once the window is on the screen
// (exposed): none before.
std::optional<QMargins> KnownFrameMargins(const QWidget* w) {
  const QWindow* handle = w != nullptr ? w->windowHandle() : nullptr;
  if (handle == nullptr || !handle->isExposed()) return std::nullopt;
  return handle->frameMargins();
}

QRect FrameOf(const QWidget* w) {
  const QWindow* handle = w->windowHandle();
  return handle != nullptr ? handle->frameGeometry() : w->frameGeometry();
}

// Where a dialog's push buttons are on the screen.
QRect ButtonsOnScreen(const QWidget* dialog) {
  QRect buttons;
  for (const QPushButton* b : dialog->findChildren<QPushButton*>()) {
    if (b->isVisible())
      buttons |= QRect(dialog->geometry().topLeft() + b->mapTo(dialog, QPoint()), b->size());
  }
  return buttons;
}

// Tells the dialog when a gauge window is shown or moves, so that it can check the window's
// frame.
class GaugeFrameWatcher : public QObject {
 public:
  GaugeFrameWatcher(QObject* parent, std::function<void()> changed)
      : QObject(parent), changed_(std::move(changed)) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Expose || event->type() == QEvent::Move) changed_();
    return QObject::eventFilter(watched, event);
  }

 private:
  std::function<void()> changed_;
};

// Placing again, at most this many times after a gauge opens: a window manager that keeps a
// window elsewhere is not chased.
constexpr int kSettleRounds = 3;

}  // namespace

QPoint CMeters::PlaceGauges(int opening) {
  QScreen* screen = this->screen();
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  const QRect available = screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
  int screenWidth = screen_width_override_;
  if (screenWidth <= 0) screenWidth = screen != nullptr ? screen->geometry().width() : 1024;
  // A window not shown yet will get the frame of one that is: every gauge window is framed
  // alike, and the dialog's frame is the window manager's too.
  std::optional<QMargins> estimate = KnownFrameMargins(this);
  for (int s = 0; s < kMeterCount; ++s) {
    const int meter = SlotMeter(s);
    if (meter < 0) continue;
    if (const auto known = KnownFrameMargins(GaugeWindowOf(meter))) {
      estimate = known;
      break;
    }
  }
  const auto marginsOf = [&](const QWidget* w) {
    return KnownFrameMargins(w).value_or(estimate.value_or(QMargins()));
  };
  // Every gauge window has the same frame: the size of one cell of the panel.
  int highest = opening;
  QSize cell = QSize(kGaugeSize, kGaugeSize).grownBy(estimate.value_or(QMargins()));
  for (int s = 0; s < kMeterCount; ++s) {
    const int meter = SlotMeter(s);
    if (meter < 0) continue;
    highest = std::max(highest, s);
    const KtGaugeWindow* window = GaugeWindowOf(meter);
    cell = cell.expandedTo(window->size().grownBy(marginsOf(window)));
  }
  // The saved view's gauges still to open (the opening one among them) take the first free slots.
  for (int s = 0, free = saved_view_pending_; s < kMeterCount && free > 0; ++s) {
    if (SlotMeter(s) >= 0) continue;
    highest = std::max(highest, s);
    --free;
  }
  cell_ = cell;
  if (highest < 0) return {};
  // The dialog moves with the panel until the user moves it.
  const QRect dialogFrame = FrameOf(this);
  const std::optional<QMargins> dialogMargins = KnownFrameMargins(this);
  if (dialogMargins) {
    if (dialog_places_.empty()) {
      dialog_places_.push_back(dialogFrame.topLeft());
    } else if (std::find(dialog_places_.begin(), dialog_places_.end(), dialogFrame.topLeft()) ==
               dialog_places_.end()) {
      dialog_moved_by_user_ = true;
    }
  }
  const GaugeLayout layout =
      GaugePanelLayout(dialogFrame, ButtonsOnScreen(this), available,
                       GaugePanelSize(highest, screenWidth, cell), dialogMargins && !dialog_moved_by_user_);
  if (layout.dialog != dialogFrame.topLeft()) {
    setGeometry(QRect(layout.dialog + QPoint(dialogMargins->left(), dialogMargins->top()), size()));
    if (std::find(dialog_places_.begin(), dialog_places_.end(), layout.dialog) == dialog_places_.end())
      dialog_places_.push_back(layout.dialog);
  }
  const QPoint origin = layout.panel;
  for (int s = 0; s <= highest; ++s) {
    GaugeSlot& slot = slots_[static_cast<size_t>(s)];
    const int meter = SlotMeter(s);
    if (meter < 0) continue;
    KtGaugeWindow* window = GaugeWindowOf(meter);
    if (slot.settled && slot.placed && FrameOf(window).topLeft() != *slot.placed)
      continue;  // the user moved it
    const QPoint at = GaugeScreenPosition(available, origin, s, screenWidth, cell);
    const std::optional<QMargins> known = KnownFrameMargins(window);
    if (!known && slot.placed == at) continue;  // on its way there
    // The window itself goes where its frame, as drawn around it, starts at `at`.
    const QMargins m = marginsOf(window);
    const QRect inside(at + QPoint(m.left(), m.top()), window->size());
    if (slot.placed != at || window->geometry() != inside) {
      window->setGeometry(inside);
      slot.settled = false;
    }
    slot.placed = at;
  }
  return opening >= 0 ? GaugeScreenPosition(available, origin, opening, screenWidth, cell) : QPoint();
}

void CMeters::ScheduleSettle() {
  if (settle_pending_) return;
  settle_pending_ = true;
  QTimer::singleShot(0, this, [this] { SettleGauges(); });
}

void CMeters::SettleGauges() {
  settle_pending_ = false;
  bool misplaced = false;
  for (int s = 0; s < kMeterCount; ++s) {
    GaugeSlot& slot = slots_[static_cast<size_t>(s)];
    const int meter = SlotMeter(s);
    if (meter < 0 || !slot.placed || slot.settled) continue;
    const KtGaugeWindow* window = GaugeWindowOf(meter);
    const std::optional<QMargins> known = KnownFrameMargins(window);
    if (!known) continue;  // not on the screen yet
    const QRect frame = FrameOf(window);
    if (frame.topLeft() == *slot.placed && frame.size() == cell_) {
      slot.settled = true;
    } else {
      misplaced = true;
    }
  }
  if (misplaced && settle_rounds_ < kSettleRounds) {
    ++settle_rounds_;
    PlaceGauges();
  }
}

int CMeters::MeterOfLabel(const QString& label) {
  for (int i = 0; i < kMeterCount; ++i) {
    if (MeterLabel(i) == label) return i;
  }
  return -1;
}

void CMeters::CreatePages(const QString& meterName) {
  const int meter = MeterOfLabel(meterName);
  if (meter < 0) return;  // no such meter: nothing opens
  if (KtGaugeWindow* open = GaugeWindowOf(meter)) {
    open->raise();
    return;
  }
  // The first slot without an open window; a slot whose window was closed is reclaimed.
  int chosen = 0;
  for (int s = 0; s < kMeterCount; ++s) {
    GaugeSlot& slot = slots_[static_cast<size_t>(s)];
    if (!slot.record) {
      chosen = s;
      break;
    }
    if (slot.record->number != s + 1 || !slot.record->window) {
      if (slot.holder) ClearSlot(s);
      chosen = s;
      break;
    }
  }
  GaugeSlot& slot = slots_[static_cast<size_t>(chosen)];
  if (slot.holder) return;
  // The panel, with this gauge in it, beside the dialog on the screen that shows it. A window
  // placed before it is shown is placed by its frame.
  settle_rounds_ = 0;
  const QPoint at = PlaceGauges(chosen);
  slot.holder = std::make_unique<MeterGaugeWindow>(meter);
  slot.record = KtCreateGaugeWindow(QString::fromLatin1(kMeterTable[meter].key), this, meterName, at.x(),
                                    at.y(), kGaugeSize, kGaugeSize, slot.holder.get());
  if (saved_view_pending_ > 0) --saved_view_pending_;
  if (!slot.record) {
    slot.holder.reset();
    return;
  }
  slot.placed = at;
  slot.settled = false;
  if (frame_watcher_ == nullptr) frame_watcher_ = new GaugeFrameWatcher(this, [this] { ScheduleSettle(); });
  if (QWindow* handle = slot.record->window->windowHandle()) handle->installEventFilter(frame_watcher_);
  // The others make room for it.
  PlaceGauges();
  UpdateMeterValues();
}

void CMeters::OnDblclkAdvMeters(QTreeWidgetItem* item) {
  if (item == nullptr) item = list_->currentItem();
  if (item == nullptr) return;
  CreatePages(item->text(0));
  item->setSelected(true);
}

// --- saved view ---

void CMeters::SaveConfiguredMeters() {
  for (int i = 0; i < kMeterCount; ++i) {
    const GaugeSlot& s = slots_[static_cast<size_t>(i)];
    const bool open = s.holder && s.record && s.record->window;
    configured_[static_cast<size_t>(i)] = open ? s.record->window->windowTitle() : QStringLiteral(" ");
  }
}

int CMeters::WriteFileToDisk() {
  // Written whole or not at all: a failed write leaves the previous view in place.
  QSaveFile out(QString::fromLatin1(kSavedViewFile));
  bool ok = out.open(QIODevice::WriteOnly);
  for (const QString& name : configured_) {
    if (!ok) break;
    ok = out.write(name.toUtf8() + '\n') >= 0;
  }
  if (!ok || !out.commit()) {
    out.cancelWriting();
    TremMessageBox(this, LoadString(IDS_UNABLE_TO_WRITE), MB_OK | MB_ICONEXCLAMATION);
    return 0;
  }
  return 1;
}

int CMeters::ReadFileFromDisk() {
  for (QString& name : configured_) name = QStringLiteral(" ");
  std::FILE* f = std::fopen(kSavedViewFile, "rb");
  if (f == nullptr) {
    configured_[0] = LoadString(1377);
    configured_[1] = LoadString(1603);
    configured_[2] = LoadString(1609);
    configured_[3] = LoadString(1610);
    return 0;
  }
  // Lines of at most 80 characters; a longer line goes on as the next entry. Only a line's
  // newline is dropped.
  char buffer[kSavedViewLineLength + 1];
  int count = 0;
  while (count < kMeterCount && std::fgets(buffer, sizeof buffer, f) != nullptr) {
    std::string line(buffer);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    configured_[static_cast<size_t>(count++)] = QString::fromStdString(line);
  }
  std::fclose(f);
  return 1;
}

void CMeters::OnSaveView() {
  SaveConfiguredMeters();
  WriteFileToDisk();
}
