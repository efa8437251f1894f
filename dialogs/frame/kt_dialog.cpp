#include "dialogs/frame/kt_dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>
#include <QTimerEvent>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>

#include "core/scp/record_reader.h"
#include "core/scp/record_writer.h"
#include "dialogs/frame/help.h"
#include "dialogs/frame/layout_fit.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/print.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"

namespace {

// Local mode: the notification block is served by the agent running in this process
// (prunScp) rather than over the network, when that agent exists and the block says so.
bool ServedInProcess(unsigned block) {
  if (block != static_cast<unsigned>(NotifyBlock::kBlockId) || prunScp == nullptr) return false;
  auto lock = gScp.Lock();
  return gScp.notify.GetLocalMode() == 1;
}

// Copies the notification block of one SCP object into another through its record form,
// holding one object's lock at a time. False when either conversion fails (the target is
// then left as it was, as a failed reply leaves it).
bool CopyNotifyBlock(KT_SCP& from, KT_SCP& to) {
  KT_RecordWriter writer;
  {
    auto lock = from.Lock();
    if (from.notify.ConvertBlock(CONVERT_ENCODE, &writer, nullptr) < 0) return false;
  }
  KT_RecordReader reader(writer.Data());
  auto lock = to.Lock();
  const KT_SCPBase::BlockRestore restore = to.SnapshotBlock(NotifyBlock::kBlockId);
  if (to.notify.ConvertBlock(CONVERT_DECODE, nullptr, &reader) >= 0) return true;
  if (restore) restore();
  return false;
}

uint32_t LocalReplyKey(unsigned block, unsigned branch, unsigned index) {
  const unsigned length = branch == 0 ? 1 : (index == 0 ? 2 : 3);
  return PackScpKey(length, block, branch, index);
}

std::atomic<int> g_reply_deadline_ms{KTDialog::kDefaultReplyDeadlineMs};
std::atomic<int> g_follow_wait_ms{KTDialog::kDefaultFollowWaitMs};

QString StandardButtonText(int id) {
  switch (id) {
    case IDOK:
      return QStringLiteral("OK");
    case IDCANCEL:
      return QStringLiteral("Cancel");
    case IDC_PRINT:
      return QStringLiteral("Print...");
    case ID_HELP:
      return QStringLiteral("Help");
    case IDYES:
      return QStringLiteral("&Yes");
    case IDNO:
      return QStringLiteral("&No");
    default:
      return QString();
  }
}

// Keys that type or erase text; everything else (Tab, Escape, Enter, arrows, F1, ...) passes.
bool TypesOrErases(const QKeyEvent* key) {
  switch (key->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return false;
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
      return true;
    default:
      break;
  }
  if (key->matches(QKeySequence::Paste) || key->matches(QKeySequence::Cut) ||
      key->matches(QKeySequence::Undo) || key->matches(QKeySequence::Redo) ||
      key->matches(QKeySequence::DeleteEndOfWord) || key->matches(QKeySequence::DeleteStartOfWord) ||
      key->matches(QKeySequence::DeleteEndOfLine) || key->matches(QKeySequence::DeleteCompleteLine)) {
    return true;
  }
  const QString text = key->text();
  return !text.isEmpty() && text.at(0).isPrint();
}

}  // namespace

KTDialog::KTDialog(QWidget* parent, const QString& hostName)
    : KTDialog(IDD_KTDIALOG, parent, QString(), hostName, QStringList()) {}

KTDialog::KTDialog(int templateId, QWidget* parent, const QString& hostName)
    : KTDialog(templateId, parent, QString(), hostName, QStringList()) {}

KTDialog::KTDialog(QWidget* parent, const QString& selectionLabel, const QString& hostName,
                   const QStringList& hostNames)
    : KTDialog(IDD_KTDIALOG, parent, selectionLabel, hostName, hostNames) {}

KTDialog::KTDialog(int templateId, QWidget* parent, const QString& selectionLabel, const QString& hostName,
                   const QStringList& hostNames)
    : QDialog(parent),
      host_name_(hostName),
      host_list_(hostNames),
      selection_label_(selectionLabel),
      template_id_(templateId) {
  setModal(false);
  setWindowTitle(QStringLiteral("Dialog"));
  KeepHeightForWidth(this);
}

KTDialog::~KTDialog() {
  InstallKeyFilter(false);
  ClearBoundPointers();
}

void KTDialog::BindDialogPointer(DialogPointerBase& pointer) {
  bound_pointer_ = &pointer;
  pointer.Assign(this);
}

