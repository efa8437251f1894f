#include "console/tavona/tandle_view.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <ctime>

#include "console/comm/comm_notice.h"
#include "console/common/console_screenshots.h"
#include "console/tavona/about_dlg.h"
#include "console/tavona/console_app.h"
#include "console/tavona/dialog_commands.h"
#include "console/tavona/tandle_frame.h"
#include "console/tavona/tandle_pictures.h"
#include "console/tavona/tavona_ids.h"
#include "core/base/service_start.h"
#include "core/base/setup_data.h"
#include "dialogs/frame/console_stop_signals.h"
#include "dialogs/frame/control_ids.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/help_topics.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/reply_routing.h"
#include "dialogs/frame/request_path.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/schedule/sched_shutdown_dlg.h"
#include "platform/clock.h"

using namespace tavona;

namespace {

constexpr int kStateTextIds[25] = {2280,  2281,  2282,  61453, 2284,  2285,  2286, 2287, 2288,
                                   2289,  2290,  2291,  2293,  2292,  2294,  2295, 2296, 2297,
                                   61446, 61447, 61448, 61449, 61450, 61451, 61452};
constexpr int kEventColumn = 1271;
constexpr int kTimeColumn = 1269;
constexpr int kQueueWaitFailed = 3665;
constexpr int kMenuUpdateFailed = 3669;
constexpr int kFunctionFailure = 3523;
constexpr int kRowGap = 15;
constexpr int kBlockGap = 30;
constexpr int kListHeight = 100;
// The item data of a state line: its code (Qt::UserRole), its image, and the time it shows.
constexpr int kLineTimeRole = Qt::UserRole + 2;

QString StateText(int code) {
  return code >= 0 && code < 25 ? LoadString(kStateTextIds[code]) : QString();
}

// The commands each supported function of the UPS carries in the menu.
struct FunctionRow {
  int cls, method;
  std::vector<int> commands;
};
const std::vector<FunctionRow>& FunctionRows() {
  static const std::vector<FunctionRow> rows = {
      {0, 0, {40013, 40009}}, {0, 1, {40003}}, {3, 4, {40004}},
      {0, 2, {40005}},        {0, 4, {40006}}, {0, 5, {40007}},
      {0, 6, {32795}},        {0, 7, {32796}}, {1, 4, {40014}},
      {1, 5, {40012}},        {1, 6, {40016}}, {2, 5, {40018}},
      {3, 6, {40019}},        {2, 0, {32893}}, {2, 1, {32905}},
      {2, 3, {32904}},        {2, 4, {40015}}, {3, 0, {32900, 40011, 40017}},
      {3, 1, {40010}},
  };
  return rows;
}

}  // namespace

// --- PictureButton --------------------------------------------------------------------------

PictureButton::PictureButton(int id, QWidget* parent) : QAbstractButton(parent) {
  setObjectName(ControlName(id));
  setFocusPolicy(Qt::NoFocus);
  setCursor(Qt::PointingHandCursor);
}

void PictureButton::SetPicture(int pictureId) {
  QImage image = TandlePicture(pictureId);
  if (image.isNull()) return;
  picture_id_ = pictureId;
  image_ = std::move(image);
  update();
}

QSize PictureButton::sizeHint() const {
  // A little wider than the picture, so that the list below (as wide as the three) shows the
  // longest state text whole.
  return QSize(kPictureWidth + 24, kPictureHeight);
}

void PictureButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  if (!image_.isNull())
    p.drawImage(QPointF((width() - image_.width()) / 2.0, (height() - image_.height()) / 2.0), image_);
}

void PictureButton::mouseDoubleClickEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) emit doubleClicked();
}

// --- CTandleView ----------------------------------------------------------------------------

