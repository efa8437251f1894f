// KT_Agent: the command line, start-up paths, and the monitor loop's decisions on the
// injectable clock.
#include "agent/engine/agent.h"

#include <gtest/gtest.h>

#include "core/adapters/mib_file.h"
#include "core/scp/local_calendar.h"
#include "platform/record_file.h"
#include "tests/agent/agent_fakes.h"
#include "tests/core/scoped_time_zone.h"
#include "tests/support/test_support.h"

using testing_support::ScopedManualClock;
using testing_support::TempDir;

namespace {

class RecordingEngine : public AgentActionEngine {
 public:
  int TakeAction() override {
    ++passes;
    return 1;
  }
  int IsShutdownRequired() override { return shutdownRequired; }
  int ShutdownSequence(int reason) override {
    reasons.push_back(reason);
    return 1;
  }
  int passes = 0;
  int shutdownRequired = 0;
  std::vector<int> reasons;
};

class AgentTest : public ::testing::Test {
 protected:
  AgentTest() : services(scp), agent(scp, services) {
    agent.SetActionEngine(&engine);
    agent.SetSnmpServiceName("");
  }
  void Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "VigilNT");
    agent.ParseOptions(static_cast<int>(args.size()), args.data());
  }
  bool Alarm(int code) { return scp.upsStatus.IsAlarmSet(code) == 1; }
  // A one-time scheduled shutdown `ahead` seconds from now.
  void Schedule(int64_t ahead, uint32_t segmentOnly = 0) {
    schedule_struct e;
    e.frequency = SCHED_ONCE;
    e.startTime = static_cast<uint32_t>(clock->Now() + ahead);
    e.restartMode = 0;
    e.restartValue = 600;
    e.segmentOnly = segmentOnly;
    e.segment = 1;
    scp.schedShutdown.SetEntries(1, &e);
  }

  TempDir dir;
  ScopedManualClock clock{1700000000};
  KT_SCP scp;
  FakeServices services;
  KT_Agent agent;
  RecordingEngine engine;
};

TEST_F(AgentTest, CommandLineOptions) {
  Parse({"-d", "COM2", "-x", "3"});
  EXPECT_EQ(agent.deviceName, "COM2");
  EXPECT_EQ(agent.mode, 3);
  EXPECT_EQ(agent.foreground, 0);
}

TEST_F(AgentTest, CommandLineSlashAndUnknownLetters) {
  Parse({"/b", "-q", "-c", "ups1", "-g", "public", "/s", "secret", "-x", "264"});
  EXPECT_EQ(agent.foreground, 1);
  EXPECT_EQ(agent.adapterName, "ups1");  // -q was skipped alone
  EXPECT_EQ(agent.readCommunity, "public");
  EXPECT_EQ(agent.writeCommunity, "secret");
  EXPECT_EQ(agent.mode, 8);  // 264 modulo 256
}

TEST_F(AgentTest, CommandLineEdges) {
  Parse({"-", "", "-d"});  // one-character and empty arguments, an option without its value
  EXPECT_FALSE(agent.deviceName);
  EXPECT_EQ(agent.mode, 255);
  Parse({"-x", "junk", "-b"});
  EXPECT_EQ(agent.mode, 0);
  Parse({"-x", "99999999999999999999999"});
  EXPECT_EQ(agent.mode, 255);
  EXPECT_EQ(agent.foreground, 1);
}

TEST_F(AgentTest, ForcedSnmpModeWithoutMibFileGoesIdle) {
  Parse({"-x", "8"});
  agent.InitializeAgent();
  EXPECT_EQ(scp.config.GetCommMode(), COMM_IDLE);
  EXPECT_EQ(agent.mode, COMM_IDLE);
  EXPECT_TRUE(Alarm(ALARM_IDLE));
  EXPECT_TRUE(Alarm(ALARM_AGENT_STARTED));
  EXPECT_FALSE(scp.HasSnmpSupport());
  EXPECT_TRUE(scp.HasTcpIpSupport());
  const auto texts = services.PopupTexts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0], "Unable to locate mib.txt SNMP Unavailable");
  EXPECT_TRUE(platform::RecordFile::Exists(kConfigFileName));
}

