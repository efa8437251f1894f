#include "dialogs/frame/event_pump.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

bool PumpEventsUntil(const std::function<bool()>& done, int boundMs, const std::function<int()>& step) {
  QElapsedTimer timer;
  timer.start();
  for (;;) {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (done()) return true;
    if (timer.elapsed() >= boundMs) return false;
    if (!step || step() <= 0) QThread::msleep(2);
  }
}