CTandleView::CTandleView(CConsoleApp* app, CTandleFrame* frame, QWidget* parent)
    : QWidget(parent), app_(app), frame_(frame), screenshots_(std::make_unique<console::ScreenshotWriter>()) {
  setObjectName(QStringLiteral("CTandleView"));
  shown_.fill(-1);
  const int ids[3] = {IDC_COMPUTER, IDC_UPS, IDC_RECEPTACLE};
  const char* names[3] = {"Computer", "UPS", "Receptacle"};
  for (int i = 0; i < 3; ++i) {
    pictures_[i] = new PictureButton(ids[i], this);
    pictures_[i]->setToolTip(QString::fromLatin1(names[i]));
    pictures_[i]->setAccessibleName(QString::fromLatin1(names[i]));
    connect(pictures_[i], &PictureButton::doubleClicked, this,
            [] { OpenDialogCommand(ID_SYSTEM_INFORMATION); });
  }
  list_ = new QTreeWidget(this);
  list_->setObjectName(ControlName(IDC_STATE_LIST));
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setAlternatingRowColors(true);
  connect(list_, &QTreeWidget::itemDoubleClicked, this,
          [this](QTreeWidgetItem* item) { OnStateListDoubleClick(item); });
}

CTandleView::~CTandleView() {
  scp_mutex_.Close();
}

void CTandleView::OnInitialUpdate() {
  scp_mutex_.Create(kScpQueueMutexName);
  full_menu_ = true;
  shown_.fill(-1);
  pictures_[0]->SetPicture(kComputerNormal);
  pictures_[1]->SetPicture(kUpsNormal);
  pictures_[2]->SetPicture(kReceptacleNormal);
  for (PictureButton* b : pictures_) b->resize(b->sizeHint());
  LayoutPanes();
  list_->setColumnCount(2);
  list_->setHeaderLabels({LoadString(kEventColumn), LoadString(kTimeColumn)});
  list_->header()->setStretchLastSection(true);
  list_->setColumnWidth(0, list_->width() / 2);
  list_->setIconSize(QSize(16, 16));
  UpdateTitle();

  // Bounded, and giving way to a stop signal, which then closes the console: no error then,
  // the first requests are only not asked.
  if (scp_mutex_.Wait(kScpQueueWaitMs, ScpQueueWaitGivesWay) != platform::WaitResult::kSignaled) {
    if (!StopSignalPending()) TremMessageBox(this, LoadString(kQueueWaitFailed));
    return;
  }
  gScp.QueueGetRequest(1, 0, 0, 1, 1);
  gScp.QueueGetRequest(2, 0, 0, 0, 1);
  scp_mutex_.Release();
}

void CTandleView::LayoutPanes() {
  const int rowWidth = pictures_[0]->width() + pictures_[1]->width() + pictures_[2]->width();
  const int rowHeight = std::max({pictures_[0]->height(), pictures_[1]->height(), pictures_[2]->height()});
  const int left = rowWidth < width() ? (width() - rowWidth) / 2 : 0;
  const int blockHeight = rowHeight + kBlockGap + kListHeight;
  const int top = blockHeight < height() ? (height() - blockHeight) / 2 : 0;
  int x = left;
  for (PictureButton* b : pictures_) {
    b->move(x, top);
    x += b->width();
  }
  list_->setGeometry(left, top + rowHeight + kRowGap, rowWidth, kListHeight);
  list_->setColumnWidth(0, rowWidth / 2);
}

void CTandleView::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  LayoutPanes();
}

bool CTandleView::event(QEvent* e) {
  if (e->type() == kCommNoticeEventType) {
    const CommNotice& n = static_cast<CommNoticeEvent*>(e)->notice();
    // Host-change notices have no handler in this console.
    if (n.message == kNoticeReplyApplied) OnScpNotify(n);
    return true;
  }
  return QWidget::event(e);
}

void CTandleView::OnScpNotify(const CommNotice& notice) {
  const unsigned block = PackedKeyBlock(notice.key);
  if (block == 1) {
    RefreshStatus();
    frame_->Handler().ProcessNotice(notice);
  } else if (block == 2) {
    // Only an answer that brought the UPS information changes the title and the menu and
    // counts as contact; a resend or a failure does not.
    const bool data = notice.status == SCP_GET_OK || notice.status == SCP_SET_OK;
    if (data) {
      UpdateMenu();
      UpdateTitle();
    }
    frame_->Handler().ProcessNotice(notice);
    if (data) {
      const bool first = !app_->Shown();
      app_->ShowMainWindow();
      gScp.SetFlag(SCP_FLAG_UPS_INFO_RECEIVED);
      if (first) ScheduleScreenshot();
    }
  } else {
    frame_->Handler().ProcessNotice(notice);
  }
}

