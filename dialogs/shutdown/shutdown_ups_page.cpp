#include "dialogs/shutdown/shutdown_ups_page.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
#include <algorithm>

#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/notification/action_helpers.h"
#include "dialogs/shutdown/page_fields.h"

TREM_REGISTER_DIALOG(ShutdownUpsPage);

static const StringTableRegistrar kStrings{
    {3523, "IsFunctionSupported failure"},
    {3568, "Total battery time is out of range!\nSelect a value between 1 and 1800 minutes."},
    {3569,
     "Time on battery before starting shutdown is out of range!\nSelect a value between 1 and Total "
     "Battery Time."},
    {3570,
     "The time to wait before warning the administrator\ncannot be greater than the time to wait "
     "before \nstarting the shutdown process"},
    {3571,
     "The time to wait before warning the users \ncannot be greater than the time to wait before "
     "\nstarting the shutdown process!"},
    {3572, "Warning!  \nUnable to set the total battery time.\nThe value entered exceeds the maximum limit."},
    {3573,
     "Warning!  \nUnable to set the time on battery before start shutdown.\nThe value entered exceeds "
     "the total battery time."},
    {3574, "Due to a power failure your system will be shutdown."},
    {3575, "Unable to update action for user warning!"},
    {3576, "Unable to update action for administrator warning!"},
    {3711,
     "Setting the total Battery Runtime greater than \n the rated full load runtime may use up the "
     "battery \n before a proper shutdown has been completed."},
};

static const HelpTopicRegistrar kHelp(
    kPanelHelpFile, ShutdownUpsPage::kHelpContext, "UPS Management",
    "The total battery time: how long the UPS carries the load on battery.\n"
    "The wait before the shutdown starts: less than the total battery time.\n"
    "Turn off UPS: the UPS switches itself off once the shutdown is complete.\n"
    "The waits before the administrator and the users are warned: at most the wait before the "
    "shutdown starts.\n\nNext shows the software programs run at shutdown.");

namespace {
constexpr uint16_t kUnset = 0xFFFF;
constexpr int kOnBatteryEvent = 3;
constexpr int kMaxTotal = 1800;
constexpr int kDefaultTotal = 7;
constexpr int kDefaultStart = 5;
}  // namespace

ShutdownUpsPage::ShutdownUpsPage(QWidget* parent, const QString& hostName)
    : ShutdownPage(ShutdownPageId::Ups, IDD_SHUTDOWN_UPS_PAGE, parent, hostName) {
  BuildControls();
  Create(IDD_SHUTDOWN_UPS_PAGE);
}

void ShutdownUpsPage::BuildControls() {
  setWindowTitle(QStringLiteral("Configure Shutdown Parameters - UPS Management"));
  auto* layout = new QVBoxLayout(this);
  auto* grid = new QGridLayout;
  total_ = MakeMinutesEdit(this, IDC_UPS_TOTAL);
  start_ = MakeMinutesEdit(this, IDC_UPS_START);
  admin_ = MakeMinutesEdit(this, IDC_UPS_ADMIN);
  user_ = MakeMinutesEdit(this, IDC_UPS_USER);
  turn_off_ = new QCheckBox(QStringLiteral("Turn off UPS after shutdown is complete?"), this);
  turn_off_->setObjectName(ControlName(IDC_UPS_TURN_OFF));
  AddQuestionRow(grid, 0, QStringLiteral("What is the total battery time available?"), total_);
  AddQuestionRow(grid, 1,
                 QStringLiteral("How long do you want to wait after the UPS goes on battery before starting "
                                "the shutdown process?"),
                 start_);
  grid->addWidget(turn_off_, 2, 0, 1, 3);
  AddQuestionRow(grid, 3,
                 QStringLiteral("How long do you want to wait after the UPS goes on battery before warning "
                                "the administrator?"),
                 admin_);
  QLabel* userLabel = AddQuestionRow(
      grid, 4,
      QStringLiteral("How long do you want to wait after the UPS goes on battery before warning the users?"),
      user_);
  user_row_ = {userLabel, user_, grid->itemAtPosition(4, 2)->widget()};
  grid->setColumnStretch(0, 1);
  grid->setVerticalSpacing(10);
  layout->addLayout(grid);
  layout->addStretch(1);
  layout->addSpacing(8);
  layout->addWidget(MakeFitNote());
  layout->addLayout(MakePageButtons(true, false));
  setTabOrder(total_, start_);
  setTabOrder(start_, turn_off_);
  setTabOrder(turn_off_, admin_);
  setTabOrder(admin_, user_);
}

