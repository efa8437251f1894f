// The scheduled-shutdown dialog against a real idle VigilNT over UDP, in a network of the
// test's own: the agent's own password guards the table, and the table sent comes back from
// the agent and lands in its sch_shut.dat. The entries lie a year and more ahead, and the
// agent's shutdown command is a harmless stand-in (/bin/true) all the same.
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <csignal>

#include "core/scp/sched_shutdown_block.h"
#include "dialogs/frame/request_path.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/schedule/enter_password_dlg.h"
#include "dialogs/schedule/sched_shutdown_dlg.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/dialogs/harness/screenshots.h"
#include "tests/dialogs/harness/trem_fixture.h"

TREM_HARNESS_PRIVATE_NETWORK();

namespace {

class SchedShutdownAgentTest : public trem_harness::TremTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("schedule"); }
  void SetUp() override {
    TremTest::SetUp();
    if (!trem_harness::HarnessInPrivateNetwork()) GTEST_SKIP() << "needs a network of its own";
    gnCommMode = 0;
    gScp.requestTable.ResetCursor();
    ASSERT_TRUE(vigil.Start({"-b", "-x", "5"}));
    ASSERT_TRUE(
        AgentProcess::WaitFor([&] { return Count(vigil.Stderr(), "NETWORK THREAD IS ALIVE") > 0; }, 60000))
        << vigil.Stderr();
    std::string error;
    ASSERT_TRUE(udp.Open(error, "127.0.0.1")) << error;
  }
  static void Choose(KTDialog* d, int id, int index) {
    auto* c = d->Control<QComboBox>(id);
    c->setCurrentIndex(index);
    emit c->activated(index);
  }
  static std::vector<schedule_struct> Entries(const SchedShutdownBlock& block) {
    const schedule_struct* array = nullptr;
    const int n = block.GetEntries(array);
    return array == nullptr ? std::vector<schedule_struct>{} : std::vector<schedule_struct>(array, array + n);
  }

  AgentProcess vigil;
  trem_harness::UdpAgent udp;
  trem_harness::AgentLink real{udp};
};

TEST_F(SchedShutdownAgentTest, TheAgentsPasswordGuardsTheTableItStores) {
  const RequestTarget target{QString(), QStringLiteral("localhost"), {}};
  // The agent's password becomes "Tulip9"; the console forgets its copy and reads the UPS.
  {
    auto lock = gScp.Lock();
    ASSERT_EQ(gScp.config.Password().Set("Tulip9"), 1);
    gScp.config.Branches().Touch(8);
  }
  ASSERT_EQ(SendCommandTo(nullptr, target, BLOCK_CONFIG, 8, 1), 1);
  ASSERT_TRUE(real.PumpIdle(10000));
  {
    auto lock = gScp.Lock();
    gScp.config.Password().Set(KT_Password::kDefaultPassword);
  }
  RequestDataFor(target, 2, 0, 0);
  ASSERT_TRUE(real.PumpIdle(10000));

  QPointer<CSchedShutdownDlg> d = new CSchedShutdownDlg(nullptr, "localhost");
  ASSERT_TRUE(real.PumpUntil([&] { return !d->IsBusy(); }, 20000));
  real.PumpIdle(10000);
  EXPECT_TRUE(d->Rows().empty());
  // Next year at the shown time, restarting after 2 hours; and the 1st of the month two years on.
  Choose(d, IDC_SCHED_START_YEAR, 1);
  d->Control<QRadioButton>(IDC_SCHED_AFTER)->click();
  d->Control<QLineEdit>(IDC_SCHED_AFTER_HOURS)->setText("2");
  d->Control<QPushButton>(IDC_SCHED_ADD)->click();
  Choose(d, IDC_SCHED_START_YEAR, 2);
  Choose(d, IDC_SCHED_START_DATE, 0);
  d->Control<QPushButton>(IDC_SCHED_ADD)->click();
  ASSERT_EQ(d->Rows().size(), 2u) << (boxes.Count() > 0 ? boxes.Boxes()[0].text.toStdString() : "");
  std::vector<schedule_struct> made;
  for (const SchedListRow& row : d->Rows()) made.push_back(row.entry);
  Screenshot(d, "sched_agent");

  // The built-in default is not the agent's password; the agent's own is.
  QTimer::singleShot(0, [] {
    EnterPasswordDlg* p = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* x = qobject_cast<EnterPasswordDlg*>(w); x != nullptr && x->isVisible()) p = x;
    }
    ASSERT_NE(p, nullptr);
    for (const char* text : {"4Tulip", "Tulip9"}) {
      p->Control<QLineEdit>(IDC_ENTER_PASSWORD)->setText(text);
      p->Control<QPushButton>(IDOK)->click();
    }
  });
  d->Control<QPushButton>(IDOK)->click();
  ASSERT_TRUE(real.PumpIdle(10000));
  EXPECT_TRUE(d.isNull());
  ASSERT_EQ(boxes.Count(), 1);
  EXPECT_EQ(boxes.Boxes()[0].text, "Incorrect Password!");

  // A fresh GET brings the table back from the agent.
  {
    auto lock = gScp.Lock();
    gScp.schedShutdown.Reset();
  }
  RequestDataFor(target, SchedShutdownBlock::kBlockId, 1, 0);
  ASSERT_TRUE(real.PumpIdle(10000));
  {
    auto lock = gScp.Lock();
    EXPECT_EQ(Entries(gScp.schedShutdown), made);
  }

  // Stopped, the agent has written exactly those entries to its file.
  vigil.Signal(SIGTERM);
  ASSERT_GE(vigil.Wait(30000), 0) << vigil.Stderr();
  SchedShutdownBlock stored;
  ASSERT_TRUE(ReadBlockFile(vigil.File("sch_shut.dat"), stored));
  const std::vector<schedule_struct> inFile = Entries(stored);
  EXPECT_EQ(inFile, made);
  for (const schedule_struct& e : inFile) EXPECT_EQ(e.segment, -1);
  const QString copy =
      trem_harness::ScreenshotDir(QStringLiteral("schedule")) + QStringLiteral("/sch_shut.dat");
  QFile::remove(copy);
  EXPECT_TRUE(QFile::copy(QString::fromStdString(vigil.File("sch_shut.dat")), copy));
}

}  // namespace