void CTandleView::QueueGet(int block, int branch, int item, int registerFlag) {
  ScpQueueLock lock;
  if (lock.locked()) gScp.QueueGetRequest(block, branch, item, registerFlag, 1);
}

void CTandleView::RefreshStatus() {
  std::vector<int> active;
  // The state that became active last (of equal times, the last one walked).
  int newest = ALARM_SYSTEM_NORMAL;
  {
    auto lock = gScp.Lock();
    gScp.upsStatus.ResetAlarmCursor();
    AlarmEntry entry;
    int64_t newestTime = 0;
    while (gScp.upsStatus.GetNextAlarm(entry) == 1) {
      if (active.empty() || entry.time >= newestTime) {
        newest = entry.code;
        newestTime = entry.time;
      }
      active.push_back(entry.code);
    }
  }
  const QStringList before = Lines();
  list_->clear();
  for (int code : active) AddStateLine(code);
  if (active.empty()) AddStateLine(ALARM_SYSTEM_NORMAL);
  // The lines read in the order of their times, the latest last (equal times in the order
  // walked); the list keeps its height: with more lines than it holds, the newest state shows
  // whole.
  std::vector<QTreeWidgetItem*> lines;
  while (list_->topLevelItemCount() > 0) lines.push_back(list_->takeTopLevelItem(0));
  std::stable_sort(lines.begin(), lines.end(), [](const QTreeWidgetItem* a, const QTreeWidgetItem* b) {
    return a->data(0, kLineTimeRole).toLongLong() < b->data(0, kLineTimeRole).toLongLong();
  });
  QTreeWidgetItem* newestLine = nullptr;
  for (QTreeWidgetItem* line : lines) {
    list_->addTopLevelItem(line);
    if (line->data(0, Qt::UserRole).toInt() == newest) newestLine = line;
  }
  if (newestLine != nullptr) list_->scrollToItem(newestLine);

  auto has = [&](int code) { return std::find(active.begin(), active.end(), code) != active.end(); };
  const bool none = active.empty();
  const bool lostAgent = has(ALARM_LOST_DAEMON_COMM);
  const bool lostUps = has(ALARM_LOST_UPS_COMM);
  const bool discovery = has(ALARM_DETERMINING_UPS_TYPE);
  bool askInfo = false;
  if (!first_refresh_) {
    if (none != prev_none_active_ && !lostAgent) askInfo = true;
    if (lostUps && !prev_lost_ups_) askInfo = true;
    if ((prev_discovery_ && !discovery) || (prev_lost_ups_ && !lostUps)) askInfo = true;
  }
  if (askInfo) {
    ScpQueueLock lock;
    if (!lock.locked()) return;
    gScp.QueueGetRequest(2, 0, 0, 0, 1);
  }
  prev_none_active_ = none;
  prev_lost_ups_ = lostUps;
  prev_discovery_ = discovery;
  first_refresh_ = false;

  const PictureVector vector = CombinedVector(active);
  const bool picturesChanged = vector != shown_;
  if (picturesChanged) {
    shown_ = vector;
    ShowPictures(vector);
    if (!frame_->isMinimized()) {
      for (PictureButton* b : pictures_) b->update();
    }
  }

  if (lostAgent && full_menu_) {
    frame_->LoadMenu(kShortMenu);
    for (int command : kToolbarCommands) frame_->SetToolbarButtonVisible(command, false);
    full_menu_ = false;
  }
  if (picturesChanged || Lines() != before) ScheduleScreenshot();
}

QString CTandleView::StateTimeText(int64_t time) {
  const time_t t = static_cast<time_t>(time);
  struct tm local {};
  localtime_r(&t, &local);
  char clock[16];
  char head[16];
  std::strftime(head, sizeof head, "%a %b %d", &local);
  std::strftime(clock, sizeof clock, "%H:%M:%S", &local);
  return QStringLiteral("%1 %2 %3 ")
      .arg(QString::fromLatin1(head))
      .arg(local.tm_year + 1900)
      .arg(QString::fromLatin1(clock));
}

