#include "dialogs/datacollection/dc_dlg_setup.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "core/scp/meter_block.h"
#include "dialogs/datacollection/dc_meter_select_dlg.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/file_dialog.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/request_path.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"
#include "platform/clock.h"

DialogPointer<CDcDlgSetup> pDcDlgSetup;

TREM_REGISTER_DIALOG(CDcDlgSetup);

static const StringTableRegistrar kStrings{
    {3277, "Current Input Phase A"},  {3278, "Current Input Phase B"},  {3279, "Current Input Phase C"},
    {3280, "Current Output Phase A"}, {3281, "Current Output Phase B"}, {3282, "Current Output Phase C"},
    {3283, "Frequency Input"},        {3284, "Frequency Output"},       {3285, "Percent Battery Capacity"},
    {3286, "Percent Load Phase A"},   {3287, "Percent Load Phase B"},   {3288, "Percent Load Phase C"},
    {3289, "Voltage Input Phase A"},  {3290, "Voltage Input Phase B"},  {3291, "Voltage Input Phase C"},
    {3292, "Voltage Output Phase A"}, {3293, "Voltage Output Phase B"}, {3294, "Voltage Output Phase C"},
    {3295, "Voltage Total Battery"}};

namespace {

constexpr int kMeterBlock = 3;
constexpr int kMinSampleMs = 1000;
constexpr uint16_t kUnknownWord = 0xFFFF;
constexpr int kUnknownByte = 255;
constexpr double kGap = std::numeric_limits<double>::quiet_NaN();

double Word(int v, double scale = 1.0) {
  return v == kUnknownWord || v < 0 ? kGap : v * scale;
}

double Byte(int v) {
  return v == kUnknownByte || v < 0 ? kGap : v;
}

// The framework's field checks: a message in the library's box, then the field gets the focus.
bool Refuse(QWidget* owner, QLineEdit* edit, const QString& text) {
  TremMessageBox(owner, text, MB_OK | MB_ICONEXCLAMATION);
  edit->setFocus();
  edit->selectAll();
  return false;
}

bool ReadInt(QWidget* owner, QLineEdit* edit, int lo, int hi, int& out) {
  bool ok = false;
  const int v = edit->text().trimmed().toInt(&ok);
  if (!ok) return Refuse(owner, edit, QStringLiteral("Please enter an integer."));
  if (v < lo || v > hi) {
    return Refuse(owner, edit, QStringLiteral("Please enter an integer between %1 and %2.").arg(lo).arg(hi));
  }
  out = v;
  return true;
}

bool ReadDouble(QWidget* owner, QLineEdit* edit, double lo, double hi, double& out) {
  bool ok = false;
  const double v = edit->text().trimmed().toDouble(&ok);
  if (!ok || !std::isfinite(v)) return Refuse(owner, edit, QStringLiteral("Please enter a number."));
  if (v < lo || v > hi) {
    return Refuse(owner, edit,
                  QStringLiteral("Please enter a number between %1 and %2.")
                      .arg(QString::number(lo), QString::number(hi)));
  }
  out = v;
  return true;
}

}  // namespace

double DcMeterReading(MeterBlock& m, int type) {
  switch (type) {
    case 0:
    case 1:
    case 2:
      return Word(m.GetInputCurrent(type), 0.1);
    case 3:
    case 4:
    case 5:
      return Word(m.GetOutputCurrent(type - 3), 0.1);
    case 6:
      return Word(m.GetInputFrequency());
    case 7:
      return Word(m.GetOutputFrequency());
    case 8:
      return Byte(m.GetBatteryCapacity());
    case 9:
      return Byte(m.GetPercentLoad(-1));  // the stored percent load
    case 12:
    case 13:
    case 14:
      return Word(m.GetInputVoltage(type - 12));
    case 15:
    case 16:
    case 17:
      return Word(m.GetOutputVoltage(type - 15));
    case 18:
      return Word(m.GetBatteryVoltage());
    default:
      return kGap;  // the load of phases B and C has no source
  }
}

