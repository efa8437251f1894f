// The information dialogs against a real VigilNT over UDP, in a network of the test's own: an
// idle agent for the system information, an agent on the simulated BCM UPS for the alarm
// queue, the receptacles and the battery test results, one on each simulated UPS for the UPS
// options.
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QThread>
#include <csignal>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "dialogs/frame/request_path.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/information/alarm_history.h"
#include "dialogs/information/battery_info.h"
#include "dialogs/information/battery_test_results.h"
#include "dialogs/information/receptacle_control.h"
#include "dialogs/information/report_list.h"
#include "dialogs/information/ups_configuration.h"
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
  // Starts the agent and waits for this run's network thread and `ready` (the trace of an
  // earlier run in the same directory stays in front).
  bool StartAgent(AgentProcess& vigil, const std::vector<std::string>& args, const char* ready) {
    const size_t before = vigil.Stderr().size();
    if (!vigil.Start(args)) return false;
    return AgentProcess::WaitFor(
        [&] {
          const std::string run = vigil.Stderr().substr(before);
          return Count(run, "NETWORK THREAD IS ALIVE") > 0 && Contains(run, ready);
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
  // The same alarm twice, newest first: the mains' return clears the failure.
  EXPECT_EQ(alarms->List()->Text(0, 0), "1");
  EXPECT_EQ(alarms->List()->Text(1, 0), "2");
  EXPECT_EQ(alarms->List()->Text(0, 2), "CLEAR: Utility fail");
  EXPECT_EQ(alarms->List()->Text(1, 2), "Utility fail");
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

TEST_F(InformationAgentTest, AnEmptyAlarmQueueIsAnAnswer) {
  if (!trem_harness::HarnessInPrivateNetwork()) GTEST_SKIP() << "needs a network of its own";
  // An idle agent reads no UPS; a fresh one on the BCM UPS reads an empty history from it.
  for (const bool idle : {true, false}) {
    std::unique_ptr<SimulatedUps> ups;
    std::vector<std::string> args = {"-b", "-x", "5"};
    if (!idle) {
      ups = std::make_unique<SimulatedUps>("bcm");
      ASSERT_TRUE(ups->ok()) << ups->error();
      args = {"-b", "-d", ups->device()};
    }
    AgentProcess vigil;
    ASSERT_TRUE(StartAgent(vigil, args, idle ? "" : "Inside SERIAL thread")) << vigil.Stderr();
    trem_harness::UdpAgent udp;
    std::string error;
    ASSERT_TRUE(udp.Open(error, "127.0.0.1")) << error;
    link_ = std::make_unique<trem_harness::AgentLink>(udp);
    {
      auto lock = gScp.Lock();
      gScp.alarmQueue.Clear();
    }
    // Within the reply deadline: no "Unable to retrieve data from the Agent", the dialog stays.
    QPointer<CAlarmHistory> alarms = OpenIdle<CAlarmHistory>(60000);
    ASSERT_FALSE(alarms.isNull()) << idle << vigil.Stderr();
    EXPECT_EQ(boxes.Count(), 0) << idle;
    ASSERT_EQ(alarms->List()->RowCount(), 1) << idle;
    EXPECT_EQ(alarms->List()->Text(0, 1), "(no alarms found)") << idle;
    if (!idle) Screenshot(alarms, "alarm_history_agent_empty");
    delete alarms.data();
    link_.reset();
  }
}

// An agent that answers late (stopped, then continued): until its answers arrive the battery
// information and the alarm queue show nothing of their own making (no reset time, no counts,
// no "(no alarms found)"), then what the agent sent.
TEST_F(InformationAgentTest, NothingShowsBeforeALateAgentAnswers) {
  if (!trem_harness::HarnessInPrivateNetwork()) GTEST_SKIP() << "needs a network of its own";
  AgentProcess vigil;
  ASSERT_TRUE(StartAgent(vigil, {"-b", "-x", "5"}, "")) << vigil.Stderr();
  std::string error;
  ASSERT_TRUE(OpenLink(error)) << error;
  {
    auto lock = gScp.Lock();
    gScp.batteryInfo.Reset();  // the console's own defaults: a reset now, no outages
    gScp.alarmQueue.Clear();
  }
  vigil.Signal(SIGSTOP);
  QPointer<CBatteryInfo> info = new CBatteryInfo(nullptr, "localhost");
  QPointer<CAlarmHistory> alarms = new CAlarmHistory(nullptr, "localhost");
  link_->PumpFor(3000);  // both asked, neither answered
  ASSERT_TRUE(info->IsBusy());
  for (const QStringList& row : info->List()->Rows()) EXPECT_TRUE(row.value(1).isEmpty()) << row.join('|').toStdString();
  EXPECT_EQ(info->List()->RowCount(), 6);
  EXPECT_EQ(alarms->List()->RowCount(), 0);
  Screenshot(info, "battery_info_agent_late");
  vigil.Signal(SIGCONT);
  ASSERT_TRUE(link_->PumpUntil([&] { return !info->IsBusy() && !alarms->IsBusy(); }, 20000));
  link_->PumpIdle();
  EXPECT_FALSE(Value(info->List(), "Time of last reset:").isEmpty());
  EXPECT_EQ(Value(info->List(), "Number of outages:"), "0");
  ASSERT_EQ(alarms->List()->RowCount(), 1);
  EXPECT_EQ(alarms->List()->Text(0, 1), "(no alarms found)");
  Screenshot(info, "battery_info_agent_answered");
  EXPECT_EQ(boxes.Count(), 0);
}

TEST_F(InformationAgentTest, UpsOptionsReachTheUpsOrAreOfferedForNoChange) {
  if (!trem_harness::HarnessInPrivateNetwork()) GTEST_SKIP() << "needs a network of its own";
  // The BCM UPS reports its options and takes a change. The Smart-UPS has no command for them:
  // they are unknown and offer no choice, also with the BCM's values still in config.dat (one
  // data directory for both), and a SET of them anyway is not available; a SET of the whole
  // block applies the rest and leaves them unknown, and nothing of it reaches the UPS.
  AgentProcess vigil;
  for (const std::string mode : {"bcm", "apc"}) {
    SCOPED_TRACE(mode);
    const bool smart = mode == "apc";
    SimulatedUps ups(mode);
    ASSERT_TRUE(ups.ok()) << ups.error();
    ASSERT_TRUE(StartAgent(vigil, {"-b", "-d", ups.device()}, "Inside SERIAL thread")) << vigil.Stderr();
    // The agent writes its UPS settings to the BCM UPS once after identifying it; a change
    // is tried after that, as a user would.
    if (!smart) {
      ASSERT_TRUE(ups.WaitForLog("ACTION low-battery warning set to", 0, 30000)) << vigil.TraceDump();
    }
    std::string error;
    ASSERT_TRUE(OpenLink(error)) << error;
    boxes.Clear();
    auto setsOfOptions = [&] {
      int n = 0;
      for (const auto& m : link_->Sent()) n += m.type == SCP_SET && m.key.size() >= 2 && m.key[0] == 4 && m.key[1] == 3;
      return n;
    };
    auto checked = [](CUpsConfiguration* d, int id) { return d->Control<QRadioButton>(id)->isChecked(); };
    // Since the entry `from` of the Smart-UPS's log, the agent only read from it.
    auto onlyReads = [&](size_t from) {
      static const std::set<std::string> kReads = {"Y", "V", "n", "L", "B", "C",
                                                   "F", "O", "P", "f", "j", "Q"};
      for (const std::string& request : ups.Entries("REQ", from)) {
        if (kReads.count(request) == 0) return false;
      }
      return ups.Entries("ACTION", from).empty();
    };

    QPointer<CUpsConfiguration> d = OpenIdle<CUpsConfiguration>();
    ASSERT_FALSE(d.isNull()) << vigil.Stderr();
    EXPECT_EQ(d->AudibleUnknown(), smart);
    EXPECT_EQ(d->WarningUnknown(), smart);
    for (int id : {CUpsConfiguration::IDC_ALARM_ON, CUpsConfiguration::IDC_ALARM_OFF, CUpsConfiguration::IDC_WARN_2,
                   CUpsConfiguration::IDC_WARN_5}) {
      EXPECT_EQ(d->Control<QRadioButton>(id)->isEnabled(), !smart) << id;
    }
    // The simulated BCM UPS starts with its alarm on and a two-minute warning.
    EXPECT_EQ(checked(d, CUpsConfiguration::IDC_ALARM_ON), !smart);
    EXPECT_EQ(checked(d, CUpsConfiguration::IDC_WARN_2), !smart);
    Screenshot(d, QString::fromStdString("ups_options_" + mode));
    const size_t logFrom = ups.LogCount();
    if (!smart) {
      d->Control<QRadioButton>(CUpsConfiguration::IDC_ALARM_OFF)->click();
      d->Control<QRadioButton>(CUpsConfiguration::IDC_WARN_5)->click();
    }
    QTest::mouseClick(d->Control<QPushButton>(IDOK), Qt::LeftButton);
    ASSERT_TRUE(link_->PumpIdle(10000));
    EXPECT_TRUE(d.isNull());
    EXPECT_EQ(setsOfOptions(), smart ? 0 : 1);

    if (smart) {
      // A SET sent all the same (another console, an older one) is refused, and the console
      // says so; the agent still holds the options unknown.
      {
        auto lock = gScp.Lock();
        gScp.config.SetAudibleAlarm(0);
        gScp.config.SetLowBatteryWarning(5);
        gScp.config.Branches().Touch(3);
      }
      {
        ScpQueueLock queue;
        ASSERT_TRUE(queue.locked());
        ASSERT_EQ(gScp.QueueRequest(4, 3, 0, 1), 1);
      }
      ASSERT_TRUE(link_->PumpUntil([&] { return boxes.Count() > 0; }, 10000));
      EXPECT_EQ(setsOfOptions(), 1);
      const auto shown = boxes.Boxes();
      ASSERT_EQ(shown.size(), 1u);
      EXPECT_EQ(shown[0].text, "SCP Status: FieldAddress=4,3,0 - Not Available");
      QMessageBox picture(QMessageBox::NoIcon, shown[0].caption, shown[0].text, QMessageBox::Ok);
      picture.show();
      Screenshot(&picture, "ups_options_apc_set_refused");
      boxes.Clear();

      // The whole block, as the agent holds it, with known options and a new location: Set OK,
      // the location is taken, the options stay unknown.
      ASSERT_EQ(RequestForHost(1, BLOCK_CONFIG, 0, 0), 1);
      ASSERT_TRUE(link_->PumpIdle(10000));
      {
        auto lock = gScp.Lock();
        gScp.config.SetAudibleAlarm(0);
        gScp.config.SetLowBatteryWarning(5);
        gScp.config.SetLocation("Rack 9");
      }
      {
        ScpQueueLock queue;
        ASSERT_TRUE(queue.locked());
        ASSERT_EQ(gScp.QueueRequest(4, 0, 0, 1), 1);
      }
      ASSERT_TRUE(link_->PumpIdle(10000));
      EXPECT_EQ(boxes.Count(), 0) << "the agent answers Set OK";
      {
        auto lock = gScp.Lock();
        gScp.config.SetLocation("");
      }
      ASSERT_EQ(RequestForHost(1, BLOCK_CONFIG, 3, 0), 1);
      ASSERT_EQ(RequestForHost(1, BLOCK_CONFIG, 4, 0), 1);
      ASSERT_TRUE(link_->PumpIdle(10000));
      {
        auto lock = gScp.Lock();
        EXPECT_EQ(gScp.config.GetAudibleAlarm(), 255);
        EXPECT_EQ(gScp.config.GetLowBatteryWarning(), 255);
        EXPECT_EQ(gScp.config.GetLocation().value_or(""), "Rack 9");
      }
      EXPECT_TRUE(onlyReads(logFrom)) << testing::PrintToString(ups.LogSince(logFrom));
    } else {
      EXPECT_TRUE(ups.WaitForLog("ACTION audible alarm set to 0", logFrom, 15000));
      EXPECT_TRUE(ups.WaitForLog("ACTION low-battery warning set to 5", logFrom, 15000));
      {
        auto lock = gScp.Lock();
        gScp.config.SetDefaults();
      }
      d = OpenIdle<CUpsConfiguration>();
      ASSERT_FALSE(d.isNull());
      EXPECT_TRUE(checked(d, CUpsConfiguration::IDC_ALARM_OFF));
      EXPECT_TRUE(checked(d, CUpsConfiguration::IDC_WARN_5));
      delete d.data();
    }
    EXPECT_EQ(boxes.Count(), 0);
    // What the agent keeps for its next start: the BCM's new options; unknown ones on the
    // Smart-UPS, whatever came in since.
    link_.reset();
    vigil.Signal(SIGTERM);
    ASSERT_EQ(vigil.Wait(30000), 0) << vigil.TraceDump();
    ConfigBlock kept;
    ASSERT_TRUE(ReadConfigFile(vigil.File("config.dat"), kept));
    EXPECT_EQ(kept.GetAudibleAlarm(), smart ? 255 : 0);
    EXPECT_EQ(kept.GetLowBatteryWarning(), smart ? 255 : 5);
    if (smart) {
      EXPECT_EQ(kept.GetLocation().value_or(""), "Rack 9");
    }
  }
}

}  // namespace
