// The stop signals of the programs over the library: a real SIGTERM or SIGINT, before a real box
// shows or while it is open, answers it as its Cancel (No where it has Yes and No, OK where it
// has only that); boxes and modal dialogs after it are answered at once; the program's own stop
// runs once the box's caller has gone on, and only once.
#include "dialogs/frame/console_stop_signals.h"

#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>

#include "dialogs/frame/event_pump.h"
#include "dialogs/frame/kt_dialog.h"
#include "dialogs/frame/message_box.h"
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

}  // namespace
