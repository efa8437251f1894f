#include "dialogs/shutdown/shutdown_load_page.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QLabel>
#include <QLayout>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/reply_routing.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/shutdown/page_fields.h"
#include "dialogs/shutdown/shutdown_dlg.h"

TREM_REGISTER_DIALOG(ShutdownLoadSegmentPage);

static const StringTableRegistrar kStrings{
    {3584,
     "The time to wait before turning off the non-critical \nsegments is invalid.  The time must be less "
     "than \nthe time to wait before starting the shutdown process."},
    {3585,
     "The time to wait before turning off the non-critical \nsegments is invalid.  The time must be less "
     "than 255."},
    {3586,
     "The time to wait before turning back on the non-critical \nsegments is invalid.  The time must be "
     "less than 5."},
    {3587, "Unable to set down delay for non-critical receptacle"},
    {3588, "Unable to set up delay for non-critical receptacle"},
};

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, ShutdownLoadSegmentPage::kHelpContext, "Non-Critical Load Segment",
    "The load segment that feeds equipment which may go off first on battery, or NONE.\n\n"
    "It is turned off the given minutes after the UPS goes on battery (less than the wait before "
    "the shutdown starts) and turned on again the given minutes after the power returns (at most "
    "5).");

namespace {
constexpr uint16_t kUnset = 0xFFFF;

// A spin box whose arrows stay within the up-down range while typing may go beyond it (the
// page refuses such a value with its own message).
class StepLimitedSpinBox : public QSpinBox {
 public:
  StepLimitedSpinBox(int id, int stepMax, QWidget* parent) : QSpinBox(parent), step_max_(stepMax) {
    setObjectName(ControlName(id));
    setRange(0, 9999);
    setAlignment(Qt::AlignRight);
    setFixedWidth(fontMetrics().averageCharWidth() * 12);
  }
  void stepBy(int steps) override { setValue(std::clamp(value() + steps, 0, step_max_)); }

 protected:
  StepEnabled stepEnabled() const override {
    StepEnabled e = StepNone;
    if (value() > 0) e |= StepDownEnabled;
    if (value() < step_max_) e |= StepUpEnabled;
    return e;
  }

 private:
  int step_max_;
};
}  // namespace

ShutdownLoadSegmentPage::ShutdownLoadSegmentPage(QWidget* parent, const QString& hostName)
    : ShutdownPage(ShutdownPageId::LoadSegment, IDD_SHUTDOWN_LOAD_PAGE, parent, hostName) {
  BuildControls();
  Create(IDD_SHUTDOWN_LOAD_PAGE);
}

void ShutdownLoadSegmentPage::BuildControls() {
  setWindowTitle(QStringLiteral("Configure Shutdown Parameters - Non-Critical Load Segment"));
  auto* layout = new QVBoxLayout(this);
  auto* grid = new QGridLayout;
  segments_ = new QComboBox(this);
  segments_->setObjectName(ControlName(IDC_LOAD_SEGMENT));
  segments_->setMinimumContentsLength(8);
  down_ = new StepLimitedSpinBox(IDC_LOAD_DOWN, kDownStepMax, this);
  up_ = new StepLimitedSpinBox(IDC_LOAD_UP, kUpStepMax, this);
  AddQuestionRow(grid, 0, QStringLiteral("Select which segment contains the non-critical hardware."),
                 segments_, QString());
  QLabel* downLabel = AddQuestionRow(grid, 1,
                                     QStringLiteral("How long do you want to wait after the UPS goes on "
                                                    "battery before turning off the non-critical segment?"),
                                     down_);
  QWidget* downUnit = grid->itemAtPosition(1, 2)->widget();
  QLabel* upLabel = AddQuestionRow(grid, 2,
                                   QStringLiteral("How long do you want to wait after utility power is "
                                                  "restored before turning on the non-critical segment?"),
                                   up_);
  QWidget* upUnit = grid->itemAtPosition(2, 2)->widget();
  delay_widgets_ = {downLabel, down_, downUnit, upLabel, up_, upUnit};
  grid->setColumnStretch(0, 1);
  grid->setVerticalSpacing(10);
  layout->addLayout(grid);
  auto* note = new QLabel(
      QStringLiteral("NOTE:  The critical segment will be turned off when the UPS is turned off."), this);
  note->setObjectName(ControlName(1912));
  note->setWordWrap(true);
  layout->addSpacing(8);
  layout->addWidget(note);
  layout->addStretch(1);
  layout->addSpacing(8);
  layout->addWidget(MakeFitNote());
  layout->addLayout(MakePageButtons(OffersClients(), true));
  connect(segments_, &QComboBox::activated, this, [this] { OnSelectionChange(); });
  setTabOrder(segments_, down_);
  setTabOrder(down_, up_);
}