CDcDlgSetup::CDcDlgSetup(QWidget* parent, const QString& hostName)
    : KTDialog(IDD_DC_SETUP, parent, hostName) {
  BindDialogPointer(pDcDlgSetup);
  SetWaitCount(0);
  readings_.resize(kDcMeterTypeCount);
  BuildControls();
  Create(IDD_DC_SETUP);
}

CDcDlgSetup::~CDcDlgSetup() {
  pDcDlgSetup.ClearIf(this);
}

void CDcDlgSetup::BuildControls() {
  setWindowTitle(QStringLiteral("Data Collection Setup"));
  auto* layout = new QVBoxLayout(this);
  auto* body = new QHBoxLayout;

  auto* left = new QVBoxLayout;
  auto* listLabel = new QLabel(QStringLiteral("Select Meter Types to Store:"), this);
  list_ = new QListWidget(this);
  list_->setObjectName(ControlName(IDC_METER_LIST));
  list_->setSelectionMode(QAbstractItemView::MultiSelection);
  listLabel->setBuddy(list_);
  left->addWidget(listLabel);
  left->addWidget(list_, 1);
  body->addLayout(left, 1);

  auto* right = new QVBoxLayout;
  auto* grid = new QGridLayout;
  auto makeEdit = [this](int id) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(ControlName(id));
    edit->setMaximumWidth(110);
    return edit;
  };
  QLineEdit* samples = makeEdit(IDC_SAMPLES);
  QLineEdit* interval = makeEdit(IDC_INTERVAL);
  QLineEdit* maxEntriesEdit = makeEdit(IDC_MAX_ENTRIES);
  int row = 0;
  for (auto [text, edit] :
       {std::pair{"Number of Samples:", samples}, std::pair{"Sample Interval (sec):", interval},
        std::pair{"Maximum Value Entries:", maxEntriesEdit}}) {
    auto* label = new QLabel(QString::fromLatin1(text), this);
    label->setBuddy(edit);
    grid->addWidget(label, row, 0, Qt::AlignRight | Qt::AlignVCenter);
    grid->addWidget(edit, row, 1, Qt::AlignLeft);
    ++row;
  }
  grid->setColumnStretch(1, 1);
  right->addLayout(grid);

  auto* fileGroup = new QGroupBox(QStringLiteral("Collection File"), this);
  auto* fileRow = new QHBoxLayout(fileGroup);
  auto* nameLabel = new QLabel(QStringLiteral("Name:"), fileGroup);
  auto* name = new QLineEdit(fileGroup);
  name->setObjectName(ControlName(IDC_FILE_NAME));
  name->setMaxLength(250);
  name->setMinimumWidth(200);
  nameLabel->setBuddy(name);
  QPushButton* browse = MakeButton(IDC_BROWSE, QStringLiteral("Browse"));
  connect(browse, &QPushButton::clicked, this, [this] { OnDcBrowse(); });
  fileRow->addWidget(nameLabel);
  fileRow->addWidget(name, 1);
  fileRow->addWidget(browse);
  right->addWidget(fileGroup);
  right->addStretch(1);
  body->addLayout(right);
  layout->addLayout(body, 1);

  auto* buttons = new QHBoxLayout;
  QPushButton* graph = MakeButton(IDC_GRAPH, QStringLiteral("Graph"));
  connect(graph, &QPushButton::clicked, this, [this] { OnDcDisplay(); });
  buttons->addWidget(graph);
  buttons->addSpacing(12);
  buttons->addLayout(MakeButtonRow({IDOK, IDCANCEL, ID_HELP}), 1);
  layout->addLayout(buttons);

  setTabOrder(list_, samples);
  setTabOrder(samples, interval);
  setTabOrder(interval, maxEntriesEdit);
  setTabOrder(maxEntriesEdit, name);
  setTabOrder(name, browse);
  setTabOrder(browse, graph);
  setTabOrder(graph, Control<QPushButton>(IDOK));
  setTabOrder(Control<QPushButton>(IDOK), Control<QPushButton>(IDCANCEL));
  setTabOrder(Control<QPushButton>(IDCANCEL), Control<QPushButton>(ID_HELP));
  list_->setMinimumWidth(200);
}

