// The information dialogs against a real VigilNT over UDP, in a network of the test's own: an
// idle agent for the system information, an agent on the simulated BCM UPS for the alarm
// queue, the receptacles and the battery test results.
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <cstdio>
#include <string>
#include <vector>

#include "dialogs/frame/trem_globals.h"
#include "dialogs/information/alarm_history.h"
#include "dialogs/information/battery_test_results.h"
#include "dialogs/information/receptacle_control.h"
#include "dialogs/information/report_list.h"
#include "dialogs/information/ups_info_dlg.h"
#include "dialogs/monitoring/manage_diag_test.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/dialogs/harness/trem_fixture.h"
#include "tests/support/simulated_ups.h"

TREM_HARNESS_PRIVATE_NETWORK();

namespace {

using testing_support::SimulatedUps;
using trem_harness::TremTest;

class InformationAgentTest : public TremTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("information"); }
  void SetUp() override {
    TremTest::SetUp();
    gnCommMode = 0;
    gScp.requestTable.ResetCursor();
  }
  bool StartAgent(AgentProcess& vigil, const std::vector<std::string>& args, const char* ready) {
    if (!vigil.Start(args)) return false;
    return AgentProcess::WaitFor(
        [&] {
          return Count(vigil.Stderr(), "NETWORK THREAD IS ALIVE") > 0 && Contains(vigil.Stderr(), ready);
        },
        120000);
  }
  bool OpenLink(std::string& error) {
    if (!udp_.Open(error, "127.0.0.1")) return false;
    link_ = std::make_unique<trem_harness::AgentLink>(udp_);
    return true;
  }
  template <class D>
  D* OpenIdle(int boundMs = 20000) {
    auto* d = new D(nullptr, "localhost");
    EXPECT_TRUE(link_->PumpUntil([&] { return !d->IsBusy(); }, boundMs));
    link_->PumpIdle(boundMs);
    return d;
  }
  static QString Value(const ReportList* list, const QString& label) {
    for (const QStringList& row : list->Rows()) {
      if (row.value(0) == label) return row.value(1);
    }
    return QString();
  }

  trem_harness::UdpAgent udp_;
  std::unique_ptr<trem_harness::AgentLink> link_;
};

TEST_F(InformationAgentTest, SystemInformationOfAnIdleAgentAndItsTextsSentBack) {
  if (!trem_harness::HarnessInPrivateNetwork()) GTEST_SKIP() << "needs a network of its own";
  AgentProcess vigil;
  ASSERT_TRUE(StartAgent(vigil, {"-b", "-x", "5"}, "")) << vigil.Stderr();
  std::string error;
  ASSERT_TRUE(OpenLink(error)) << error;

  QPointer<CUpsInfoDlg> d = OpenIdle<CUpsInfoDlg>();
  ASSERT_FALSE(d.isNull());
  EXPECT_EQ(Value(d->List(), "Operating System:"), "Linux");
  const AgentSoftwareVersion v = GetAgentSoftwareVersion();
  char version[32];
  std::snprintf(version, sizeof version, "4.%d.%02d", v.second, v.third);
  EXPECT_EQ(Value(d->List(), "Application Version:"), version);
  EXPECT_FALSE(Value(d->List(), "OS Version:").isEmpty());
  d->Control<QLineEdit>(CUpsInfoDlg::IDC_POWERED_DEVICES)->setText("build server");
  d->Control<QLineEdit>(CUpsInfoDlg::IDC_LOCATION)->setText("lab, second shelf");
  Screenshot(d, "ups_info_agent");
  QTest::mouseClick(d->Control<QPushButton>(IDOK), Qt::LeftButton);
  ASSERT_TRUE(link_->PumpIdle(10000));
  EXPECT_TRUE(d.isNull());

  // A fresh dialog reads the texts back from the agent's configuration.
  {
    auto lock = gScp.Lock();
    gScp.config.SetPoweredDevices("");
    gScp.config.SetLocation("");
  }
  QPointer<CUpsInfoDlg> again = OpenIdle<CUpsInfoDlg>();
  EXPECT_EQ(again->Control<QLineEdit>(CUpsInfoDlg::IDC_POWERED_DEVICES)->text(), "build server");
  EXPECT_EQ(again->Control<QLineEdit>(CUpsInfoDlg::IDC_LOCATION)->text(), "lab, second shelf");
  EXPECT_EQ(boxes.Count(), 0);
}