TEST_F(AgentTest, StartWithoutConfigGoesIdleAndCreatesTheDefaultFiles) {
  agent.InitializeAgent();
  EXPECT_EQ(agent.mode, COMM_IDLE);
  EXPECT_TRUE(services.PopupTexts().empty());
  for (const char* name : {kConfigFileName, kSchedShutdownFileName, kLoadBankFileName, kBatteryTestFileName,
                           kBatteryInfoFileName}) {
    EXPECT_TRUE(platform::RecordFile::Exists(name)) << name;
  }
  EXPECT_EQ(services.GetState(THREAD_SERIAL), kThreadEnded);
  // No worker reads the UPS's alarm queue: a GET is answered with it as it stands, for good.
  EXPECT_TRUE(scp.alarmQueue.IsFresh(1));
  EXPECT_EQ(scp.alarmQueue.GetRefreshPeriod(), kRefreshNever);
}

TEST_F(AgentTest, CorruptedConfigGoesIdleWithItsMessage) {
  testing_support::WriteFileBytes(kConfigFileName, {202, 9, 'x'});
  agent.InitializeAgent();
  EXPECT_EQ(agent.mode, COMM_IDLE);
  const auto texts = services.PopupTexts();
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts[0], kCorruptedConfigText);
  // The read's failure stays in the error log of this start.
  EXPECT_GT(FileSize(kErrorLogName), 0);
}

TEST_F(AgentTest, SerialDeviceFromCommandLineDetectsAndStartsTheSerialThread) {
  TestPty pty;
  ASSERT_FALSE(pty.path().empty());
  FakeDriverState state;
  agent.SetSerialLinkFactory([&](KT_SCP& s) { return std::make_unique<FakeLink>(state, s); });
  std::atomic<int> runs{0};
  services.SetThreadProcedure(THREAD_SERIAL, [&] {
    ++runs;
    services.State(THREAD_SERIAL).store(kThreadEnded);
    return 0;
  });
  Parse({"-d", pty.path().c_str(), "-x", "7"});
  agent.InitializeAgent();
  EXPECT_EQ(scp.config.GetSerialDeviceName(), pty.path());
  EXPECT_EQ(scp.config.GetBaudRate(), 2);
  EXPECT_EQ(agent.mode, COMM_SERIAL_NORMAL);  // a forced mode above 4 becomes serial
  EXPECT_EQ(state.calls["Connect"], 1);
  services.JoinThreads(5000);
  EXPECT_EQ(runs.load(), 1);
  EXPECT_EQ(scp.upsStatus.GetRefreshPeriod(), 2);
  // The serial worker reads the alarm queue from the UPS on its first GET.
  EXPECT_FALSE(scp.alarmQueue.IsFresh(1));
  EXPECT_EQ(scp.alarmQueue.GetRefreshPeriod(), AlarmQueueBlock::kRefreshPeriod);
}

TEST_F(AgentTest, DetectionFailuresExplainThemselvesAndGoIdle) {
  TestPty pty;
  FakeDriverState state;
  agent.SetSerialLinkFactory([&](KT_SCP& s) { return std::make_unique<FakeLink>(state, s); });
  scp.config.SetSerialDeviceName(pty.path().c_str());
  struct Case {
    int result;
    int code;
    std::string text;
    bool softwareError;
  } cases[] = {
      {0, 0, "UPS is not connected to port: " + pty.path(), false},
      {-1, 2, "Tremona cable is not attached to port: " + pty.path(), false},
      {-1, 3, "A device other than a UPS is attached to port: " + pty.path(), false},
      {-1, 1, "Unable to open communication port: " + pty.path(), true},
  };
  for (const Case& c : cases) {
    scp.upsStatus.Reset();
    services.popups.clear();
    state.results["Connect"] = c.result;
    state.results["ConnectErrorCode"] = c.code;
    EXPECT_EQ(agent.Establish(), 0);
    ASSERT_EQ(services.PopupTexts().size(), 1u);
    EXPECT_EQ(services.PopupTexts()[0], c.text);
    EXPECT_EQ(agent.mode, COMM_IDLE);
    EXPECT_TRUE(Alarm(ALARM_IDLE));
    EXPECT_FALSE(Alarm(ALARM_DETERMINING_UPS_TYPE));
    EXPECT_EQ(Alarm(ALARM_SOFTWARE_ERROR), c.softwareError);
  }
}

TEST_F(AgentTest, DeviceThatIsNoSerialPortIsNeverOpened) {
  FakeDriverState state;
  agent.SetSerialLinkFactory([&](KT_SCP& s) { return std::make_unique<FakeLink>(state, s); });
  for (const char* name : {"/etc/passwd", "/dev/null", "/dev/tty", "../dev/ttyS0", "COM1"}) {
    scp.config.SetSerialDeviceName(name);
    services.popups.clear();
    EXPECT_EQ(agent.Establish(), 0) << name;
    EXPECT_EQ(state.calls["Connect"], 0) << name;
    ASSERT_EQ(services.PopupTexts().size(), 1u);
    EXPECT_EQ(services.PopupTexts()[0], std::string("Unable to open communication port: ") + name);
  }
}