bool CDcDlgSetup::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(0);
  numberOfSamples = 100;
  sampleInterval = 1.0;
  fileName = QStringLiteral("storage.mtr");
  maxEntries = 100;
  list_->clear();
  for (int i = 0; i < kDcMeterTypeCount; ++i) list_->addItem(LoadString(kDcFirstMeterString + i));
  // Room for every entry without scrolling.
  list_->setMinimumHeight(list_->sizeHintForRow(0) * list_->count() + 2 * list_->frameWidth() + 2);
  selection_.assign(static_cast<size_t>(kDcMeterTypeCount), 0);
  list_->item(0)->setSelected(true);
  list_->setCurrentRow(0, QItemSelectionModel::NoUpdate);
  selection_[0] = 1;
  WriteControls();
  RequestMeters();
  RestartTimer();
  return true;
}

void CDcDlgSetup::WriteControls() {
  Control<QLineEdit>(IDC_SAMPLES)->setText(QString::number(numberOfSamples));
  Control<QLineEdit>(IDC_INTERVAL)->setText(QString::number(sampleInterval, 'g', 6));
  Control<QLineEdit>(IDC_FILE_NAME)->setText(fileName);
  Control<QLineEdit>(IDC_MAX_ENTRIES)->setText(QString::number(maxEntries));
}

bool CDcDlgSetup::UpdateData() {
  int samples = 0;
  double interval = 0;
  int entries = 0;
  if (!ReadInt(this, Control<QLineEdit>(IDC_SAMPLES), 10, 1000, samples)) return false;
  if (!ReadDouble(this, Control<QLineEdit>(IDC_INTERVAL), 0.001, 100.0, interval)) return false;
  auto* name = Control<QLineEdit>(IDC_FILE_NAME);
  if (name->text().size() > 250)
    return Refuse(this, name, QStringLiteral("Please enter no more than 250 characters."));
  if (!ReadInt(this, Control<QLineEdit>(IDC_MAX_ENTRIES), 10, 100000, entries)) return false;
  numberOfSamples = samples;
  sampleInterval = interval;
  fileName = name->text();
  maxEntries = entries;
  RestartTimer();
  for (auto& r : readings_) {
    while (static_cast<int>(r.size()) > maxEntries) r.pop_front();
  }
  return true;
}

void CDcDlgSetup::RestartTimer() {
  const int ms = std::max(kMinSampleMs, static_cast<int>(std::lround(sampleInterval * 1000.0)));
  if (ms == timer_ms_ && HasTimer(kSampleTimer)) return;
  timer_ms_ = ms;
  SetTimer(kSampleTimer, ms);
}

void CDcDlgSetup::RequestMeters() {
  requested_at_ = platform::Now();
  RequestDataFor(RequestTarget{}, kMeterBlock, 0, 0);
}

void CDcDlgSetup::OnTimer(int timerId) {
  if (timerId != kSampleTimer) {
    KTDialog::OnTimer(timerId);
    return;
  }
  TakeSample();
}

void CDcDlgSetup::TakeSample() {
  std::vector<double> sample(static_cast<size_t>(kDcMeterTypeCount), kGap);
  {
    auto lock = gScp.Lock();
    // Only a reply that arrived since the last request counts; otherwise the sample is a gap.
    const int64_t filled = gScp.meters.Branches().GetTime(0);
    if (requested_at_ >= 0 && filled != 0 && filled >= requested_at_) {
      for (int t = 0; t < kDcMeterTypeCount; ++t)
        sample[static_cast<size_t>(t)] = DcMeterReading(gScp.meters, t);
    }
  }
  for (int t = 0; t < kDcMeterTypeCount; ++t) {
    auto& r = readings_[static_cast<size_t>(t)];
    r.push_back(sample[static_cast<size_t>(t)]);
    while (static_cast<int>(r.size()) > maxEntries) r.pop_front();
  }
  ++samples_taken_;
  RequestMeters();
}