void KTDialog::BindDialogSlot(DialogSlot slot) {
  bound_slot_ = slot;
  SetDialogInSlot(slot, this);
}

void KTDialog::ClearBoundPointers() {
  if (bound_pointer_ != nullptr) bound_pointer_->ClearIf(this);
  if (bound_slot_ != DialogSlot::Count && DialogInSlot(bound_slot_) == this)
    SetDialogInSlot(bound_slot_, nullptr);
}

void KTDialog::SetWaitCount(int n) {
  busy_count_ = n;
  if (created_) {
    if (busy_count_ > 0) {
      EnterBusy();
    } else {
      LeaveBusy();
    }
  }
}

void KTDialog::SetHostCaption(int stringId) {
  SetHostCaption(LoadString(stringId));
}

void KTDialog::SetHostCaption(const QString& title) {
  QString caption = title;
  if (!selection_label_.isEmpty()) {
    caption += QStringLiteral(" (") + selection_label_ + QStringLiteral(")");
  } else if (!host_name_.isEmpty()) {
    caption += QStringLiteral(" (") + host_name_ + QStringLiteral(")");
  }
  setWindowTitle(caption);
}

RequestTarget KTDialog::Target() const {
  return RequestTarget{selection_label_, host_name_, host_list_};
}

int KTDialog::RequestData(unsigned block, unsigned branch, unsigned index) {
  // A request of the opening is one the dialog waits for to be filled (once each).
  if (opening_) {
    const uint32_t key = RequestKey(block, branch, index);
    if (std::find(opening_requests_.begin(), opening_requests_.end(), key) == opening_requests_.end())
      opening_requests_.push_back(key);
  }
  if (ServedInProcess(block)) {
    // The in-process agent answers at once; the reply reaches the dialogs as a network one.
    const bool ok = CopyNotifyBlock(*prunScp, gScp);
    RouteScpReply(ok ? 4 : 3, LocalReplyKey(block, branch, index));
    return 1;
  }
  return RequestDataFor(Target(), block, branch, index);
}

uint32_t KTDialog::RequestKey(unsigned block, unsigned branch, unsigned index) {
  // As the request table keys a GET: the block, then the branch, then the item where given.
  return PackScpKey(index != 0 ? 3 : (branch != 0 ? 2 : 1), block, branch, index);
}

bool KTDialog::ReplyCovers(uint32_t replyKey, uint32_t requestKey) {
  if (PackedKeyBlock(replyKey) != PackedKeyBlock(requestKey)) return false;
  if (PackedKeyBranch(replyKey) == 0) return true;
  if (PackedKeyBranch(replyKey) != PackedKeyBranch(requestKey)) return false;
  return PackedKeyItem(replyKey) == 0 || PackedKeyItem(replyKey) == PackedKeyItem(requestKey);
}

int KTDialog::FollowData(unsigned block, unsigned branch, unsigned index) {
  const uint32_t key = RequestKey(block, branch, index);
  auto it = std::find_if(followed_.begin(), followed_.end(), [&](const Followed& f) { return f.key == key; });
  if (it == followed_.end()) it = followed_.insert(followed_.end(), Followed{key, false, {}});
  it->awaiting = true;
  it->asked.start();
  if (follow_timer_ == nullptr) {
    follow_timer_ = new QTimer(this);
    connect(follow_timer_, &QTimer::timeout, this, [this] { AskAgainOverdue(); });
  }
  // Checked a few times within the wait, so that an ask is repeated soon after it falls due.
  if (!follow_timer_->isActive() && !destroying_) follow_timer_->start(std::max(10, FollowWaitMs() / 4));
  return RequestData(block, branch, index);
}

bool KTDialog::IsAnswered(unsigned block, unsigned branch, unsigned index) const {
  return !opening_ && std::find(opening_requests_.begin(), opening_requests_.end(),
                                RequestKey(block, branch, index)) == opening_requests_.end();
}

std::vector<uint32_t> KTDialog::FollowedKeys() const {
  std::vector<uint32_t> keys;
  for (const Followed& f : followed_) keys.push_back(f.key);
  return keys;
}

