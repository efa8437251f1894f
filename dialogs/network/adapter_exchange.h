// AdapterExchange: runs a dialog's adapter exchanges off the user-interface thread, one at a
// time. The work gets nothing of the dialog (it builds its own driver from copies); its result
// comes back on the user-interface thread, and is dropped when the dialog has closed by then.
// The owner's destructor waits for a running exchange to end.
#pragma once

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <thread>

#include "dialogs/frame/kt_dialog.h"

class AdapterExchange {
 public:
  explicit AdapterExchange(KTDialog* owner) : owner_(owner) {}
  ~AdapterExchange() { Join(); }
  AdapterExchange(const AdapterExchange&) = delete;
  AdapterExchange& operator=(const AdapterExchange&) = delete;

  bool Running() const { return running_; }
  // The running exchange's result, when it comes, is not handed on (its question changed).
  void Drop() { ++token_; }

  // Starts `work` on a worker thread; `done` gets its result on the user-interface thread
  // while the owner's window still exists. False when an exchange is already running.
  template <class R>
  bool Run(std::function<R()> work, std::function<void(R)> done) {
    if (running_) return false;
    Join();
    running_ = true;
    Started();
    QPointer<KTDialog> guard(owner_);
    const int token = token_;
    thread_ = std::thread([this, guard, token, work = std::move(work), done = std::move(done)]() mutable {
      auto result = std::make_shared<R>(work());
      QMetaObject::invokeMethod(
          QCoreApplication::instance(),
          [this, guard, token, result, done = std::move(done)] {
            if (guard.isNull()) return;
            running_ = false;
            Finished();
            if (guard->WindowExists() && token == token_) done(std::move(*result));
          },
          Qt::QueuedConnection);
    });
    return true;
  }

 private:
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  // The owner while an exchange runs: the wait cursor, its buttons disabled, and the
  // "working" property set (headless tools wait for it to clear).
  void Started();
  void Finished();

  KTDialog* owner_;
  bool running_ = false;
  int token_ = 0;
  std::thread thread_;
};