TEST_F(AgentTest, OutageIsCountedOnceWithItsSeconds) {
  scp.upsStatus.SetAlarm(ALARM_ON_BATTERY);
  agent.MonitorLoop();
  EXPECT_EQ(agent.batt_time, clock->Now());
  EXPECT_EQ(scp.batteryInfo.GetOutageCount(), 1u);
  clock->AdvanceSeconds(2);
  agent.MonitorLoop();
  EXPECT_EQ(scp.batteryInfo.GetOutageCount(), 1u);
  clock->AdvanceSeconds(2);
  scp.upsStatus.ClearAlarm(ALARM_ON_BATTERY);
  agent.MonitorLoop();
  EXPECT_EQ(agent.batt_time, 0);
  EXPECT_EQ(scp.batteryInfo.GetOnBatterySeconds(), 4u);
  EXPECT_TRUE(platform::RecordFile::Exists(kBatteryInfoFileName));
  EXPECT_EQ(engine.passes, 3);
}

TEST_F(AgentTest, LowBatteryWarningCountsEachEdge) {
  scp.upsStatus.SetAlarm(ALARM_LOW_BATTERY);
  agent.MonitorLoop();
  agent.MonitorLoop();
  EXPECT_EQ(scp.batteryInfo.GetLowBatteryWarnings(), 1);
  scp.upsStatus.ClearAlarm(ALARM_LOW_BATTERY);
  agent.MonitorLoop();
  EXPECT_EQ(agent.low_batt_time, 0);
  scp.upsStatus.SetAlarm(ALARM_LOW_BATTERY);
  agent.MonitorLoop();
  EXPECT_EQ(scp.batteryInfo.GetLowBatteryWarnings(), 2);
}

TEST_F(AgentTest, ShutdownRequiredRunsTheSequenceWithItsReason) {
  scp.upsStatus.SetAlarm(ALARM_ON_BATTERY);
  engine.shutdownRequired = 1;
  agent.MonitorLoop();
  engine.shutdownRequired = 2;
  agent.MonitorLoop();
  EXPECT_EQ(engine.reasons, (std::vector<int>{0, 1}));
}

// The alarm says whether the next scheduled shutdown is in the window now, wherever the table
// or the clock moved it.
TEST_F(AgentTest, ScheduledShutdownAlarmWindowBoundary) {
  Schedule(15301);
  EXPECT_EQ(agent.CheckTimedShutdown(), 0);
  EXPECT_FALSE(Alarm(ALARM_SCHEDULED_SHUTDOWN));
  clock->AdvanceSeconds(1);
  EXPECT_EQ(agent.CheckTimedShutdown(), 0);
  EXPECT_TRUE(Alarm(ALARM_SCHEDULED_SHUTDOWN));
  scp.schedShutdown.Reset();
  EXPECT_EQ(agent.CheckTimedShutdown(), 0);
  EXPECT_FALSE(Alarm(ALARM_SCHEDULED_SHUTDOWN));

  // Moved to tomorrow, or skipped after a step of the clock: the alarm goes.
  for (const int64_t step : {int64_t{0}, 3600 + kScheduleGraceSeconds + 1}) {
    Schedule(3600);
    EXPECT_EQ(agent.CheckTimedShutdown(), 0);
    EXPECT_TRUE(Alarm(ALARM_SCHEDULED_SHUTDOWN));
    if (step == 0) Schedule(86389);
    clock->AdvanceSeconds(step);
    EXPECT_EQ(agent.CheckTimedShutdown(), 0);
    EXPECT_FALSE(Alarm(ALARM_SCHEDULED_SHUTDOWN)) << step;
  }
}