void CTandleView::AddStateLine(int code) {
  int64_t time = platform::Now();
  bool active = false;
  int64_t stamp = 0;
  {
    auto lock = gScp.Lock();
    active = gScp.upsStatus.IsAlarmSet(code) == 1;
    if (active) stamp = gScp.upsStatus.GetAlarmTime(code);
  }
  if (active) {
    time = stamp;
    if (code == ALARM_SCHEDULED_SHUTDOWN) {
      QueueGet(24, 1, 0, 1);
      int64_t next = 0;
      {
        auto lock = gScp.Lock();
        next = gScp.schedShutdown.GetShutdownTime();
      }
      if (next > 0) {
        // The block holds seconds since 1970: the time of the entry due first.
        time = next;
        QueueGet(24, 1, 0, 1);
      } else {
        time = platform::Now();
        if (!pSchedShutdownDlg) QueueGet(24, 1, 0, 1);
      }
    } else if (code == ALARM_REMOTE_SHUTDOWN) {
      QueueGet(27, 0, 0, 0);
      QueueGet(27, 0, 0, 0);
      int shutDelay = 255;
      int warnDelay = 255;
      bool onBattery = false;
      {
        auto lock = gScp.Lock();
        shutDelay = gScp.commandBlock.GetShutDelay();
        warnDelay = gScp.commandBlock.GetWarnDelay();
        onBattery = gScp.upsStatus.IsAlarmSet(ALARM_ON_BATTERY) == 1;
      }
      // Minutes in one byte; 255 is "not set" and adds nothing.
      if (onBattery) {
        time = stamp + (shutDelay != 255 ? shutDelay * 60 : 0);
      } else {
        time = platform::Now() + (warnDelay != 255 ? warnDelay * 60 : 0);
      }
    }
  }
  auto* item = new QTreeWidgetItem();
  item->setText(0, StateText(code));
  item->setData(0, Qt::UserRole, code);
  item->setIcon(0, QIcon(QPixmap::fromImage(ListImage(ListImageOf(code) == 0   ? kIconAlarm
                                                      : ListImageOf(code) == 1 ? kIconWarning
                                                                               : kIconInformation))));
  item->setData(0, Qt::UserRole + 1, ListImageOf(code));
  item->setText(1, StateTimeText(time));
  item->setData(0, kLineTimeRole, static_cast<qlonglong>(time));
  list_->addTopLevelItem(item);
}

int CTandleView::ListImageOf(int code) {
  switch (code) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 6:
    case 8:
    case 16:
      return 0;
    case 4:
    case 5:
    case 7:
    case 18:
    case 19:
      return 1;
    default:
      return 2;
  }
}

CTandleView::PictureVector CTandleView::VectorOfState(int code) {
  switch (code) {
    case 0:
    case 3:
    case 6:
      return {0, 0, 2, 2, 0, 2, 0, 0, 2};
    case 1:
      return {0, 0, 2, 0, 1, 2, 2, 2, 2};
    case 2:
      return {0, 0, 2, 2, 1, 2, 2, 2, 2};
    case 4:
    case 18:
    case 19:
      return {0, 0, 1, 0, 0, 1, 1, 0, 1};
    case 5:
      return {0, 0, 1, 1, 0, 1, 0, 0, 1};
    case 7:
      return {1, 1, 1, 0, 2, 1, 0, 0, 1};
    case 8:
    case 16:
      return {2, 0, 2, 0, 0, 2, 0, 0, 2};
    default:
      return {0, 0, 0, 0, 0, 0, 0, 0, 0};
  }
}

CTandleView::PictureVector CTandleView::CombinedVector(const std::vector<int>& codes) {
  PictureVector out{};
  out.fill(0);
  for (int code : codes) {
    const PictureVector v = VectorOfState(code);
    for (size_t i = 0; i < out.size(); ++i) out[i] = std::max(out[i], v[i]);
  }
  return out;
}

void CTandleView::ShowPictures(const PictureVector& v) {
  const PictureKind kinds[3] = {PictureKind::Computer, PictureKind::Ups, PictureKind::Receptacle};
  for (int i = 0; i < 3; ++i) {
    // A combination without a picture leaves the picture as it was.
    const int id = PictureIdOf(kinds[i], v[i * 3], v[i * 3 + 1], v[i * 3 + 2]);
    if (id != 0) pictures_[i]->SetPicture(id);
  }
}

