// The stop signals of the programs over the library: a real SIGTERM or SIGINT, before a real box
// shows or while it is open, answers it as its Cancel (No where it has Yes and No, OK where it
// has only that); boxes and modal dialogs after it are answered at once; the program's own stop
// runs once the box's caller has gone on, and only once.
#include "dialogs/frame/console_stop_signals.h"

#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <thread>

#include "dialogs/frame/event_pump.h"
#include "dialogs/frame/kt_dialog.h"
#include "dialogs/frame/message_box.h"
#include "dialogs/frame/request_path.h"
#include "tests/dialogs/harness/trem_fixture.h"

namespace {

using trem_harness::TremTest;

class ConsoleStopSignalsTest : public TremTest {
 protected:
  // Real boxes, as the programs show them.
  void SetUp() override {
    TremTest::SetUp();
    SetMessageBoxLayer(nullptr);
  }
};

TEST_F(ConsoleStopSignalsTest, AStopAnswersTheOpenBoxThenTheProgramStops) {
  struct Case {
    unsigned flags;
    int answer;
    int signal;
    bool beforeTheBox;  // the signal comes before the box shows, else while it is open
  };
  const Case cases[] = {{MB_OK, IDOK, SIGTERM, false},
                        {MB_OKCANCEL, IDCANCEL, SIGINT, false},
                        {MB_YESNO, IDNO, SIGTERM, false},
                        {MB_YESNOCANCEL, IDCANCEL, SIGINT, true},
                        {MB_RETRYCANCEL, IDCANCEL, SIGTERM, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.flags) + (c.beforeTheBox ? " before" : " during"));
    std::vector<int> stops;
    bool boxOpenAtStop = true;
    {
      ConsoleStopSignals stop;
      ASSERT_TRUE(stop.Install({SIGTERM, SIGINT}, [&](int sig) {
        stops.push_back(sig);
        boxOpenAtStop = QApplication::activeModalWidget() != nullptr;
      }));
      QTimer poll;
      if (c.beforeTheBox) {
        ASSERT_EQ(::kill(::getpid(), c.signal), 0);
      } else {
        QObject::connect(&poll, &QTimer::timeout, [&] {
          QWidget* box = QApplication::activeModalWidget();
          if (box == nullptr || !box->isVisible()) return;
          poll.stop();
          ::kill(::getpid(), c.signal);
        });
        poll.start(10);
      }
      EXPECT_EQ(TremMessageBox(nullptr, "Stop?", c.flags), c.answer);
      EXPECT_TRUE(StopRequested());
      ASSERT_TRUE(PumpEventsUntil([&] { return !stops.empty(); }, 5000));
      EXPECT_EQ(stops, std::vector<int>{c.signal});
      EXPECT_FALSE(boxOpenAtStop);
      // What comes after is answered at once: a box, a modal dialog.
      EXPECT_EQ(TremMessageBox(nullptr, "And now?", c.flags), c.answer);
      KTDialog dialog(nullptr, "localhost");
      EXPECT_EQ(dialog.DoModal(), IDCANCEL);
      // A second signal finds the stop under way.
      ASSERT_EQ(::kill(::getpid(), c.signal), 0);
      PumpEventsUntil([] { return false; }, 50);
      EXPECT_EQ(stops.size(), 1u);
    }
    EXPECT_FALSE(StopRequested());
  }
}

// A stop signal that comes while the user-interface thread waits for the queue's mutex, which
// the worker holds, ends that wait (nothing is queued) so that the event loop takes the stop;
// the worker's waits, and those of a program on its way out, wait for the mutex.
TEST_F(ConsoleStopSignalsTest, AStopSignalEndsTheInterfaceThreadsWaitForTheQueue) {
  for (const auto& [onWorker, atStop] : {std::pair{false, ScpQueueLock::AtStop::kGiveWay},
                                         {false, ScpQueueLock::AtStop::kWait},
                                         {true, ScpQueueLock::AtStop::kGiveWay}}) {
    SCOPED_TRACE(std::to_string(onWorker) + (atStop == ScpQueueLock::AtStop::kWait ? " on its way out" : ""));
    ConsoleStopSignals stop;
    int stops = 0;
    ASSERT_TRUE(stop.Install({SIGTERM}, [&](int) { ++stops; }));
    std::atomic<bool> held{false};
    std::thread worker([&] {  // holds the mutex for 1.5 s; the signal comes after 0.2 s
      ScpQueueLock lock;
      held = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      ::kill(::getpid(), SIGTERM);
      std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    });
    while (!held.load()) std::this_thread::yield();
    bool locked = false;
    auto wait = [&] { locked = ScpQueueLock(atStop).locked(); };
    onWorker ? std::thread(wait).join() : wait();
    worker.join();
    EXPECT_EQ(locked, onWorker || atStop == ScpQueueLock::AtStop::kWait);
    ASSERT_TRUE(PumpEventsUntil([&] { return stops == 1; }, 5000));
    EXPECT_TRUE(ScpQueueLock().locked());  // the stop taken, waits no longer give way
  }
  EXPECT_FALSE(StopSignalPending());
}

}  // namespace