bool ShutdownUpsPage::OnInitDialog() {
  KTDialog::OnInitDialog();
  SetHelpContextId(kHelpContext);
  int bit10, bit33;
  uint16_t total, start;
  uint8_t turnOff;
  int adminSeconds = 0, userSeconds = 0;
  int osMinutes;
  {
    auto lock = gScp.Lock();
    bit10 = gScp.upsInfo.IsFunctionSupported(1, 0);
    bit33 = gScp.upsInfo.IsFunctionSupported(3, 3);
    user_supported_ = gScp.notify.IsActionSupported(ACTION_USER_WARNING) == 1;
    total = gScp.config.GetTotalBatteryTime();
    start = gScp.config.GetShutdownStartDelay();
    turnOff = gScp.config.GetTurnOffUps();
    // The time the Software Programs page will open with: the total must hold it too.
    osMinutes = OsTimeRule::Of(gScp.upsInfo).Shown(gScp.config.GetOsShutdownTime());
    KT_ActionEntry entry;
    if (gScp.notify.FindAction(kOnBatteryEvent, ACTION_USER_WARNING, entry)) userSeconds = entry.delay;
    if (gScp.notify.FindAction(kOnBatteryEvent, ACTION_CONSOLE_WARNING, entry)) adminSeconds = entry.delay;
  }
  if (bit10 == 0 && bit33 == 0) turn_off_->hide();
  if (bit10 < 0 || bit33 < 0) TremMessageBox(this, LoadString(3523), MB_OK);
  for (QWidget* w : user_row_) w->setVisible(user_supported_);

  // Values this page and the next accept: the total holds the wait before the shutdown and
  // the operating system's time (raised rather than the wait cut short: the total is the
  // user's estimate, the wait is what the agent acts on), and no warning comes after the
  // shutdown has started.
  const int heldTotal = total == kUnset ? kDefaultTotal : total;
  const int heldStart = start == kUnset ? kDefaultStart : start;
  int shownTotal = std::clamp(heldTotal, 1, kMaxTotal);
  int shownStart = std::clamp(heldStart, 1, kMaxTotal);
  if (shownStart + osMinutes > shownTotal) {
    if (shownStart + osMinutes <= kMaxTotal) {
      shownTotal = shownStart + osMinutes;
    } else {
      shownTotal = kMaxTotal;
      shownStart = std::max(1, kMaxTotal - osMinutes);
    }
  }
  const int shownAdmin = std::min(adminSeconds / 60, shownStart);
  const int shownUser = std::min(userSeconds / 60, shownStart);
  QStringList changes;
  if (shownTotal != heldTotal)
    changes << FitLine(QStringLiteral("Total battery time"), shownTotal, heldTotal * 60,
                       QStringLiteral("it holds the %1 minutes before the shutdown starts and the operating "
                                      "system's %2 minutes")
                           .arg(shownStart)
                           .arg(osMinutes));
  if (shownStart != heldStart)
    changes << FitLine(
        QStringLiteral("Wait before the shutdown starts"), shownStart, heldStart * 60,
        QStringLiteral("the operating system's %1 minutes follow it within the total").arg(osMinutes));
  const auto warning = [&](const QString& what, int shown, int held) {
    if (shown * 60 == held) return;
    changes << FitLine(what, shown, held,
                       shown < held / 60 ? QStringLiteral("no warning comes after the shutdown has started")
                                         : QStringLiteral("the page sets whole minutes"));
  };
  warning(QStringLiteral("Wait before warning the administrator"), shownAdmin, adminSeconds);
  if (user_supported_) warning(QStringLiteral("Wait before warning the users"), shownUser, userSeconds);

  total_->setText(QString::number(shownTotal));
  start_->setText(QString::number(shownStart));
  admin_->setText(QString::number(shownAdmin));
  user_->setText(QString::number(shownUser));
  turn_off_->setChecked(turnOff == 1 || turnOff == 255);
  ShowFitNote(changes);
  SetHostCaption(QStringLiteral("Configure Shutdown Parameters - UPS Management"));
  total_->setFocus();
  return true;
}

QString ShutdownUpsPage::Check() {
  total_value_ = MinutesOf(total_);
  start_value_ = MinutesOf(start_);
  admin_seconds_ = std::max(0, MinutesOf(admin_)) * 60;
  user_seconds_ = user_supported_ ? std::max(0, MinutesOf(user_)) * 60 : 0;
  if (total_value_ < 1 || total_value_ > kMaxTotal) return LoadString(3568);
  if (start_value_ < 1 || start_value_ >= total_value_) return LoadString(3569);
  if (admin_seconds_ > start_value_ * 60) return LoadString(3570);
  if (user_seconds_ > start_value_ * 60) return LoadString(3571);
  return QString();
}

bool ShutdownUpsPage::Validate() {
  const int total = MinutesOf(total_);
  if (total < 1 || (total >= 481 && total <= 1799))
    TremMessageBox(this, LoadString(3711), MB_OK | MB_ICONEXCLAMATION);
  return ShutdownPage::Validate();
}

bool ShutdownUpsPage::UpdateAction(int action, int delaySeconds) {
  auto lock = gScp.Lock();
  KT_ActionEntry entry;
  if (!gScp.notify.FindAction(kOnBatteryEvent, action, entry)) {
    entry = KT_ActionEntry(kOnBatteryEvent, static_cast<uint8_t>(action));
    entry.interval = 60;
    entry.alias = 255;
    entry.SetMessage(LoadString(3574).toUtf8().constData());
  }
  entry.delay = static_cast<uint16_t>(delaySeconds);
  return AddOrReplaceAction(gScp.notify, entry);
}

bool ShutdownUpsPage::Apply() {
  QString failure;
  {
    auto lock = gScp.Lock();
    if (gScp.config.SetTotalBatteryTime(total_value_) < 0) failure = LoadString(3572);
    if (gScp.config.SetShutdownStartDelay(start_value_) < 0) failure = LoadString(3573);
  }
  if (user_supported_ && !UpdateAction(ACTION_USER_WARNING, user_seconds_)) failure = LoadString(3575);
  if (!UpdateAction(ACTION_CONSOLE_WARNING, admin_seconds_)) failure = LoadString(3576);
  {
    auto lock = gScp.Lock();
    if (turn_off_->isChecked())
      gScp.config.SetTurnOffUps();
    else
      gScp.config.ClearTurnOffUps();
  }
  if (!failure.isEmpty()) {
    TremMessageBox(this, failure, MB_OK);
    return false;
  }
  return true;
}

std::optional<ShutdownPageId> ShutdownUpsPage::NextPage() const {
  return ShutdownPageId::Programs;
}

void ShutdownUpsPage::OnNext() {
  // This page closes as Cancel does: its values are applied already.
  if (GoTo(ShutdownPageId::Programs)) KTDialog::OnCancel();
}