std::array<int, 3> CTandleView::PictureIds() const {
  return {pictures_[0]->PictureId(), pictures_[1]->PictureId(), pictures_[2]->PictureId()};
}

QStringList CTandleView::Lines() const {
  QStringList out;
  for (int i = 0; i < list_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = list_->topLevelItem(i);
    out << QStringLiteral("%1|%2|%3")
               .arg(item->text(0), item->text(1))
               .arg(item->data(0, Qt::UserRole + 1).toInt());
  }
  return out;
}

QString CTandleView::TitleFor(int interfaceType) {
  SetupData setup;
  QString title = QString::fromStdString(setup.GetApplicationTypeName(6)) + QLatin1Char(' ');
  if (interfaceType == 1) {
    title += QString::fromStdString(setup.GetApplicationTypeName(1));
  } else if (interfaceType == 2 || interfaceType == 5) {
    title += QString::fromStdString(setup.GetApplicationTypeName(2));
  }
  return title;
}

void CTandleView::UpdateTitle() {
  int type = 255;
  {
    auto lock = gScp.Lock();
    type = gScp.upsInfo.GetInterfaceType();
  }
  const QString title = TitleFor(type);
  gcsMessageBoxTitle = title;
  QString window = title;
  if (!app_->Doc().HostName().isEmpty()) window += LoadString(3629) + app_->Doc().HostName();
  frame_->setWindowTitle(window);
}

void CTandleView::UpdateMenu() {
  bool lostAgent = false;
  {
    auto lock = gScp.Lock();
    lostAgent = gScp.upsStatus.IsAlarmSet(ALARM_LOST_DAEMON_COMM) == 1;
  }
  if (lostAgent) {
    ScpQueueLock lock;
    if (lock.locked()) {
      gScp.QueueGetRequest(2, 0, 0, 0, 1);
      gScp.QueueGetRequest(1, 0, 0, 0, 1);
    }
    return;
  }
  int type = 255;
  {
    auto lock = gScp.Lock();
    type = gScp.upsInfo.GetInterfaceType();
  }
  const QString about = QStringLiteral("&About ") + TitleFor(type);
  frame_->LoadMenu(kFullMenu);
  full_menu_ = true;
  if (QAction* item = frame_->MenuItem(ID_APP_ABOUT)) {
    item->setText(about);
  } else {
    ShowMessageBox(this, LoadString(kMenuUpdateFailed), QStringLiteral("Error"));
  }

  auto remove = [this](int command) {
    frame_->DeleteMenuItem(command);
    frame_->SetToolbarButtonVisible(command, false);
  };
  int commMode = 0;
  std::vector<std::pair<const FunctionRow*, int>> answers;
  {
    auto lock = gScp.Lock();
    commMode = gScp.config.GetCommMode();
    for (const FunctionRow& row : FunctionRows())
      answers.push_back({&row, gScp.upsInfo.IsFunctionSupported(row.cls, row.method)});
  }
  for (const auto& [row, supported] : answers) {
    bool keep = supported != 0;
    if (row->cls == 2 && row->method == 5 && (commMode == 8 || commMode == 9)) keep = false;
    if (row->cls == 3 && row->method == 6 && gnCommMode != 3) keep = false;
    if (supported < 0) {
      TremMessageBox(this, LoadString(kFunctionFailure));
      continue;
    }
    for (int command : row->commands) {
      if (keep) {
        frame_->SetToolbarButtonVisible(command, true);
      } else {
        remove(command);
      }
    }
  }
  bool alarmRecipients = false;
  {
    auto lock = gScp.Lock();
    alarmRecipients =
        gScp.upsInfo.IsFunctionSupported(0, 3) == 1 || gScp.upsInfo.IsFunctionSupported(1, 1) == 1 ||
        gScp.upsInfo.IsFunctionSupported(1, 2) == 1 || gScp.upsInfo.IsFunctionSupported(1, 3) == 1;
  }
  if (alarmRecipients) {
    frame_->SetToolbarButtonVisible(ID_NETWORK_ALARM_RECIPIENTS, true);
  } else {
    remove(ID_NETWORK_ALARM_RECIPIENTS);
  }
  frame_->DeleteMenuItem(ID_NETWORKING_PROPERTIES);
  frame_->DeleteMenuItem(ID_MANAGE_NETWORK_ADAPTER);
  frame_->SetToolbarButtonVisible(ID_MANAGE_NETWORK_ADAPTER, false);
  for (int missing : MissingDialogCommands()) remove(missing);

  if (QAction* a = frame_->MenuItem(ID_OPTION_SPLASH)) a->setChecked(app_->showSplashScreen != 0);
  if (app_->platforms.windows && app_->platforms.netware) {
    if (QAction* a = frame_->MenuItem(ID_OPTION_ACCESS_DIALOG)) a->setChecked(app_->showStartUpDialog != 0);
  } else {
    frame_->DeleteMenuItem(ID_OPTION_ACCESS_DIALOG);
  }
  if (app_->platforms.netware && gnCommMode == 1) {
    if (QAction* a = frame_->MenuItem(ID_OPTION_RECONNECT)) a->setChecked(app_->reconnectLastServer != 0);
  } else {
    frame_->DeleteMenuItem(ID_OPTION_RECONNECT);
  }
  frame_->RemoveEmptyPopups();
}

