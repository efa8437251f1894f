// The pager recipients, the agent's pager test and the event log against a real VigilNT over
// UDP: a deleted recipient takes its page action's bit along into notify.dat, the agent pages
// the simulator for CTestPager, and the agent's event log is listed, printed and configured.
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QTest>
#include <QTreeWidget>
#include <string>
#include <vector>

#include "core/scp/command_block.h"
#include "core/scp/event_log_block.h"
#include "core/scp/notify_block.h"
#include "dialogs/eventlog/event_log_config.h"
#include "dialogs/eventlog/event_log_display.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/paging/pager_config.h"
#include "dialogs/paging/test_pager.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/dialogs/harness/trem_fixture.h"
#include "tests/support/simulated_ups.h"

TREM_HARNESS_PRIVATE_NETWORK();

namespace {

class PagingAgentTest : public trem_harness::TremTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("paging"); }
  void SetUp() override {
    TremTest::SetUp();
    gnCommMode = 0;
    gScp.requestTable.ResetCursor();
    auto lock = gScp.Lock();
    gScp.notify.Reset();
    gScp.eventLog.Clear();
  }
  template <class D>
  bool Idle(D* d, int boundMs = 20000) {
    const bool idle = link_->PumpUntil([&] { return !d->IsBusy(); }, boundMs);
    link_->PumpIdle(boundMs);
    return idle;
  }
  static void Click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }

  trem_harness::UdpAgent udp_;
  std::unique_ptr<trem_harness::AgentLink> link_;
};

TEST_F(PagingAgentTest, RecipientsPagerTestAndEventLogThroughTheAgent) {
  if (!trem_harness::HarnessInPrivateNetwork()) GTEST_SKIP() << "needs a network of its own";
  testing_support::SimulatedUps sim("pager");
  ASSERT_TRUE(sim.ok()) << sim.error();
  AgentProcess vigil;
  {
    NotifyBlock prepared;
    prepared.SetDefaultSupport(SUPPORT_EVENTS);
    prepared.SetDefaultSupport(SUPPORT_ACTIONS);
    for (const char* name : {"Zed", "Amy", "Kim"})
      prepared.PagerRecipients().Add(TestPagerRecipient(name, sim.device()));
    KT_ActionEntry page(9, ACTION_PAGE);
    page.alias = 0x04;  // Kim
    page.retries = 0;
    page.SetMessage("power 42");
    prepared.AddAction(page);
    ASSERT_TRUE(WriteBlockFile(vigil.File("notify.dat"), prepared));
    EventLogBlock log;
    for (uint8_t event : {3, 4}) log.AddRecord(1700000000u + event, 1, &event);
    ASSERT_TRUE(WriteBlockFile(vigil.File("logfile.dat"), log));
  }
  ASSERT_TRUE(vigil.Start({"-b", "-x", "5"}));
  ASSERT_TRUE(
      AgentProcess::WaitFor([&] { return Count(vigil.Stderr(), "NETWORK THREAD IS ALIVE") > 0; }, 120000))
      << vigil.Stderr();
  std::string error;
  ASSERT_TRUE(udp_.Open(error, "127.0.0.1")) << error;
  link_ = std::make_unique<trem_harness::AgentLink>(udp_);

  // Delete Amy: Kim moves to slot 1 and the page action's bit with her.
  QPointer<CPagerConfig> c = new CPagerConfig(nullptr, "localhost");
  ASSERT_TRUE(Idle(c.data()));
  ASSERT_EQ(c->Recipients()->topLevelItemCount(), 3);
  c->Recipients()->findItems("Amy", Qt::MatchExactly).front()->setSelected(true);
  Click(c->Control(CPagerConfig::IDC_DELETE));
  Click(c->Control(IDOK));
  link_->PumpIdle(10000);
  NotifyBlock stored;
  ASSERT_TRUE(AgentProcess::WaitFor(
      [&] {
        stored.Reset();
        KT_ActionEntry e;
        return ReadBlockFile(vigil.File("notify.dat"), stored) && stored.PagerRecipients().Count() == 2 &&
               stored.FindAction(9, ACTION_PAGE, e) && e.alias == 0x02;
      },
      30000));
  EXPECT_EQ(stored.PagerRecipients().GetNames(0xFF), "Zed, Kim");

  // The opener starts the agent's pager test for event 9; CTestPager follows it.
  {
    auto lock = gScp.Lock();
    gScp.commandBlock.SetValue(COMMAND_PAGER_TEST, 9);
  }
  QPointer<CEventLogConfig> opener = new CEventLogConfig(nullptr, "localhost");
  ASSERT_TRUE(Idle(opener.data()));
  opener->SendCommand(BLOCK_COMMAND, COMMAND_PAGER_TEST, 0);
  link_->PumpIdle(10000);
  QPointer<CTestPager> t = new CTestPager(nullptr, "localhost");
  ASSERT_TRUE(link_->PumpUntil([&] { return t->StatusShown() == "Pager test complete. No Errors."; }, 60000))
      << t->StatusShown().toStdString();
  EXPECT_EQ(sim.Entries("PAGE"), std::vector<std::string>{"TAP 123456 power\\x2042"});

  // The agent's log, printed; then its settings round trip.
  QPointer<CEventLogDisplay> d = new CEventLogDisplay(nullptr, "localhost");
  ASSERT_TRUE(Idle(d.data()));
  QStringList events;
  for (int i = 0; i < d->List()->topLevelItemCount(); ++i) events << d->List()->topLevelItem(i)->text(2);
  EXPECT_TRUE(events.contains(GetEventName(3))) << events.join(", ").toStdString();
  EXPECT_TRUE(events.contains(GetEventName(4)));
  Click(d->Control(IDC_PRINT));
  EXPECT_EQ(print.Count(), 1);
  EXPECT_TRUE(QFile::exists(QString::fromStdString(File("print.pdf"))));

  opener->FileName()->setText("events.dat");
  opener->MaxEntries()->setText("50");
  Click(opener->Control(IDOK));
  link_->PumpIdle(10000);
  QPointer<CEventLogConfig> again = new CEventLogConfig(nullptr, "localhost");
  ASSERT_TRUE(Idle(again.data()));
  EXPECT_EQ(again->FileName()->text(), "events.dat");
  EXPECT_EQ(again->MaxEntries()->text(), "50");
}

}  // namespace