bool ShutdownLoadSegmentPage::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  int segment;
  uint16_t down = 0, up = 0;
  int start;
  {
    auto lock = gScp.Lock();
    const uint16_t s = gScp.config.GetShutdownStartDelay();
    start = s == kUnset ? 5 : s;
    count_ = gScp.receptacles.GetCount();
    segment = gScp.receptacles.GetNonCriticalSegment();
    if (segment != kNoSegment) {
      down = gScp.receptacles.GetDownDelay(segment);
      up = gScp.receptacles.GetUpDelay(segment);
    }
  }
  if (DialogIsOpen(pShutdownDlg.get())) pShutdownDlg->SetSegmentCount(count_);
  segments_->clear();
  // Numbered from 1, in decimal whatever the count.
  for (int i = 0; i < count_; ++i) segments_->addItem(QString::number(i + 1));
  segments_->addItem(LoadString(3589));
  fit_lines_.clear();
  if (segment == kNoSegment || segment >= count_) {
    segments_->setCurrentIndex(count_);
    down_->setValue(0);
    up_->setValue(0);
    ShowDelays(false);
  } else {
    // Delays this page refuses are shown as the nearest it takes: off before the shutdown
    // starts, on again within 5 minutes.
    const int heldDown = down == kUnset ? 0 : down;
    const int heldUp = up == kUnset ? 0 : up;
    const int shownDown = std::min({heldDown / 60, std::max(0, start - 1), kDownStepMax});
    const int shownUp = std::min(heldUp / 60, kUpStepMax);
    const QString wholeMinutes = QStringLiteral("the page sets whole minutes");
    if (shownDown * 60 != heldDown)
      fit_lines_ << FitLine(
          QStringLiteral("Wait before turning off the non-critical segment"), shownDown, heldDown,
          shownDown < heldDown / 60 ? QStringLiteral("the segment goes off before the shutdown starts")
                                    : wholeMinutes);
    if (shownUp * 60 != heldUp)
      fit_lines_ << FitLine(QStringLiteral("Wait before turning it on again"), shownUp, heldUp,
                            shownUp < heldUp / 60 ? QStringLiteral("at most 5 minutes") : wholeMinutes);
    segments_->setCurrentIndex(segment);
    down_->setValue(shownDown);
    up_->setValue(shownUp);
    ShowDelays(true);
  }
  opened_segment_ = segments_->currentIndex();
  SetHostCaption(QStringLiteral("Configure Shutdown Parameters - Non-Critical Load Segment"));
  segments_->setFocus();
  return true;
}

void ShutdownLoadSegmentPage::ShowDelays(bool on) {
  for (QWidget* w : delay_widgets_) w->setVisible(on);
  // The note speaks of the delays: without a segment none of them is set.
  ShowFitNote(on ? fit_lines_ : QStringList());
  // The page grows and shrinks with the rows shown.
  if (layout() != nullptr) layout()->activate();
  adjustSize();
}

void ShutdownLoadSegmentPage::OnSelectionChange() {
  // The note speaks of the held segment's delays as the page opened with them; once another
  // choice is made (NONE resets the delays) it no longer says what OK sets.
  if (segments_->currentIndex() != opened_segment_) fit_lines_.clear();
  if (segments_->currentIndex() >= count_) {
    down_->setValue(0);
    up_->setValue(0);
    ShowDelays(false);
  } else {
    ShowDelays(true);
  }
}

QString ShutdownLoadSegmentPage::Check() {
  down_->interpretText();
  up_->interpretText();
  down_seconds_ = down_->value() * 60;
  up_seconds_ = up_->value() * 60;
  int start;
  {
    auto lock = gScp.Lock();
    const uint16_t s = gScp.config.GetShutdownStartDelay();
    start = (s == kUnset ? 5 : s) * 60;
  }
  if (down_seconds_ >= start) return LoadString(3584);
  if (down_seconds_ > 15300) return LoadString(3585);
  if (up_seconds_ > 300) return LoadString(3586);
  return QString();
}

bool ShutdownLoadSegmentPage::Apply() {
  const int index = segments_->currentIndex();
  QString failure;
  {
    auto lock = gScp.Lock();
    if (index < 0 || index >= count_) {
      gScp.receptacles.SetNonCriticalSegment(kNoSegment);
    } else {
      gScp.receptacles.SetNonCriticalSegment(static_cast<uint8_t>(index));
      if (gScp.receptacles.SetDownDelay(index, static_cast<uint16_t>(down_seconds_)) < 0)
        failure = LoadString(3587);
      if (gScp.receptacles.SetUpDelay(index, static_cast<uint16_t>(up_seconds_)) < 0)
        failure = LoadString(3588);
    }
  }
  if (!failure.isEmpty()) {
    TremMessageBox(this, failure, MB_OK);
    return false;
  }
  return true;
}

void ShutdownLoadSegmentPage::OnOK() {
  if (!Validate() || !Apply()) return;
  RepaintTimeLine();
  // The time line rebuilds its rows from this notice as from a reply of the receptacle block.
  if (DialogIsOpen(pShutdownDlg.get()))
    QCoreApplication::postEvent(pShutdownDlg.get(), new ScpReplyEvent(0, PackScpKey(0, 28, 1, 0)));
  KTDialog::OnOK();
}

std::optional<ShutdownPageId> ShutdownLoadSegmentPage::NextPage() const {
  if (OffersClients()) return ShutdownPageId::Clients;
  return std::nullopt;
}

void ShutdownLoadSegmentPage::OnNext() {
  if (NextPage() && GoTo(ShutdownPageId::Clients)) OnOK();
}

void ShutdownLoadSegmentPage::OnBack() {
  if (GoBack(ShutdownPageId::Programs)) OnOK();
}