QStringList CDcDlgSetup::EntryTexts() const {
  QStringList out;
  for (int i = 0; i < list_->count(); ++i) out << list_->item(i)->text();
  return out;
}

void CDcDlgSetup::OnDcDisplay() {
  for (int i = 0; i < list_->count() && i < static_cast<int>(selection_.size()); ++i) {
    selection_[static_cast<size_t>(i)] = list_->item(i)->isSelected() ? 1 : 0;
  }
  if (!UpdateData()) return;
  auto* display = new CDcMeterSelectDlg(nullptr, HostName());
  display->DoModal();
  delete display;
  pDcMeterSelectDlg = nullptr;
}

void CDcDlgSetup::OnDcBrowse() {
  if (!UpdateData()) return;
  QString chosen;
  const QString directory = fileName;
  if (GetFileDialogLayer().GetSaveFileName(this, QStringLiteral("Save As"), directory,
                                           QStringLiteral("Meter Files (*.mtr);;All Files (*.*)"), chosen)) {
    if (QFileInfo(chosen).suffix().isEmpty()) chosen += QStringLiteral(".mtr");
    fileName = chosen.left(250);
    WriteControls();
  }
}

int CDcDlgSetup::TypeOfText(const QString& text) const {
  for (int i = 0; i < kDcMeterTypeCount; ++i) {
    if (LoadString(kDcFirstMeterString + i) == text) return i;
  }
  return -1;
}

QStringList CDcDlgSetup::DisplaySelectedTexts() const {
  QStringList out;
  if (!pDcMeterSelectDlg || pDcMeterSelectDlg->DisplayList() == nullptr) return out;
  QListWidget* list = pDcMeterSelectDlg->DisplayList();
  for (int i = 0; i < list->count() && out.size() < kMaxDisplaySeries; ++i) {
    if (list->item(i)->isSelected()) out << list->item(i)->text();
  }
  return out;
}

int CDcDlgSetup::GetSampleCount() const {
  const int collected = readings_.empty() ? 0 : static_cast<int>(readings_[0].size());
  return std::min(numberOfSamples, collected);
}

const double* CDcDlgSetup::GetPtrDataTime() {
  const int n = GetSampleCount();
  time_.resize(static_cast<size_t>(n));
  for (int k = 0; k < n; ++k) time_[static_cast<size_t>(k)] = k;
  return time_.empty() ? nullptr : time_.data();
}

void CDcDlgSetup::FreeDataTime() {
  time_.clear();
  time_.shrink_to_fit();
}

const std::vector<std::vector<double>>& CDcDlgSetup::GetPtrDataValues() {
  const int n = GetSampleCount();
  values_.clear();
  for (const QString& text : DisplaySelectedTexts()) {
    const int type = TypeOfText(text);
    std::vector<double> v(static_cast<size_t>(n), kGap);
    if (type >= 0) {
      const auto& r = readings_[static_cast<size_t>(type)];
      const size_t first = r.size() - static_cast<size_t>(n);  // the newest n, oldest first
      for (int k = 0; k < n; ++k) v[static_cast<size_t>(k)] = r[first + static_cast<size_t>(k)];
    }
    values_.push_back(std::move(v));
  }
  return values_;
}

void CDcDlgSetup::FreeDataValues() {
  values_.clear();
}

const char* CDcDlgSetup::GetPtrLegendStrings() {
  legend_.clear();
  legend_count_ = 0;
  for (const QString& name : DisplaySelectedTexts()) {
    const QByteArray text = name.toUtf8();
    const size_t at = legend_.size();
    legend_.resize(at + kLegendSlot, '\0');
    std::memcpy(legend_.data() + at, text.constData(),
                std::min<size_t>(static_cast<size_t>(text.size()), kLegendSlot - 1));
    ++legend_count_;
  }
  return legend_.empty() ? nullptr : legend_.data();
}

void CDcDlgSetup::FreeLegendStrings() {
  legend_.clear();
  legend_count_ = 0;
}
