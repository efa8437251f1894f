// The fixture of the notification dialog tests: the in-process agent supports the default
// events and actions, the console's image of the block starts empty, and helpers open the
// event notification dialog, select events and read the block back.
#pragma once

#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <string>
#include <vector>

#include "core/scp/event_log_block.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/information/report_list.h"
#include "dialogs/notification/event_notification.h"
#include "tests/dialogs/harness/agent_link.h"
#include "tests/dialogs/harness/trem_fixture.h"

namespace notification_test {

inline std::vector<std::string> Sent(const trem_harness::AgentLink& link) {
  std::vector<std::string> out;
  for (const auto& m : link.Sent()) out.push_back(trem_harness::DescribeMessage(m));
  return out;
}

// The records of a block as "event/action/delay/interval/alias/text".
inline std::vector<std::string> Records(KT_SCP& scp) {
  auto lock = scp.Lock();
  std::vector<std::string> out;
  for (const KT_ActionEntry& a : scp.notify.Actions()) {
    out.push_back(std::to_string(a.event) + "/" + std::to_string(a.action) + "/" + std::to_string(a.delay) +
                  "/" + std::to_string(a.interval) + "/" + std::to_string(a.alias) + "/" +
                  a.message.value_or(""));
  }
  return out;
}

// The one record of (event, action) in that form, or "" when there is none.
inline std::string Record(KT_SCP& scp, int event, int action) {
  auto lock = scp.Lock();
  KT_ActionEntry a;
  if (!scp.notify.FindAction(event, action, a)) return "";
  return std::to_string(a.delay) + "/" + std::to_string(a.interval) + "/" + std::to_string(a.alias) + "/" +
         a.message.value_or("");
}

inline void Click(QWidget* button) {
  QTest::mouseClick(button, Qt::LeftButton);
}

class NotificationTest : public trem_harness::TremTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("notification"); }
  void SetUp() override {
    trem_harness::TremTest::SetUp();
    gnCommMode = 0;
    gScp.requestTable.ResetCursor();
    {
      auto lock = gScp.Lock();
      gScp.notify.Reset();
      gScp.notify.SetLocalMode(0);
      gScp.upsInfo.Reset();
    }
    auto lock = agent.scp().Lock();
    agent.scp().notify.Reset();
    agent.scp().notify.SetDefaultSupport(SUPPORT_EVENTS);
    agent.scp().notify.SetDefaultSupport(SUPPORT_ACTIONS);
  }
  void TearDown() override {
    prunScp = nullptr;
    {
      auto lock = gScp.Lock();
      gScp.notify.SetLocalMode(0);
    }
    trem_harness::TremTest::TearDown();
  }
  // Adds records to the agent's block (before the dialog opens).
  void AgentAdd(int event, int action, const char* text = nullptr, uint8_t alias = 255) {
    auto lock = agent.scp().Lock();
    KT_ActionEntry e(static_cast<uint8_t>(event), static_cast<uint8_t>(action));
    e.alias = alias;
    if (text != nullptr) e.SetMessage(text);
    agent.scp().notify.AddAction(e);
  }
  CEventNotification* OpenNotification() {
    agent.MarkAllFresh();
    auto* d = new CEventNotification(nullptr, "localhost");
    EXPECT_TRUE(link.PumpUntil([&] { return !d->IsBusy(); }));
    link.PumpIdle();
    return d;
  }
  // Selects the named events only.
  static void Select(CEventNotification* d, std::initializer_list<int> events) {
    d->Events()->clearSelection();
    for (int e : events) {
      const auto found = d->Events()->findItems(QString::fromUtf8(GetEventName(e)), Qt::MatchExactly);
      if (!found.isEmpty()) found.front()->setSelected(true);
    }
  }
  // Selects the events and presses the action button (its handler, also for a disabled one).
  template <class Handler>
  void Press(CEventNotification* d, std::initializer_list<int> events, Handler handler) {
    Select(d, events);
    (d->*handler)();
  }
};

}  // namespace notification_test
