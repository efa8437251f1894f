#include "dialogs/frame/console_stop_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QPointer>
#include <QProgressDialog>
#include <QSocketNotifier>
#include <atomic>
#include <cerrno>

namespace {

// The write end of the installed object's pipe (-1: none): all the handler touches.
std::atomic<int> g_write_fd{-1};
// The signal of the stop under way (0: none).
std::atomic<int> g_stop_signal{0};
// A stop signal came (set by the handler itself, before any event loop has seen it).
std::atomic<bool> g_signal_came{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnSignal(int sig) {
  const int fd = g_write_fd.load();
  if (fd < 0) return;
  g_signal_came.store(true);
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(sig);
  // A full pipe already holds a stop.
  [[maybe_unused]] ssize_t n = ::write(fd, &byte, 1);
  errno = saved;
}

bool IsOpenModal(const QWidget* w) {
  return w != nullptr && w->isWindow() && w->isVisible() && w->isModal();
}

// A modal window answered as at a stop: a progress dialog is cancelled, any other dialog
// rejected (a box of the library then gives its unattended answer).
void Answer(QWidget* w) {
  if (auto* progress = qobject_cast<QProgressDialog*>(w)) {
    progress->cancel();
  } else if (auto* dialog = qobject_cast<QDialog*>(w)) {
    dialog->reject();
  }
}

}  // namespace

bool StopRequested() {
  return g_stop_signal.load() != 0;
}

int StopSignalNumber() {
  return g_stop_signal.load();
}

bool StopSignalPending() {
  return g_signal_came.load() && g_stop_signal.load() == 0;
}

ConsoleStopSignals::ConsoleStopSignals(QObject* parent) : QObject(parent) {}

ConsoleStopSignals::~ConsoleStopSignals() {
  if (notifier_ != nullptr) {
    for (int sig : signals_) ::signal(sig, SIG_DFL);
    g_write_fd.store(-1);
    g_signal_came.store(false);
    delete notifier_;
    ::close(fds_[0]);
    ::close(fds_[1]);
  }
  if (stopped_) g_stop_signal.store(0);
}

bool ConsoleStopSignals::Install(std::initializer_list<int> watched, StopHandler onStop) {
  if (notifier_ != nullptr || g_write_fd.load() >= 0) return false;
  if (::pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  on_stop_ = std::move(onStop);
  signals_.assign(watched);
  g_write_fd.store(fds_[1]);
  notifier_ = new QSocketNotifier(fds_[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &ConsoleStopSignals::OnReadable);
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int sig : signals_) ::sigaction(sig, &action, nullptr);
  return true;
}

void ConsoleStopSignals::OnReadable() {
  unsigned char bytes[16];
  int first = 0;
  ssize_t n;
  while ((n = ::read(fds_[0], bytes, sizeof bytes)) > 0) {
    if (first == 0) first = bytes[0];
  }
  if (first != 0) Stop(first);
}

void ConsoleStopSignals::Stop(int signal) {
  int none = 0;
  if (signal == 0 || !g_stop_signal.compare_exchange_strong(none, signal)) return;
  stopped_ = true;
  // Modal dialogs that show from now on are answered as soon as their own loop turns.
  qApp->installEventFilter(this);
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (IsOpenModal(w)) Answer(w);
  }
  // The program's own stop once the answered loops have given way.
  QMetaObject::invokeMethod(
      this,
      [this, signal] {
        if (on_stop_) on_stop_(signal);
      },
      Qt::QueuedConnection);
}

bool ConsoleStopSignals::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Show && watched->isWidgetType()) {
    auto* w = static_cast<QWidget*>(watched);
    if (w->isWindow() && w->isModal()) {
      // Answered from the queue: a dialog rejected inside its show() would leave exec() waiting.
      QPointer<QWidget> window(w);
      QMetaObject::invokeMethod(
          this,
          [window] {
            if (IsOpenModal(window)) Answer(window);
          },
          Qt::QueuedConnection);
    }
  }
  return QObject::eventFilter(watched, event);
}