TEST_F(InformationAgentTest, AlarmQueueSegmentsAndTestResultsOfASimulatedBcmUps) {
  if (!trem_harness::HarnessInPrivateNetwork()) GTEST_SKIP() << "needs a network of its own";
  SimulatedUps ups("bcm");
  ASSERT_TRUE(ups.ok()) << ups.error();
  ASSERT_TRUE(ups.Do("segments 3"));
  ASSERT_TRUE(ups.Do("test-result pass 2"));
  AgentProcess vigil;
  ASSERT_TRUE(StartAgent(vigil, {"-b", "-d", ups.device()}, "Inside SERIAL thread")) << vigil.Stderr();
  std::string error;
  ASSERT_TRUE(OpenLink(error)) << error;

  // Alarm queue: a mains failure and its end, newest first.
  ASSERT_TRUE(ups.Do("mains fail"));
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(vigil.Stderr(), "UPS On Battery set at"); }, 60000))
      << vigil.Stderr();
  ASSERT_TRUE(ups.Do("mains ok"));
  QPointer<CAlarmHistory> alarms;
  ASSERT_TRUE(AgentProcess::WaitFor(
      [&] {
        delete alarms.data();
        alarms = OpenIdle<CAlarmHistory>();
        return !alarms.isNull() && alarms->List()->RowCount() == 2;
      },
      60000));
  // The same alarm twice, raised and cleared. Which of the two carries "CLEAR: " depends on
  // the direction flag the agent's BCM driver stores (reported separately); the dialog marks
  // entries whose flag is set.
  EXPECT_EQ(alarms->List()->Text(0, 0), "1");
  EXPECT_EQ(alarms->List()->Text(1, 0), "2");
  QString first = alarms->List()->Text(0, 2);
  QString second = alarms->List()->Text(1, 2);
  EXPECT_NE(first.startsWith("CLEAR: "), second.startsWith("CLEAR: "));
  EXPECT_EQ(first.remove("CLEAR: "), "Utility fail");
  EXPECT_EQ(second.remove("CLEAR: "), "Utility fail");
  Screenshot(alarms, "alarm_history_agent");
  delete alarms.data();

  // Receptacles: all, then the two load segments.
  QPointer<CReceptacleControl> segments = OpenIdle<CReceptacleControl>();
  ASSERT_FALSE(segments.isNull());
  EXPECT_EQ(static_cast<int>(segments->Segments().size()), 3);
  auto* bank = segments->Control<QComboBox>(CReceptacleControl::IDC_BANK);
  ASSERT_EQ(bank->count(), 3);
  EXPECT_EQ(bank->itemText(0), "All");
  EXPECT_EQ(bank->itemText(2), "Load Segment2");
  delete segments.data();

  // Battery test: started through the diagnostic test dialog, its result listed.
  QPointer<CManageDiagTest> test = new CManageDiagTest(nullptr, "localhost");
  QTest::mouseClick(test->Control<QPushButton>(IDOK), Qt::LeftButton);
  ASSERT_TRUE(link_->PumpIdle(10000));
  QPointer<CBatteryTestResults> results;
  ASSERT_TRUE(AgentProcess::WaitFor(
      [&] {
        delete results.data();
        results = OpenIdle<CBatteryTestResults>();
        return !results.isNull() && results->List()->Text(0, 1) == "Passed";
      },
      90000))
      << vigil.Stderr();
  Screenshot(results, "battery_test_results_agent");
}

}  // namespace