// A shutdown whose time a step of the clock or a suspended computer jumped over still runs
// within its grace; past it, it is skipped.
TEST_F(AgentTest, PassedSchedulesAreSkippedAfterTheirGraceAllInOnePass) {
  testing_support::ScopedTimeZone zone("UTC");
  Schedule(-kScheduleGraceSeconds - 1);
  EXPECT_EQ(agent.CheckTimedShutdown(), 0);
  EXPECT_EQ(scp.schedShutdown.GetCount(), 0);
  EXPECT_TRUE(platform::RecordFile::Exists(kSchedShutdownFileName));
  Schedule(-kScheduleGraceSeconds);
  EXPECT_EQ(agent.CheckTimedShutdown(), 1);
  EXPECT_EQ(scp.commandBlock.GetShutdownDelay(), scp.config.GetOsShutdownTime());
  EXPECT_FALSE(Alarm(ALARM_SCHEDULED_SHUTDOWN));

  // Left behind by a computer off for months: every entry goes or moves on in one pass, a repeat
  // to its first day from now at its own minute of the day (every N days on its own step).
  const int64_t now = clock->Now();  // Tuesday 14 November 2023, 22:13:20
  using testing_support::ScopedTimeZone;
  const struct {
    uint8_t repeat;
    uint16_t param;
    int days;  // before now, and an hour more
    int64_t next;
  } repeats[] = {{SCHED_DAILY, 0, 200, ScopedTimeZone::Local(2023, 11, 15, 21, 13)},
                 {SCHED_EVERY_N, 3, 199, ScopedTimeZone::Local(2023, 11, 16, 21, 13)},
                 {SCHED_WEEKLY, 1, 200, ScopedTimeZone::Local(2023, 11, 20, 21, 13)},  // Mondays
                 {SCHED_MONTHLY, 31, 200, ScopedTimeZone::Local(2023, 12, 31, 21, 13)}};
  for (const auto& r : repeats) {
    SCOPED_TRACE(static_cast<int>(r.repeat));
    const schedule_struct table[] = {{r.repeat, r.param, static_cast<uint32_t>(now - r.days * 86400 - 3600)},
                                     {SCHED_ONCE, 0, static_cast<uint32_t>(now - 7200)}};
    scp.schedShutdown.SetEntries(2, table);
    EXPECT_EQ(agent.CheckTimedShutdown(), 0);
    ASSERT_EQ(scp.schedShutdown.GetCount(), 1);
    EXPECT_EQ(scp.schedShutdown.GetShutdownTime(), r.next);
  }
}

TEST_F(AgentTest, ScheduledShutdownLeadAndRestartDelay) {
  scp.config.SetOsShutdownTime(120);
  Schedule(121);
  EXPECT_EQ(agent.CheckTimedShutdown(), 0);
  clock->AdvanceSeconds(1);
  scp.upsInfo.SetManufacturer(1);
  EXPECT_EQ(agent.CheckTimedShutdown(), 1);
  // Restart 600 s after the shutdown time, which is 120 s away; minus the lead.
  EXPECT_EQ(scp.commandBlock.GetRestartDelay(), 600 + 120 - 120);
  EXPECT_EQ(scp.receptacles.GetScheduledSegment(), 1);
  // A load-segment entry has a lead of 1 s and asks for the segment's restart.
  Schedule(1, 1);
  EXPECT_EQ(agent.CheckTimedShutdown(), 2);
  agent.MonitorLoop();
}

TEST_F(AgentTest, ScheduledSegmentEntryPostsTheSegmentCommand) {
  Schedule(1, 1);
  agent.MonitorLoop();
  EXPECT_GE(scp.serial_queue.Find(BLOCK_COMMAND, COMMAND_SEGMENT_RESTART), 0);
  EXPECT_TRUE(engine.reasons.empty());
  Schedule(1, 0);
  scp.config.SetOsShutdownTime(1);
  agent.MonitorLoop();
  EXPECT_EQ(engine.reasons, (std::vector<int>{2}));
}

// A test asked for now or due by its schedule is posted; batt_tst.dat says so before the test
// starts, so that an agent killed and started again meanwhile does not run it a second time.
TEST_F(AgentTest, BatteryTestDuePostsTheTest) {
  for (const bool runNow : {true, false}) {
    SCOPED_TRACE(runNow ? "run now" : "scheduled");
    scp.serial_queue.Delete(BLOCK_BATTERY_TEST, 0);
    scp.upsStatus.ClearAlarm(ALARM_BATTERY_TEST);
    if (runNow) {
      scp.batteryTest.SetRunNow(1);
    } else {
      ASSERT_EQ(scp.batteryTest.SetMode(BatteryTestBlock::kModeOn) +
                    scp.batteryTest.SetNextTestTime(clock->Now()) + scp.batteryTest.SetIntervalDays(7),
                3);
    }
    agent.MonitorLoop();
    EXPECT_GE(scp.serial_queue.Find(BLOCK_BATTERY_TEST, 0), 0);
    EXPECT_TRUE(Alarm(ALARM_BATTERY_TEST));
    KT_SCP restarted;
    KT_OSServices files(restarted);
    ASSERT_EQ(files.ReadBatteryTestFile(), 1);
    EXPECT_NE(restarted.batteryTest.IsTestDue(), BatteryTestBlock::TEST_DUE);
  }
}