void CTandleView::OnOptionToggle(int command) {
  QAction* a = frame_->MenuItem(command);
  const int on = a != nullptr && a->isChecked() ? 1 : 0;
  switch (command) {
    case ID_OPTION_SPLASH:
      app_->showSplashScreen = on;
      break;
    case ID_OPTION_ACCESS_DIALOG:
      app_->showStartUpDialog = on;
      break;
    case ID_OPTION_RECONNECT:
      app_->reconnectLastServer = on;
      break;
    default:
      break;
  }
}

void CTandleView::OnStateListDoubleClick(QTreeWidgetItem* item) {
  if (item == nullptr) return;
  const int code = item->data(0, Qt::UserRole).toInt();
  ShowHelpTopic(frame_, QString::fromLatin1(kAlarmHelpFile), static_cast<int>(GetStateHelpContext(code)));
  item->setSelected(true);
}

void CTandleView::OnManageAgentStartup() {
  bool lostAgent = false;
  {
    auto lock = gScp.Lock();
    lostAgent = gScp.upsStatus.IsAlarmSet(ALARM_LOST_DAEMON_COMM) == 1;
  }
  if (!lostAgent) {
    TremMessageBox(this, LoadString(IDS_AGENT_ALREADY_RUNNING), MB_OK | MB_ICONSTOP);
    return;
  }
  frame_->StartAgent();
}

void CTandleView::OnAbout() {
  OpenAboutBox();
}

bool CTandleView::OnCommand(int command) {
  switch (command) {
    case ID_AGENT_STARTUP:
      OnManageAgentStartup();
      return true;
    case ID_APP_ABOUT:
      OnAbout();
      return true;
    case ID_OPTION_SPLASH:
    case ID_OPTION_ACCESS_DIALOG:
    case ID_OPTION_RECONNECT:
      OnOptionToggle(command);
      return true;
    default:
      return OpenDialogCommand(command) != nullptr;
  }
}

void CTandleView::ScheduleScreenshot() {
  if (!screenshots_->Enabled() || screenshot_pending_) return;
  screenshot_pending_ = true;
  QTimer::singleShot(50, this, [this] {
    screenshot_pending_ = false;
    SaveScreenshot();
  });
}

void CTandleView::SaveScreenshot() {
  // Before the first status reply the list is empty: the first picture waits for it.
  if (!app_->Shown() || !frame_->isVisible() || list_->topLevelItemCount() == 0) return;
  // The states and pictures, not the times (a line without a time stamp of its own shows now).
  QString key;
  for (int i = 0; i < list_->topLevelItemCount(); ++i)
    key += list_->topLevelItem(i)->text(0) + QLatin1Char('\n');
  for (int id : PictureIds()) key += QString::number(id) + QLatin1Char(' ');
  if (key == last_screenshot_key_) return;
  last_screenshot_key_ = key;
  screenshots_->Save(frame_, list_->topLevelItem(0)->text(0));
}