void KTDialog::AskAgainOverdue() {
  bool awaiting = false;
  for (Followed& f : followed_) {
    if (!f.awaiting) continue;
    awaiting = true;
    if (f.asked.elapsed() < FollowWaitMs()) continue;
    // No answer: asked again. While the first question is still in flight, the request table
    // sends the same question once more rather than holding the new one behind it.
    f.asked.start();
    RequestData(PackedKeyBlock(f.key), PackedKeyBranch(f.key), PackedKeyItem(f.key));
  }
  if (!awaiting) follow_timer_->stop();
}

void KTDialog::SetFollowWaitMs(int ms) {
  g_follow_wait_ms.store(ms > 0 ? ms : kDefaultFollowWaitMs);
}

int KTDialog::FollowWaitMs() {
  return g_follow_wait_ms.load();
}

int KTDialog::SendCommand(unsigned block, unsigned branch, unsigned index) {
  if (ServedInProcess(block)) {
    const bool ok = CopyNotifyBlock(gScp, *prunScp);
    if (ok) RouteScpReply(0, LocalReplyKey(block, branch, index));
    return ok ? 1 : 0;
  }
  return SendCommandTo(this, Target(), block, branch, index);
}

bool KTDialog::IsHostCapable(unsigned block, unsigned branch, int hostIndex) {
  return ::IsHostCapable(block, branch, hostIndex);
}

bool KTDialog::Create(int templateId) {
  if (templateId != 0) template_id_ = templateId;
  if (layout() == nullptr && template_id_ == IDD_KTDIALOG) BuildBaseTemplate();
  created_ = true;
  opening_ = true;
  OnInitDialog();
  opening_ = false;
  if (!destroying_) show();
  return true;
}

int KTDialog::DoModal() {
  modeless_ = 0;
  setModal(true);
  if (layout() == nullptr && template_id_ == IDD_KTDIALOG) BuildBaseTemplate();
  created_ = true;
  opening_ = true;
  OnInitDialog();
  opening_ = false;
  if (destroying_) return IDCANCEL;
  const int result = exec();
  return result == IDOK ? IDOK : IDCANCEL;
}

void KTDialog::DestroyWindow() {
  if (destroying_) return;
  destroying_ = true;
  for (const auto& [id, qtId] : timers_) killTimer(qtId);
  timers_.clear();
  if (follow_timer_ != nullptr) follow_timer_->stop();
  InstallKeyFilter(false);
  ClearBoundPointers();
  hide();
  if (modeless_ != 0) deleteLater();
}

QWidget* KTDialog::Control(int id) const {
  return findChild<QWidget*>(ControlName(id));
}

void KTDialog::SetTimer(int id, int ms) {
  KillTimer(id);
  if (destroying_) return;
  const int qtId = startTimer(ms);
  if (qtId != 0) timers_[id] = qtId;
}

void KTDialog::KillTimer(int id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  killTimer(it->second);
  timers_.erase(it);
}

void KTDialog::SetReplyDeadlineMs(int ms) {
  g_reply_deadline_ms.store(ms > 0 ? ms : kDefaultReplyDeadlineMs);
}

int KTDialog::ReplyDeadlineMs() {
  return g_reply_deadline_ms.load();
}

void KTDialog::OnNewData(unsigned, unsigned, unsigned, unsigned) {}

int KTDialog::OnScpReply(unsigned status, uint32_t packedKey) {
  // A reply for a window that is being destroyed goes nowhere.
  if (!WindowExists()) return 0;
  last_reply_address_ = packedKey;
  std::erase_if(opening_requests_, [&](uint32_t key) { return ReplyCovers(packedKey, key); });
  for (Followed& f : followed_) {
    if (ReplyCovers(packedKey, f.key)) f.awaiting = false;
  }
  --busy_count_;
  if (busy_count_ <= 0) {
    busy_count_ = 0;
    LeaveBusy();
    KillTimer(kReplyTimerId);
  }
  OnNewData(status, PackedKeyBlock(packedKey), PackedKeyBranch(packedKey), PackedKeyItem(packedKey));
  return 0;
}

bool KTDialog::OnInitDialog() {
  if (busy_count_ > 0) {
    EnterBusy();
    SetTimer(kReplyTimerId, ReplyDeadlineMs());
  }
  return true;
}

void KTDialog::OnOK() {
  if (modeless_ != 0) {
    DestroyWindow();
  } else {
    QDialog::done(IDOK);
  }
}

void KTDialog::OnCancel() {
  if (modeless_ != 0) {
    DestroyWindow();
  } else {
    QDialog::done(IDCANCEL);
  }
}