TEST_F(AgentTest, LoadControlTurnsTheNonCriticalSegmentOffAfterItsDelay) {
  scp.upsInfo.SetFunctionSupported(3, 7);
  scp.receptacles.SetCount(2);
  scp.receptacles.SetNonCriticalSegment(1);
  scp.receptacles.SetDownDelay(1, 60);
  scp.upsStatus.SetAlarm(ALARM_ON_BATTERY);
  agent.MonitorLoop();
  EXPECT_LT(scp.serial_queue.Find(BLOCK_COMMAND, COMMAND_LOAD_OFF), 0);
  clock->AdvanceSeconds(56);
  agent.MonitorLoop();
  EXPECT_LT(scp.serial_queue.Find(BLOCK_COMMAND, COMMAND_LOAD_OFF), 0);
  clock->AdvanceSeconds(1);
  agent.MonitorLoop();
  EXPECT_GE(scp.serial_queue.Find(BLOCK_COMMAND, COMMAND_LOAD_OFF), 0);
  EXPECT_EQ(scp.receptacles.GetStatus(1), RECEPTACLE_OFF_POWER_FAIL);
}

TEST_F(AgentTest, NetworkShutdownCommandsFromTheMaster) {
  scp.commandBlock.SetWarnDelay(2);
  scp.commandBlock.SetShutDelay(10);
  scp.commandBlock.SetCommand(0);
  agent.ActivateNetworkShutdown();
  EXPECT_TRUE(Alarm(ALARM_ON_BATTERY));
  EXPECT_TRUE(Alarm(ALARM_REMOTE_SHUTDOWN));
  EXPECT_EQ(scp.config.GetTotalBatteryTime(), 11);
  EXPECT_EQ(scp.config.GetShutdownStartDelay(), 10);
  EXPECT_EQ(scp.config.GetTurnOffUps(), 0);
  KT_ActionEntry entry;
  ASSERT_TRUE(scp.notify.FindAction(EVENT_ON_BATTERY, ACTION_CONSOLE_WARNING, entry));
  EXPECT_EQ(entry.delay, 120);
  EXPECT_EQ(entry.interval, 60);
  EXPECT_EQ(entry.message, "Utility Failure, system protected by backup power.");

  scp.commandBlock.SetCommand(1);
  agent.ActivateNetworkShutdown();
  EXPECT_FALSE(Alarm(ALARM_ON_BATTERY));
  EXPECT_FALSE(Alarm(ALARM_REMOTE_SHUTDOWN));

  scp.commandBlock.SetCommand(3);
  agent.ActivateNetworkShutdown();
  EXPECT_EQ(agent.remote_shutdown_time, clock->Now() + 120);
  clock->AdvanceSeconds(119);
  agent.MonitorLoop();
  EXPECT_TRUE(engine.reasons.empty());
  clock->AdvanceSeconds(1);
  agent.MonitorLoop();
  EXPECT_EQ(engine.reasons, (std::vector<int>{4}));

  scp.commandBlock.SetCommand(5);
  agent.ActivateNetworkShutdown();
  EXPECT_EQ(agent.remote_shutdown_time, 0);
  EXPECT_FALSE(Alarm(ALARM_REMOTE_SHUTDOWN));
  EXPECT_EQ(services.PopupTexts().back(), "Remote Scheduled shutdown was cancelled.");
}

