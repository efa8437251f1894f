#include "console/comm/comm_notice.h"

#include <QCoreApplication>

#include "dialogs/frame/message_box.h"

#include "console/comm/qt_handover.h"

namespace {

// The worker thread posts, the user-interface thread handles (see qt_handover.h).
QEvent* Posted(QEvent* e) {
  HandOver(e);
  return e;
}

}  // namespace

CommNoticeRelay::CommNoticeRelay(QObject* parent) : QObject(parent) {}

void CommNoticeRelay::SetTarget(QObject* target) {
  target_ = target;
  has_target_.store(target != nullptr);
  if (target != nullptr) {
    // A target that goes away stops the time-out checks at once, not only at the next notice.
    connect(target, &QObject::destroyed, this, [this, target] {
      if (target_.isNull() || target_.data() == target) has_target_.store(false);
    });
  }
}

void CommNoticeRelay::PostNotice(const CommNotice& notice) {
  QCoreApplication::postEvent(this, Posted(new CommNoticeEvent(notice)));
}

void CommNoticeRelay::PostBox(const QString& text, const QString& caption, unsigned flags,
                              bool closeMainWindow) {
  QCoreApplication::postEvent(this, Posted(new CommBoxEvent(text, caption, flags, closeMainWindow)));
}

void CommNoticeRelay::customEvent(QEvent* e) {
  TakeOver(e);
  if (e->type() == kCommNoticeEventType) {
    auto* notice = static_cast<CommNoticeEvent*>(e);
    QObject* target = target_.data();
    has_target_.store(target != nullptr);
    if (target == nullptr) return;
    CommNoticeEvent copy(notice->notice());
    QCoreApplication::sendEvent(target, &copy);
    return;
  }
  if (e->type() == kCommBoxEventType) {
    auto* box = static_cast<CommBoxEvent*>(e);
    QWidget* owner = main_window_.data();
    ShowMessageBox(owner, box->text(), box->caption(), box->flags());
    if (box->closeMainWindow() && !main_window_.isNull()) main_window_->close();
  }
}
