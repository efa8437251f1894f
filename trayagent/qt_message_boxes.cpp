#include "trayagent/qt_message_boxes.h"

#include <QMessageBox>
#include <QThread>

#include "platform/message_log.h"

namespace {

// Message box style bits the agent uses.
constexpr uint32_t kIconMask = 0xF0;
constexpr uint32_t kIconError = 0x10;
constexpr uint32_t kIconQuestion = 0x20;
constexpr uint32_t kIconWarning = 0x30;
constexpr uint32_t kIconInformation = 0x40;
constexpr uint32_t kTopmost = 0x40000;

QMessageBox::Icon IconOf(uint32_t flags) {
  switch (flags & kIconMask) {
    case kIconError:
      return QMessageBox::Critical;
    case kIconQuestion:
      return QMessageBox::Question;
    case kIconWarning:
      return QMessageBox::Warning;
    case kIconInformation:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

}  // namespace

KT_QtMessageBoxes::KT_QtMessageBoxes(QObject* parent) : QObject(parent), log_path_(platform::MessageLogPath()) {}

KT_QtMessageBoxes::~KT_QtMessageBoxes() { CloseAll(); }

void KT_QtMessageBoxes::Show(const std::string& text, const std::string& caption, uint32_t flags) {
  if (!log_path_.empty()) {
    platform::AppendMessageLog(log_path_, caption, text, "OK");
    return;
  }
  std::shared_ptr<Box> box;
  std::shared_ptr<Box> previous;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (current_ && !current_->claimed && current_->caption == caption) {
      // The box announced for this thread; closed already when a newer box came first.
      box = current_;
      box->claimed = true;
      if (box->closed) return;
    } else {
      previous = current_;
      box = std::make_shared<Box>();
      box->caption = caption;
      box->claimed = true;
      current_ = box;
    }
    box->text = text;
    box->flags = flags;
  }
  // A box still open under an unannounced Show (WarnAdmin closes it first; a safety net).
  if (previous && !previous->closed) Finish(previous);
  QMetaObject::invokeMethod(this, [this, box] { Open(box); }, Qt::QueuedConnection);
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait(lock, [&] { return box->closed; });
}

void KT_QtMessageBoxes::Starting(const std::string& caption) {
  auto box = std::make_shared<Box>();
  box->caption = caption;
  std::shared_ptr<Box> previous;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    previous = current_;
    current_ = box;
  }
  if (previous && !previous->closed) Finish(previous);
}

void KT_QtMessageBoxes::Open(const std::shared_ptr<Box>& box) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (box->closed) return;  // closed before it could be shown
  }
  auto* w = new QMessageBox(IconOf(box->flags), QString::fromStdString(box->caption),
                            QString::fromStdString(box->text), QMessageBox::Ok);
  w->setAttribute(Qt::WA_DeleteOnClose);
  w->setModal(false);
  if (box->flags & kTopmost) w->setWindowFlag(Qt::WindowStaysOnTopHint);
  connect(w, &QMessageBox::finished, this, [this, box] {
    std::lock_guard<std::mutex> lock(mutex_);
    box->closed = true;
    cv_.notify_all();
  });
  {
    std::lock_guard<std::mutex> lock(mutex_);
    box->widget = w;
  }
  w->show();
  w->raise();
  w->activateWindow();
}

void KT_QtMessageBoxes::Finish(const std::shared_ptr<Box>& box) {
  QPointer<QMessageBox> widget;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    box->closed = true;
    widget = box->widget;
    cv_.notify_all();
  }
  auto close = [widget] {
    if (widget) widget->close();
  };
  if (QThread::currentThread() == thread()) {
    close();
  } else {
    QMetaObject::invokeMethod(this, close, Qt::QueuedConnection);
  }
}

bool KT_QtMessageBoxes::Close(const std::string& caption) {
  std::shared_ptr<Box> box;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!current_ || current_->closed || current_->caption != caption) return false;
    box = current_;
  }
  Finish(box);
  return true;
}

void KT_QtMessageBoxes::CloseAll() {
  std::shared_ptr<Box> box;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    box = current_;
  }
  if (box) Finish(box);
}

QMessageBox* KT_QtMessageBoxes::OpenBox() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!current_ || current_->closed) return nullptr;
  return current_->widget.data();
}