void KTDialog::OnTimer(int timerId) {
  if (timerId == kReplyTimerId) {
    KillTimer(kReplyTimerId);
    ReportReplyFailure(LoadString(IDS_UNABLE_TO_RETRIEVE));
  }
}

void KTDialog::OnHelp() {
  ShowHelpTopic(this, QString::fromLatin1(kPanelHelpFile), help_context_id_);
}

bool KTDialog::OnHelpInfo() {
  OnHelp();
  return true;
}

int KTDialog::PrintTextFile() {
  return ::PrintTextFile(this, print_file_);
}

void KTDialog::ReportReplyFailure(const QString& text) {
  busy_count_ = 0;
  LeaveBusy();
  TremMessageBox(this, text, MB_OK);
  // Closes once the box is gone; dropped if the dialog is destroyed first.
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (WindowExists()) OnCancel();
      },
      Qt::QueuedConnection);
}

void KTDialog::HandleOk() {
  // While replies are still expected, OK would send a half-filled image: it does nothing.
  if (busy_count_ > 0 || !WindowExists()) return;
  OnOK();
}

void KTDialog::EnterBusy() {
  if (!wait_cursor_) {
    wait_cursor_ = true;
    setCursor(Qt::WaitCursor);
  }
  InstallKeyFilter(true);
}

void KTDialog::LeaveBusy() {
  if (wait_cursor_) {
    wait_cursor_ = false;
    unsetCursor();
  }
  InstallKeyFilter(false);
}

void KTDialog::InstallKeyFilter(bool on) {
  if (on == key_filter_ || qApp == nullptr) return;
  key_filter_ = on;
  if (on) {
    qApp->installEventFilter(this);
  } else {
    qApp->removeEventFilter(this);
  }
}

bool KTDialog::eventFilter(QObject* watched, QEvent* event) {
  if (busy_count_ > 0 && (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease ||
                          event->type() == QEvent::InputMethod)) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget != nullptr && (widget == this || isAncestorOf(widget))) {
      if (event->type() == QEvent::InputMethod) return true;
      if (TypesOrErases(static_cast<QKeyEvent*>(event))) return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

QPushButton* KTDialog::MakeButton(int id, const QString& text) {
  auto* button = new QPushButton(text.isEmpty() ? StandardButtonText(id) : text, this);
  button->setObjectName(ControlName(id));
  switch (id) {
    case IDOK:
      button->setDefault(true);
      connect(button, &QPushButton::clicked, this, [this] { HandleOk(); });
      break;
    case IDCANCEL:
      connect(button, &QPushButton::clicked, this, [this] {
        if (WindowExists()) OnCancel();
      });
      break;
    case IDC_PRINT:
      connect(button, &QPushButton::clicked, this, [this] { PrintTextFile(); });
      break;
    case ID_HELP:
      connect(button, &QPushButton::clicked, this, [this] { OnHelp(); });
      break;
    default:
      button->setAutoDefault(false);
      break;
  }
  return button;
}

QHBoxLayout* KTDialog::MakeButtonRow(std::initializer_list<int> ids) {
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  for (int id : ids) row->addWidget(MakeButton(id, QString()));
  return row;
}

void KTDialog::BuildBaseTemplate() {
  setWindowTitle(QStringLiteral("Dialog"));
  auto* layout = new QVBoxLayout(this);
  layout->addStretch(1);
  layout->addLayout(MakeButtonRow({IDOK, IDCANCEL, IDC_PRINT, ID_HELP}));
}

void KTDialog::accept() {
  HandleOk();
}

void KTDialog::reject() {
  if (WindowExists() || modeless_ == 0) OnCancel();
}

void KTDialog::closeEvent(QCloseEvent* event) {
  // The close button is Cancel: the dialog decides whether (and how) it goes away.
  event->ignore();
  if (!destroying_) reject();
}

bool KTDialog::event(QEvent* event) {
  if (event->type() == kScpReplyEventType) {
    auto* reply = static_cast<ScpReplyEvent*>(event);
    OnScpReply(reply->status(), reply->packedKey());
    return true;
  }
  return QDialog::event(event);
}

void KTDialog::keyPressEvent(QKeyEvent* event) {
  // F1 anywhere in the dialog (controls pass it on) asks for the dialog's topic.
  if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
    OnHelpInfo();
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void KTDialog::timerEvent(QTimerEvent* event) {
  for (const auto& [id, qtId] : timers_) {
    if (qtId == event->timerId()) {
      OnTimer(id);
      return;
    }
  }
  QDialog::timerEvent(event);
}