// The master's low-battery command shuts the computer down whether or not its utility failure
// came first; its utility-restored command, without an outage from the master, changes
// nothing; a repeated command has no second effect.
TEST_F(AgentTest, MasterCommandsWithoutTheirOutage) {
  auto command = [&](int c) {
    scp.commandBlock.SetWarnDelay(2);
    scp.commandBlock.SetShutDelay(10);
    scp.commandBlock.SetCommand(c);
    agent.ActivateNetworkShutdown();
  };
  // Utility restored, never told of an outage: no alarm, no action record, nothing later.
  const int actions = scp.notify.GetActionCount();
  command(1);
  EXPECT_EQ(scp.upsStatus.GetAlarmCount(), 0);
  EXPECT_EQ(scp.notify.GetActionCount(), actions);
  KT_ActionEntry entry;
  EXPECT_FALSE(scp.notify.FindAction(EVENT_POWER_RESTORED, ACTION_CONSOLE_WARNING, entry));
  agent.MonitorLoop();
  EXPECT_TRUE(engine.reasons.empty());

  // Utility failure, repeated: the alarm keeps the time of the first.
  command(0);
  const int64_t since = scp.upsStatus.GetAlarmTime(ALARM_ON_BATTERY);
  clock->AdvanceSeconds(10);
  command(0);
  EXPECT_EQ(scp.upsStatus.GetAlarmTime(ALARM_ON_BATTERY), since);
  EXPECT_EQ(scp.notify.GetActionCount(), actions + 1);
  // Restored: taken, and a repeat of it changes nothing more.
  command(1);
  EXPECT_FALSE(Alarm(ALARM_ON_BATTERY));
  EXPECT_TRUE(scp.notify.FindAction(EVENT_POWER_RESTORED, ACTION_CONSOLE_WARNING, entry));
  const int64_t cleared = scp.upsStatus.GetAlarmTime(ALARM_ON_BATTERY);
  clock->AdvanceSeconds(10);
  command(1);
  EXPECT_EQ(scp.upsStatus.GetAlarmTime(ALARM_ON_BATTERY), cleared);

  // Low battery without the utility failure (the on-battery alarm is not set): the shutdown.
  agent.MonitorLoop();
  EXPECT_TRUE(engine.reasons.empty());
  command(2);
  EXPECT_FALSE(Alarm(ALARM_ON_BATTERY));
  EXPECT_TRUE(Alarm(ALARM_LOW_BATTERY));
  agent.MonitorLoop();
  EXPECT_EQ(engine.reasons, (std::vector<int>{1}));
}

TEST_F(AgentTest, NetworkCommandSixOrAboveChangesNothing) {
  scp.commandBlock.SetCommand(6);
  const int actions = scp.notify.GetActionCount();
  agent.ActivateNetworkShutdown();
  EXPECT_EQ(scp.upsStatus.GetAlarmCount(), 0);
  EXPECT_EQ(scp.notify.GetActionCount(), actions);
  EXPECT_EQ(agent.remote_shutdown_time, 0);
}

TEST_F(AgentTest, MibFileIsOptional) {
  EXPECT_FALSE(ReadMibFile(kMibFileName));
  testing_support::WriteFileText(kMibFileName,
                                 "TEST-UPS-MIB DEFINITIONS ::= BEGIN\n"
                                 "IMPORTS enterprises FROM RFC1155-SMI;\n"
                                 "testUps OBJECT IDENTIFIER ::= { enterprises 99999 }\n"
                                 "END\n");
  EXPECT_TRUE(ReadMibFile(kMibFileName));
}

}  // namespace

// An adapter not heard from for longer than the communication time-out (counted from when the
// next status read was due) is a lost communication in the adapter modes, whatever the adapter
// thread is doing; at the limit itself, in the other modes, or with no adapter thread running,
// nothing is raised.
TEST_F(AgentTest, AnAdapterSilentPastTheTimeOutIsALostCommunication) {
  struct Case {
    uint8_t mode;
    bool threadRuns;
    uint32_t pollingInterval;
    int64_t silentSeconds;
    bool lost;
  };
  const Case cases[] = {
      {COMM_NETBCM_ADAPTER, true, 0, 30, false},  {COMM_NETBCM_ADAPTER, true, 0, 31, true},
      {COMM_NETBCM_ADAPTER, true, 10, 40, false}, {COMM_NETBCM_ADAPTER, true, 10, 41, true},
      {COMM_SNMP_ADAPTER, true, 0, 31, true},     {COMM_SNMP_ADAPTER, false, 0, 300, false},
      {COMM_SERIAL_NORMAL, true, 0, 300, false},  {COMM_IDLE, true, 0, 300, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << int{c.mode} << ", polling " << c.pollingInterval << " s, silent "
                                    << c.silentSeconds << " s");
    scp.upsStatus.ClearAlarm(ALARM_LOST_UPS_COMM);
    scp.config.SetCommTimeout(30);
    scp.config.SetPollingInterval(c.pollingInterval);
    agent.mode = c.mode;
    agent.adapterHeard = c.threadRuns ? clock->Now() : 0;
    clock->AdvanceSeconds(c.silentSeconds);
    agent.MonitorLoop();
    EXPECT_EQ(Alarm(ALARM_LOST_UPS_COMM), c.lost);
  }
}
