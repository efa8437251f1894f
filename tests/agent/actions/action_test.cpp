// The action engine on the injectable clock, with every effect recorded: timing of the
// configured actions (delays, repeats, counters, cleared alarms), what each action kind does,
// the shutdown decision and the shutdown sequence.
#include "agent/actions/action.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "agent/engine/daemon.h"
#include "core/scp/scp_frame.h"
#include "core/network/udp.h"
#include "platform/record_file.h"
#include "tests/agent/actions/recording_services.h"
#include "tests/support/held_resolver.h"
#include "tests/support/snmp_peer.h"
#include "tests/support/test_support.h"

using testing_support::ScopedManualClock;
using testing_support::TempDir;
using testing_support::TraceCapture;

namespace {

class ActionTest : public ::testing::Test {
 protected:
  ActionTest() : services(scp), engine(scp, services) {
    scp.config.SetCommMode(COMM_SERIAL_NORMAL);
  }

  void Configure(int event, int action, int delay, int interval, const char* text = "text", uint8_t alias = 255) {
    KT_ActionEntry e(static_cast<uint8_t>(event), static_cast<uint8_t>(action));
    e.delay = static_cast<uint16_t>(delay);
    e.interval = static_cast<uint16_t>(interval);
    if (text) e.SetMessage(text);
    e.alias = alias;
    ASSERT_EQ(scp.notify.AddAction(e), 0);
  }
  void Set(int alarm) { scp.upsStatus.SetAlarm(alarm); }
  void Clear(int alarm) { scp.upsStatus.ClearAlarm(alarm); }
  bool Alarm(int alarm) { return scp.upsStatus.IsAlarmSet(alarm) == 1; }
  // Advances the clock by `seconds`, then runs one pass.
  void PassAfter(int seconds) {
    clock->AdvanceSeconds(seconds);
    engine.TakeAction();
  }
  // Runs a pass every 2 s for `seconds`; the number of `prefix` calls made meanwhile.
  size_t PassesFor(int seconds, const std::string& prefix) {
    const size_t before = services.Count(prefix);
    for (int t = 0; t < seconds; t += 2) PassAfter(2);
    return services.Count(prefix) - before;
  }

  TempDir dir;
  ScopedManualClock clock{1700000000};
  KT_SCP scp;
  RecordingServices services;
  KT_Action engine;
};

// ---- timing -------------------------------------------------------------------------------

TEST_F(ActionTest, NothingActiveNothingPendingIsAnEmptyPass) {
  EXPECT_EQ(engine.TakeAction(), 0);
  Set(ALARM_ON_BATTERY);
  EXPECT_EQ(engine.TakeAction(), 1);
  Clear(ALARM_ON_BATTERY);
  EXPECT_EQ(engine.TakeAction(), 1);  // the cleared alarm is processed once
  EXPECT_EQ(engine.TakeAction(), 0);  // ... and then dropped
  EXPECT_TRUE(engine.Pending().empty());
}

TEST_F(ActionTest, DelayThenOneRunOrOneRunPerInterval) {
  // No shutdown due meanwhile: every sound is played and waited for.
  scp.config.SetTotalBatteryTime(60);
  ASSERT_EQ(scp.config.SetShutdownStartDelay(30), 1);
  Configure(EVENT_ON_BATTERY, ACTION_COMMAND, 60, 0, "once");
  Configure(EVENT_ON_BATTERY, ACTION_AUDIO, 60, 300, "bell.wav");
  Set(ALARM_ON_BATTERY);
  engine.TakeAction();
  EXPECT_EQ(services.Count("run:"), 0u);
  PassAfter(58);
  EXPECT_EQ(services.Count("run:"), 0u);
  PassAfter(2);  // 60 s after the alarm
  EXPECT_EQ(services.Calls("run:"), std::vector<std::string>{"run:once"});
  EXPECT_EQ(services.Count("sound:"), 1u);
  // Repeats at 360 s and 660 s while the alarm stays; the command never again.
  PassAfter(298);
  EXPECT_EQ(services.Count("sound:"), 1u);
  PassAfter(2);
  EXPECT_EQ(services.Count("sound:"), 2u);
  EXPECT_EQ(PassesFor(298, "sound:"), 0u);
  PassAfter(2);
  EXPECT_EQ(services.Count("sound:"), 3u);
  EXPECT_EQ(services.Count("run:"), 1u);
  EXPECT_EQ(engine.Counter(EVENT_ON_BATTERY, ACTION_AUDIO), 3);
}

TEST_F(ActionTest, MainsReturnResetsTheOutageAndRunsTheRestoredActionsOnce) {
  Configure(EVENT_ON_BATTERY, ACTION_CONSOLE_WARNING, 10, 60, "on battery");
  Configure(EVENT_ON_BATTERY, ACTION_MAIL, 10, 0, "mail");
  Configure(EVENT_POWER_RESTORED, ACTION_USER_WARNING, 0, 0, "restored");
  Set(ALARM_ON_BATTERY);
  engine.TakeAction();
  PassAfter(10);
  EXPECT_EQ(services.Count("popup:"), 1u);
  EXPECT_EQ(engine.Counter(EVENT_ON_BATTERY, ACTION_CONSOLE_WARNING), 1);

  Clear(ALARM_ON_BATTERY);
  PassAfter(2);
  EXPECT_EQ(services.Calls("broadcast:"), std::vector<std::string>{"broadcast:restored"});
  EXPECT_EQ(engine.Counter(EVENT_ON_BATTERY, ACTION_CONSOLE_WARNING), 0);
  EXPECT_EQ(engine.Counter(EVENT_ON_BATTERY, ACTION_MAIL), 0);
  // Nothing more while on mains: the warning is cancelled, the notice not repeated.
  EXPECT_EQ(PassesFor(600, "popup:"), 0u);
  EXPECT_EQ(services.Count("broadcast:"), 1u);

  // A later outage starts over with the delay.
  Set(ALARM_ON_BATTERY);
  engine.TakeAction();
  PassAfter(8);
  EXPECT_EQ(services.Count("popup:"), 1u);
  PassAfter(2);
  EXPECT_EQ(services.Count("popup:"), 2u);
}

TEST_F(ActionTest, AlarmsWithoutEventsRunNothing) {
  // Alarms 8..15 have no "cleared" event, 16 none at all: nothing may run for them.
  for (int event = 1; event <= kLastEventId; ++event) Configure(event, ACTION_APPLICATION_LOG, 0, 0);
  Set(ALARM_LOST_DAEMON_COMM);
  Set(ALARM_REMOTE_SHUTDOWN);
  engine.TakeAction();
  EXPECT_EQ(services.Calls("logevent:"), std::vector<std::string>{"logevent:2:25"});
  Clear(ALARM_REMOTE_SHUTDOWN);
  Clear(ALARM_LOST_DAEMON_COMM);
  services.Clear();
  PassAfter(2);
  EXPECT_TRUE(services.Calls("logevent:").empty());
  EXPECT_EQ(KT_Action::EventOfAlarm(ALARM_LOST_DAEMON_COMM, true), 0);
  for (int alarm = ALARM_SOFTWARE_ERROR; alarm <= ALARM_REMOTE_SHUTDOWN; ++alarm) {
    EXPECT_EQ(KT_Action::EventOfAlarm(alarm, false), 0) << alarm;
  }
}

TEST_F(ActionTest, AlarmThatComesAndGoesBetweenPassesIsNeverSeen) {
  Configure(EVENT_OVERLOAD, ACTION_COMMAND, 0, 0, "overload");
  Configure(EVENT_OVERLOAD_CLEARED, ACTION_COMMAND, 0, 0, "overload gone");
  Set(ALARM_OVERLOAD);
  Clear(ALARM_OVERLOAD);
  EXPECT_EQ(engine.TakeAction(), 0);
  EXPECT_TRUE(services.Calls().empty());
}

// ---- faults of the timing rules, mended ----------------------------------------------------

TEST_F(ActionTest, DelayedActionOfAClearedAlarmRunsAfterItsDelayUnlessTheAlarmReturns) {
  Configure(EVENT_POWER_RESTORED, ACTION_COMMAND, 30, 0, "restored later");
  Configure(EVENT_POWER_RESTORED, ACTION_USER_WARNING, 0, 0, "restored now");
  Set(ALARM_ON_BATTERY);
  engine.TakeAction();
  PassAfter(2);
  Clear(ALARM_ON_BATTERY);
  PassAfter(2);
  EXPECT_EQ(services.Count("broadcast:"), 1u);
  EXPECT_EQ(services.Count("run:"), 0u);
  EXPECT_EQ(PassesFor(26, "run:"), 0u);
  PassAfter(2);  // 30 s after the clear
  EXPECT_EQ(services.Calls("run:"), std::vector<std::string>{"run:restored later"});
  EXPECT_EQ(services.Count("broadcast:"), 1u);  // the immediate one did not run again
  EXPECT_EQ(engine.TakeAction(), 0);            // and the alarm is no longer followed

  // The mains fails again within the delay: the delayed notice is cancelled, and the command
  // that told of the failure goes on with it as one outage: no second first run, its repeats
  // from the new failure.
  Configure(EVENT_ON_BATTERY, ACTION_COMMAND, 0, 10, "outage");
  services.Clear();
  Set(ALARM_ON_BATTERY);
  PassAfter(2);
  EXPECT_EQ(PassesFor(20, "run:"), 2u);  // after 10 s and 20 s
  Clear(ALARM_ON_BATTERY);
  PassAfter(2);
  EXPECT_EQ(services.Count("broadcast:"), 1u);
  PassAfter(10);
  Set(ALARM_ON_BATTERY);
  PassAfter(2);
  EXPECT_EQ(PassesFor(60, "run:"), 6u);
  EXPECT_EQ(services.Calls("run:"), std::vector<std::string>(9, "run:outage"));
}

TEST_F(ActionTest, OneShotAlarmRunsEachTimeAndKeepsItsDelayedActions) {
  Configure(EVENT_REMOTE_CONFIG_CHANGE, ACTION_USER_WARNING, 0, 0, "changed");
  Configure(EVENT_REMOTE_CONFIG_CHANGE, ACTION_COMMAND, 20, 0, "changed later");
  Set(ALARM_CONFIG_CHANGED);
  engine.TakeAction();
  EXPECT_EQ(services.Count("broadcast:"), 1u);
  // Still set: its delayed command has not run yet.
  EXPECT_TRUE(Alarm(ALARM_CONFIG_CHANGED));
  EXPECT_EQ(PassesFor(18, "run:"), 0u);
  PassAfter(2);
  EXPECT_EQ(services.Count("run:"), 1u);
  EXPECT_FALSE(Alarm(ALARM_CONFIG_CHANGED));
  PassAfter(2);

  // The next change runs the actions again (the counters started over).
  Set(ALARM_CONFIG_CHANGED);
  PassAfter(2);
  EXPECT_EQ(services.Count("broadcast:"), 2u);
  PassesFor(20, "run:");
  EXPECT_EQ(services.Count("run:"), 2u);

  // Also when it is raised again before a pass saw it cleared.
  Set(ALARM_AGENT_STARTED);
  Configure(EVENT_PROGRAM_STARTED, ACTION_AUDIO, 0, 0, "start.wav");
  PassAfter(2);
  EXPECT_FALSE(Alarm(ALARM_AGENT_STARTED));
  Set(ALARM_AGENT_STARTED);
  PassAfter(2);
  EXPECT_EQ(services.Count("sound:"), 2u);
}

TEST_F(ActionTest, ScheduledShutdownWarningRunsOnceNotEveryPass) {
  schedule_struct e;
  e.frequency = SCHED_ONCE;
  e.startTime = static_cast<uint32_t>(clock->Now() + 600);
  e.restartValue = 600;
  scp.schedShutdown.SetEntries(1, &e);
  Configure(EVENT_SCHEDULED_SHUTDOWN, ACTION_CONSOLE_WARNING, 300, 0, "going down");
  Configure(EVENT_SCHEDULED_SHUTDOWN, ACTION_USER_WARNING, 300, 120, "going down soon");
  Set(ALARM_SCHEDULED_SHUTDOWN);
  engine.TakeAction();
  EXPECT_EQ(PassesFor(298, "popup:"), 0u);  // up to 302 s before the shutdown time
  PassAfter(2);                              // 300 s before
  EXPECT_EQ(services.Count("popup:"), 1u);
  EXPECT_EQ(services.Count("broadcast:"), 1u);
  EXPECT_EQ(PassesFor(200, "popup:"), 0u);
  EXPECT_EQ(services.Count("broadcast:"), 2u);  // 180 s before
  // The schedule moves on: the counters start over for the next entry.
  Clear(ALARM_SCHEDULED_SHUTDOWN);
  PassAfter(2);
  EXPECT_EQ(engine.Counter(EVENT_SCHEDULED_SHUTDOWN, ACTION_CONSOLE_WARNING), 0);
}

TEST_F(ActionTest, AlarmClearedAndRaisedBetweenPassesStartsOver) {
  Configure(EVENT_ON_BATTERY, ACTION_COMMAND, 10, 0, "outage");
  Set(ALARM_ON_BATTERY);
  engine.TakeAction();
  PassAfter(10);
  EXPECT_EQ(services.Count("run:"), 1u);
  clock->AdvanceSeconds(1);
  Clear(ALARM_ON_BATTERY);
  clock->AdvanceSeconds(1);
  Set(ALARM_ON_BATTERY);
  engine.TakeAction();
  EXPECT_EQ(services.Count("run:"), 1u);
  PassesFor(10, "run:");
  EXPECT_EQ(services.Count("run:"), 2u);
}

// An alarm's life against the monitor passes: f raised, b cleared, + one second, p a pass.
std::string Flapping(int period, int raisedFor, int passPhase, int times) {
  std::string steps;
  for (int t = 0; t < period * times; ++t) {
    if (t % period == 0) steps += 'f';
    if (t % period == raisedFor) steps += 'b';
    if (t % 2 == passPhase) steps += 'p';
    steps += '+';
  }
  return steps;
}

// Whatever an action kind told of an alarm, it tells of its clearing before it tells of the
// alarm again, for every alarm that has a "cleared" event, in every phase against the passes.
// Texts: R for a run told of the alarm, C for one told of its clearing.
TEST_F(ActionTest, EveryRunOfAnAlarmIsFollowedByItsClearingBeforeTheNext) {
  const std::vector<std::pair<const char*, std::string>> sequences = {
      {"raised, cleared and raised again within one pass", "fp+b+fp"},
      {"cleared in a pass, back within the delayed notice", "fp+bp+fp+p"},
      {"every pass sees it raised again", Flapping(2, 1, 0, 20)},
      {"flapping every 3 s", Flapping(3, 1, 0, 20)},
      {"flapping every 3 s, the other phase", Flapping(3, 2, 1, 20)},
      {"flapping every 5 s", Flapping(5, 3, 1, 12)},
  };
  // Delays: a brief return tells nothing by broadcast, a brief failure nothing by sound. The
  // event log (a file write per record) for the mains only.
  const struct {
    int action, raisedDelay, clearedDelay;
    const char* prefix;
  } kinds[] = {{ACTION_COMMAND, 0, 0, "run:"},
               {ACTION_USER_WARNING, 0, 5, "broadcast:"},
               {ACTION_AUDIO, 3, 0, "sound"},
               {ACTION_EVENT_LOG, 0, 0, ""}};
  for (int alarm = 0; alarm < kAlarmCount; ++alarm) {
    const int raised = KT_Action::EventOfAlarm(alarm, true);
    if (KT_Action::EventOfAlarm(alarm, false) == 0) continue;
    for (const auto& [name, steps] : sequences) {
      SCOPED_TRACE(std::string(name) + ", alarm " + std::to_string(alarm));
      KT_SCP s;
      RecordingServices effects(s);
      KT_Action actions(s, effects);
      for (const auto& k : kinds) {
        if (k.action == ACTION_EVENT_LOG && alarm != ALARM_ON_BATTERY) continue;
        for (bool active : {true, false}) {
          KT_ActionEntry e(static_cast<uint8_t>(KT_Action::EventOfAlarm(alarm, active)),
                           static_cast<uint8_t>(k.action));
          e.delay = static_cast<uint16_t>(active ? k.raisedDelay : k.clearedDelay);
          e.SetMessage(active ? "raised" : "cleared");
          ASSERT_EQ(s.notify.AddAction(e), 0);
        }
      }
      std::string pairs;  // RC for every occurrence a pass saw while it lasted
      bool seen = false;
      std::string settle = "b";
      for (int i = 0; i < 10; ++i) settle += "+p";
      for (char step : steps + settle) {
        if (step == 'f') s.upsStatus.SetAlarm(alarm), seen = false;
        if (step == 'b') s.upsStatus.ClearAlarm(alarm);
        if (step == '+') clock->AdvanceSeconds(1);
        if (step != 'p') continue;
        if (s.upsStatus.IsAlarmSet(alarm) == 1 && !seen) pairs += "RC", seen = true;
        actions.TakeAction();
      }
      std::string told[4];
      for (int i = 0; i < 3; ++i) {
        for (const auto& c : effects.Calls(kinds[i].prefix)) {
          told[i] += c.find("cleared") == std::string::npos ? 'R' : 'C';
        }
      }
      for (const LogRecord& r : s.eventLog.Records()) told[3] += r.data.at(0) == raised ? 'R' : 'C';
      EXPECT_EQ(told[0], pairs);
      // Returns shorter than the notice's delay join the occurrences around them.
      EXPECT_EQ(told[1], pairs.substr(0, told[1].size() / 2 * 2));
      EXPECT_EQ(told[1].empty(), pairs.empty());
      EXPECT_EQ(told[2].find("RR"), std::string::npos) << told[2];
      EXPECT_TRUE(told[2].empty() || told[2].back() == 'C') << told[2];
      if (alarm == ALARM_ON_BATTERY) {
        EXPECT_EQ(told[3], pairs);
      }
    }
  }
}

TEST_F(ActionTest, RepeatsMissedWhileBusyAreNotMadeUp) {
  Configure(EVENT_ON_BATTERY, ACTION_AUDIO, 0, 10, "beep");
  Set(ALARM_ON_BATTERY);
  engine.TakeAction();
  EXPECT_EQ(services.Count("sound:"), 1u);
  PassAfter(100);  // ten repeats came due while the loop was held up: one runs
  EXPECT_EQ(services.Count("sound:"), 2u);
  PassAfter(2);
  EXPECT_EQ(services.Count("sound:"), 2u);
  PassAfter(8);  // 110 s: the next one on the old schedule
  EXPECT_EQ(services.Count("sound:"), 3u);
}

// ---- the action kinds -----------------------------------------------------------------------

TEST_F(ActionTest, EveryKindRunsInItsOrderWithItsArguments) {
  ASSERT_EQ(scp.notify.MailRecipients().Add("acct1", "ops@example.test"), 0);
  ASSERT_EQ(scp.notify.MailRecipients().Add("acct2", "boss@example.test"), 0);
  scp.config.SetShutdownStartDelay(5);
  Configure(EVENT_ON_BATTERY, ACTION_EVENT_LOG, 0, 0, nullptr, 1);
  Configure(EVENT_ON_BATTERY, ACTION_APPLICATION_LOG, 0, 0, nullptr);
  Configure(EVENT_ON_BATTERY, ACTION_COMMAND, 0, 0, "/usr/bin/logger outage");
  Configure(EVENT_ON_BATTERY, ACTION_PAGE, 0, 0, "page text", 1);
  Configure(EVENT_ON_BATTERY, ACTION_MAIL, 0, 0, "mail text", 0x02);
  Configure(EVENT_ON_BATTERY, ACTION_USER_WARNING, 0, 0, "users");
  Configure(EVENT_ON_BATTERY, ACTION_AUDIO, 0, 0, "alarm.wav");
  Configure(EVENT_ON_BATTERY, ACTION_CONSOLE_WARNING, 0, 0, "Power Failure.");
  TraceCapture trace;
  Set(ALARM_ON_BATTERY);
  clock->AdvanceSeconds(61);
  engine.TakeAction();
  const std::vector<std::string> expected = {
      "popup:Power Failure.\nTremona: System shutdown in 3 minutes and 59 seconds.|Tremona Agent Message|327728",
      "sound:alarm.wav",
      "broadcast:users",
      "mail:boss@example.test|Tremona Mail System|mail text",
      "page:3|page text",
      "run:/usr/bin/logger outage",
      "logevent:2:3",
  };
  EXPECT_EQ(services.Calls(), expected);
  EXPECT_TRUE(trace.Contains("TakeAction: new alarms = 1, old alarms = 0"));
  EXPECT_TRUE(trace.Contains("pending_alarms[0] = 1"));
  EXPECT_TRUE(trace.Contains("Common source: In SendPage\n"));
  EXPECT_TRUE(trace.Contains("In ExecuteCommand\n"));
  EXPECT_TRUE(trace.Contains("LogEvent() returned 1"));
  // The event log got its record and was written.
  ASSERT_EQ(scp.eventLog.GetRecordCount(), 1);
  EXPECT_EQ(scp.eventLog.Records().back().data, std::vector<uint8_t>{EVENT_ON_BATTERY});
  EXPECT_TRUE(platform::RecordFile::Exists(dir.File(kEventLogFileName)));
}

TEST_F(ActionTest, ActionsWithoutTheirTextOrRecipientAreSkipped) {
  Configure(EVENT_ON_BATTERY, ACTION_COMMAND, 0, 0, nullptr);
  Configure(EVENT_ON_BATTERY, ACTION_AUDIO, 0, 0, "");
  Configure(EVENT_ON_BATTERY, ACTION_MAIL, 0, 0, "mail", 0x03);  // no recipients listed
  Configure(EVENT_ON_BATTERY, ACTION_SNMP_TRAP, 0, 0, nullptr, 0xFF);
  Configure(EVENT_ON_BATTERY, ACTION_REMOTE_HOST, 0, 0, "notice");  // no host
  TraceCapture trace;
  Set(ALARM_ON_BATTERY);
  EXPECT_EQ(engine.TakeAction(), 1);
  EXPECT_TRUE(services.Calls().empty());
  // Without the MIB file the agent sends no traps.
  EXPECT_FALSE(trace.Contains("In KT_Action::SendSNMPTrap"));
}

TEST_F(ActionTest, RemoteHostGetsTheMessageCommandOverUdp) {
  KT_UDP receiver;
  receiver.SetBindAddress("127.0.0.1");
  ASSERT_EQ(receiver.Open(0), 0);
  engine.SetRemoteHostPort(ntohs(receiver.GetPort()));
  KT_ActionEntry e(EVENT_ON_BATTERY, ACTION_REMOTE_HOST);
  e.SetMessage("Power is out in building 2");
  e.SetRemoteHost("127.0.0.1");
  ASSERT_EQ(scp.notify.AddAction(e), 0);
  KT_ActionEntry ipx(EVENT_POWER_RESTORED, ACTION_REMOTE_HOST);
  ipx.SetMessage("back");
  ipx.SetRemoteHost("nobody - (Remote Server)");
  ASSERT_EQ(scp.notify.AddAction(ipx), 0);

  Set(ALARM_ON_BATTERY);
  engine.TakeAction();
  ASSERT_EQ(receiver.WaitForData(5), 1);
  KT_Address from;
  std::vector<uint8_t> frame;
  ASSERT_EQ(receiver.ReceiveData(&from, frame), 1);
  KT_ScpMessage message;
  ASSERT_EQ(DecodeScpFrame(frame.data(), frame.size(), message), 0);  // one whole frame
  EXPECT_EQ(message.type, SCP_SET);
  EXPECT_EQ(message.key, (std::vector<uint8_t>{27, 9, 0}));
  const std::string text = "Power is out in building 2";
  std::vector<uint8_t> data{static_cast<uint8_t>(text.size() + 1)};
  data.insert(data.end(), text.begin(), text.end());
  data.push_back(0);
  EXPECT_EQ(message.data, data);

  // A client name the configuration does not hold only skips that notice.
  TraceCapture trace;
  Clear(ALARM_ON_BATTERY);
  EXPECT_EQ(engine.TakeAction(), 1);
  EXPECT_TRUE(trace.Contains("Remote host nobody is not a network client"));
  EXPECT_EQ(receiver.WaitForData(0), 0);
}

TEST_F(ActionTest, TrapKindFollowsTheAlarmAndItsChange) {
  testing_support::TrapReceiver receiver;
  ASSERT_TRUE(receiver.Start()) << receiver.error();
  scp.SetFlag(SCP_FLAG_SNMP);
  ASSERT_EQ(scp.notify.TrapReceivers().Add(receiver.peerName(), "managers"), 0);
  // Alias 0x03 names slot 0 (listed) and slot 1 (not listed: skipped).
  Configure(EVENT_ON_BATTERY, ACTION_SNMP_TRAP, 0, 0, nullptr, 0x03);
  Configure(EVENT_POWER_RESTORED, ACTION_SNMP_TRAP, 0, 0, nullptr, 0x03);
  Configure(EVENT_OVERLOAD, ACTION_SNMP_TRAP, 0, 0, nullptr, 0x01);
  Configure(EVENT_DIAGNOSTIC_TEST_COMPLETED, ACTION_SNMP_TRAP, 0, 0, nullptr, 0x01);
  TraceCapture trace;

  Set(ALARM_ON_BATTERY);
  engine.TakeAction();  // on battery: the on-battery trap
  Clear(ALARM_ON_BATTERY);
  PassAfter(2);  // mains back: the alarm entry of the outage is removed
  Set(ALARM_OVERLOAD);
  PassAfter(2);  // any other alarm: an alarm entry added
  Set(ALARM_BATTERY_TEST);
  PassAfter(2);
  BatteryTestResult result;
  result.description = "Battery test";
  result.resultCode = BATTERY_TEST_FAILED;
  scp.batteryLog.SetResult(result, static_cast<uint32_t>(clock->Now()), 0);
  Clear(ALARM_BATTERY_TEST);
  PassAfter(2);  // the test ended: its outcome from the battery log

  const auto traps = receiver.WaitForTraps(4, 10000);
  ASSERT_EQ(traps.size(), 4u) << receiver.Log();
  std::vector<int> kinds;
  for (const auto& t : traps) {
    kinds.push_back(t.specificType);
    EXPECT_EQ(t.community, "managers");
  }
  EXPECT_EQ(kinds, (std::vector<int>{UPS_TRAP_ON_BATTERY, UPS_TRAP_ALARM_ENTRY_REMOVED, UPS_TRAP_ALARM_ENTRY_ADDED,
                                     UPS_TRAP_TEST_COMPLETED}));
  ASSERT_GE(traps[3].variables.size(), 4u);
  EXPECT_EQ(traps[3].variables[2].value, "3");  // a failed test: doneError
  EXPECT_NE(traps[3].variables[3].value.find("Battery test"), std::string::npos);
  EXPECT_TRUE(trace.Contains("alias = 0x3\n"));
  size_t sent = 0;
  const std::string text = trace.Text();
  for (size_t at = text.find("Sending SNMP Trap to host "); at != std::string::npos;
       at = text.find("Sending SNMP Trap to host ", at + 1)) {
    ++sent;
  }
  EXPECT_EQ(sent, 4u);  // one per trap: the unlisted slot is skipped
}

// ---- the shutdown decision ------------------------------------------------------------------

TEST_F(ActionTest, ShutdownIsRequiredAfterTheStartDelayOrAtOnceOnLowBattery) {
  scp.config.SetShutdownStartDelay(5);
  int64_t delay = -1;
  EXPECT_EQ(engine.IsShutdownRequired(&delay), 0);
  EXPECT_EQ(delay, 0);
  Set(ALARM_LOW_BATTERY);  // low battery while on mains is no reason
  EXPECT_EQ(engine.IsShutdownRequired(), 0);
  Clear(ALARM_LOW_BATTERY);

  Set(ALARM_ON_BATTERY);
  clock->AdvanceSeconds(299);
  EXPECT_EQ(engine.IsShutdownRequired(&delay), 0);
  EXPECT_EQ(delay, 300);
  EXPECT_EQ(engine.ShutdownCountdownText(ALARM_ON_BATTERY), "Tremona: System shutdown in 1 seconds.");
  clock->AdvanceSeconds(1);
  EXPECT_EQ(engine.IsShutdownRequired(), 1);
  EXPECT_EQ(engine.ShutdownCountdownText(ALARM_ON_BATTERY), "Tremona: System shutdown NOW!");
  Set(ALARM_LOW_BATTERY);
  EXPECT_EQ(engine.IsShutdownRequired(), 2);
  Clear(ALARM_ON_BATTERY);
  EXPECT_EQ(engine.IsShutdownRequired(), 0);
}

TEST_F(ActionTest, CountdownTexts) {
  scp.config.SetShutdownStartDelay(3);
  EXPECT_EQ(engine.ShutdownCountdownText(ALARM_ON_BATTERY), "");  // not on battery
  Set(ALARM_ON_BATTERY);
  EXPECT_EQ(engine.ShutdownCountdownText(ALARM_LOW_BATTERY), "");
  EXPECT_EQ(engine.ShutdownCountdownText(ALARM_ON_BATTERY), "Tremona: System shutdown in 3 minutes and 0 seconds.");
  clock->AdvanceSeconds(65);
  EXPECT_EQ(engine.ShutdownCountdownText(ALARM_ON_BATTERY), "Tremona: System shutdown in 1 minute and 55 seconds.");
  clock->AdvanceSeconds(60);
  EXPECT_EQ(engine.ShutdownCountdownText(ALARM_ON_BATTERY), "Tremona: System shutdown in 55 seconds.");
}

// ---- the shutdown sequence ------------------------------------------------------------------

class ShutdownTest : public ActionTest {
 protected:
  ShutdownTest() {
    scp.config.SetPreShutdownCommand("/opt/site/pre-shutdown --now");
    scp.config.SetRunFileSaver();
    services.State(THREAD_SERIAL).store(kThreadRunning);
  }
  // The UPS-side worker takes the UPS command after `pauses` waits of one second.
  void WorkerTakesCommandAfter(int pauses) {
    services.onPause = [this, pauses](int ms) {
      if (ms == 1000 && ++seconds_waited >= pauses) scp.serial_queue.Delete(BLOCK_COMMAND, 4);
    };
  }
  int seconds_waited = 0;
};

TEST_F(ShutdownTest, ProlongedOutageRunsEveryStepInOrder) {
  scp.serial_queue.Post(BLOCK_METERS, 1, 0, 0);  // dropped: nothing queued before goes out
  Configure(EVENT_SHUTDOWN_POWER_FAILURE, ACTION_USER_WARNING, 0, 0, "shutting down");
  WorkerTakesCommandAfter(2);
  TraceCapture trace;
  EXPECT_EQ(engine.ShutdownSequence(SHUTDOWN_PROLONGED_OUTAGE), 1);
  const std::vector<std::string> expected = {
      "broadcast:shutting down", "pause:3000", "runwait:/opt/site/pre-shutdown --now", "saver",
      "pause:1000", "pause:1000", "stop:0", "shutdown",
  };
  EXPECT_EQ(services.Calls(), expected);
  EXPECT_TRUE(trace.Contains("Added SCP_COMMAND 4 to serial_queue\n"));
  EXPECT_TRUE(trace.Contains("27.4 is still on the queue\n"));
  EXPECT_TRUE(trace.Contains("waiting on UPS off command\n"));
  EXPECT_FALSE(trace.Contains("3.0 is still on the queue"));
  ASSERT_EQ(scp.eventLog.GetRecordCount(), 1);
  EXPECT_EQ(scp.eventLog.Records()[0].data, std::vector<uint8_t>{EVENT_SHUTDOWN_POWER_FAILURE});
  EXPECT_TRUE(Alarm(ALARM_SHUTDOWN_PROLONGED_OUTAGE));  // stays for the consoles
  EXPECT_TRUE(Alarm(ALARM_LOST_DAEMON_COMM));
  EXPECT_EQ(scp.serial_queue.GetCount(), 0);

  // It runs once: a second request (the same monitor pass) does nothing.
  services.Clear();
  EXPECT_EQ(engine.ShutdownSequence(SHUTDOWN_LOW_BATTERY), -1);
  EXPECT_TRUE(services.Calls().empty());
}

TEST_F(ShutdownTest, LowBatteryRunsTheCommandOnlyWhenConfiguredAndTurnsTheUpsOffOnlyWhenConfigured) {
  scp.config.ClearTurnOffUps();
  engine.ShutdownSequence(SHUTDOWN_LOW_BATTERY);
  EXPECT_EQ(services.Count("runwait:"), 0u);
  EXPECT_EQ(services.Count("pause:1000"), 0u);
  EXPECT_EQ(scp.serial_queue.Find(BLOCK_COMMAND, 4), -1);
  EXPECT_EQ(scp.eventLog.Records()[0].data, std::vector<uint8_t>{EVENT_SHUTDOWN_LOW_BATTERY});
  EXPECT_TRUE(Alarm(ALARM_LOW_BATTERY_SHUTDOWN));

  KT_Action second(scp, services);
  services.Clear();
  scp.config.SetCommandOnLowBattery(1);
  scp.config.SetTurnOffUps();
  WorkerTakesCommandAfter(1);
  second.ShutdownSequence(SHUTDOWN_LOW_BATTERY);
  const std::vector<std::string> expected = {"pause:3000", "runwait:/opt/site/pre-shutdown --now", "saver",
                                             "pause:1000", "stop:0", "shutdown"};
  EXPECT_EQ(services.Calls(), expected);
}

// A scheduled shutdown has the UPS turn off and on again; a reboot (reason 3) sends the UPS
// nothing and ends with the reboot command; reason 4 leaves the UPS on.
TEST_F(ShutdownTest, ScheduledShutdownRestartsTheUpsARebootRunsTheRebootCommand) {
  for (int reason : {SHUTDOWN_SCHEDULED, SHUTDOWN_REMOTE, SHUTDOWN_WITHOUT_UPS_OFF}) {
    KT_Action engine2(scp, services);
    services.State(THREAD_SERIAL).store(255);  // nothing takes the command: no wait
    scp.serial_queue.Clear();
    services.Clear();
    TraceCapture trace;
    engine2.ShutdownSequence(reason);
    if (reason != SHUTDOWN_SCHEDULED) {
      EXPECT_EQ(scp.serial_queue.GetCount(), 0);
      EXPECT_FALSE(trace.Contains("Added SCP_COMMAND"));
    } else {
      EXPECT_NE(scp.serial_queue.Find(BLOCK_COMMAND, 2), -1) << reason;
      EXPECT_TRUE(trace.Contains("Added SCP_COMMAND 2 to serial_queue\n"));
    }
    EXPECT_EQ(services.Calls().back(), reason == SHUTDOWN_REMOTE ? "reboot" : "shutdown");
    EXPECT_EQ(services.Count("reboot") + services.Count("shutdown"), 1u);
    EXPECT_EQ(scp.eventLog.Records().back().data[0], reason == SHUTDOWN_SCHEDULED ? EVENT_SCHEDULED_SHUTDOWN
                                                                                   : EVENT_REMOTE_SHUTDOWN);
  }
  EXPECT_TRUE(Alarm(ALARM_SCHEDULED_SHUTDOWN));
  EXPECT_TRUE(Alarm(ALARM_REMOTE_SHUTDOWN));
  EXPECT_EQ(engine.ShutdownSequence(7), -1);
}

TEST_F(ShutdownTest, NeverWaitsForeverForTheUpsCommand) {
  // Communication with the UPS lost: no wait at all.
  Set(ALARM_LOST_UPS_COMM);
  TraceCapture trace;
  engine.ShutdownSequence(SHUTDOWN_PROLONGED_OUTAGE);
  EXPECT_EQ(services.Count("pause:1000"), 0u);
  EXPECT_TRUE(trace.Contains("Communication with the UPS is lost"));
  EXPECT_EQ(services.Calls().back(), "shutdown");
  Clear(ALARM_LOST_UPS_COMM);

  // A mode in which nothing drains serial_queue: no wait.
  for (int mode : {COMM_IDLE, COMM_NETWORK_SLAVE, COMM_DEMO}) {
    services.Clear();
    scp.config.SetCommMode(mode);
    KT_Action other(scp, services);
    other.ShutdownSequence(SHUTDOWN_PROLONGED_OUTAGE);
    EXPECT_EQ(services.Count("pause:1000"), 0u) << mode;
    EXPECT_EQ(services.Count("shutdown"), 1u);
  }
  // An adapter mode whose thread is not running: no wait either.
  services.Clear();
  scp.config.SetCommMode(COMM_SNMP_ADAPTER);
  KT_Action snmp(scp, services);
  snmp.ShutdownSequence(SHUTDOWN_PROLONGED_OUTAGE);
  EXPECT_EQ(services.Count("pause:1000"), 0u);

  // A worker that never takes it, and requests that stay queued for good: a bounded wait.
  services.Clear();
  scp.config.SetCommMode(COMM_SERIAL_NORMAL);
  services.onPause = [this](int) { scp.serial_queue.Post(BLOCK_STATUS, 1, 0, 0); };
  KT_Action stuck(scp, services);
  trace.Clear();
  stuck.ShutdownSequence(SHUTDOWN_PROLONGED_OUTAGE);
  EXPECT_EQ(services.Count("pause:1000"), static_cast<size_t>(kUpsCommandWaitSeconds));
  EXPECT_TRUE(trace.Contains("still on the queue after 60 seconds: the shutdown goes on"));
  EXPECT_EQ(services.Calls().back(), "shutdown");

  // Once the command is gone, requests others queued meanwhile do not hold the shutdown up.
  services.Clear();
  seconds_waited = 0;
  services.onPause = [this](int ms) {
    scp.serial_queue.Post(BLOCK_METERS, 1, 0, 0);
    if (ms == 1000) scp.serial_queue.Delete(BLOCK_COMMAND, 4);
  };
  KT_Action busy(scp, services);
  busy.ShutdownSequence(SHUTDOWN_PROLONGED_OUTAGE);
  EXPECT_EQ(services.Count("pause:1000"), 1u);
}

// Between the moment a shutdown is due and the shutdown nothing waits: notices and traps to
// hosts whose names the name server does not answer for are sent by the engine's worker once
// it does, and sounds are started, not waited for. Before that a sound is waited for.
TEST_F(ShutdownTest, NothingOfTheShutdownEventsHoldsTheShutdown) {
  platform::ForgetLookups();
  testing_support::HeldResolver resolver("ups-console.test");
  testing_support::TrapReceiver traps;
  ASSERT_TRUE(traps.Start()) << traps.error();
  KT_UDP notices;
  notices.SetBindAddress("127.0.0.1");
  ASSERT_EQ(notices.Open(0), 0);
  engine.SetRemoteHostPort(ntohs(notices.GetPort()));
  scp.SetFlag(SCP_FLAG_SNMP);
  ASSERT_EQ(scp.notify.TrapReceivers().Add("ups-console.test:" + std::to_string(traps.port()), "public"), 0);
  scp.config.SetShutdownStartDelay(5);
  for (int event : {EVENT_ON_BATTERY, EVENT_LOW_BATTERY, EVENT_SHUTDOWN_LOW_BATTERY}) {
    Configure(event, ACTION_AUDIO, 0, 0, ("sound" + std::to_string(event)).c_str());
    Configure(event, ACTION_SNMP_TRAP, 0, 0, nullptr, 0x01);
    KT_ActionEntry notice(static_cast<uint8_t>(event), ACTION_REMOTE_HOST);
    notice.SetMessage(("event " + std::to_string(event)).c_str());
    notice.SetRemoteHost("ups-console.test");
    ASSERT_EQ(scp.notify.AddAction(notice), 0);
  }
  WorkerTakesCommandAfter(1);
  const auto start = std::chrono::steady_clock::now();
  Set(ALARM_ON_BATTERY);
  engine.TakeAction();
  Set(ALARM_LOW_BATTERY);
  engine.TakeAction();
  ASSERT_EQ(engine.ShutdownSequence(SHUTDOWN_LOW_BATTERY), 1);
  // Done while the name still has no answer (the resolver holds it up to 30 s).
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 20.0);
  EXPECT_EQ(services.Calls("sound"), (std::vector<std::string>{"sound:sound3", "sound-started:sound5",
                                                                "sound-started:sound24"}));
  EXPECT_EQ(services.Calls().back(), "shutdown");

  // The name server answers: every notice and trap goes out, in order.
  resolver.Release();
  ASSERT_TRUE(engine.WaitForSends(20000));
  EXPECT_EQ(resolver.Calls(), 1);  // one lookup, its answer kept for the sends after it
  // Traps of on battery and low battery (the UPS MIB has no alarm of the shutdown's own).
  const auto received = traps.WaitForTraps(2, 10000);
  ASSERT_EQ(received.size(), 2u) << traps.Log();
  EXPECT_EQ(received[0].specificType, UPS_TRAP_ON_BATTERY);
  EXPECT_EQ(received[1].specificType, UPS_TRAP_ALARM_ENTRY_ADDED);
  std::vector<std::string> texts;
  while (notices.WaitForData(1) == 1) {
    KT_Address from;
    std::vector<uint8_t> frame;
    KT_ScpMessage message;
    ASSERT_EQ(notices.ReceiveData(&from, frame), 1);
    ASSERT_EQ(DecodeScpFrame(frame.data(), frame.size(), message), 0);
    texts.emplace_back(message.data.begin() + 1, message.data.end() - 1);
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"event 3", "event 5", "event 24"}));
  platform::ForgetLookups();
}

// The engine's network worker ends at once when the agent stops, lookup or not; what it had
// queued is dropped.
TEST_F(ActionTest, AStopDoesNotWaitForTheNameServer) {
  platform::ForgetLookups();
  testing_support::HeldResolver resolver("ups-console.test");
  KT_ActionEntry notice(EVENT_ON_BATTERY, ACTION_REMOTE_HOST);
  notice.SetMessage("on battery");
  notice.SetRemoteHost("ups-console.test");
  ASSERT_EQ(scp.notify.AddAction(notice), 0);
  TraceCapture trace;
  const auto start = std::chrono::steady_clock::now();
  {
    KT_Action stopping(scp, services);
    Set(ALARM_ON_BATTERY);
    stopping.TakeAction();
    Clear(ALARM_ON_BATTERY);
    stopping.TakeAction();
    Set(ALARM_ON_BATTERY);
    stopping.TakeAction();  // a second notice waits behind the first one's lookup
  }
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 10.0);
  EXPECT_TRUE(trace.Contains("send(s) dropped at the stop")) << trace.Text();
  EXPECT_FALSE(trace.Contains("did not stop in time"));
  platform::ForgetLookups();
}

TEST_F(ShutdownTest, ACommandOrSaverThatOverrunsDoesNotStopTheShutdown) {
  services.runAndWaitResult = 0;  // still running after its bound
  services.saverResult = -1;
  WorkerTakesCommandAfter(1);
  TraceCapture trace;
  EXPECT_EQ(engine.ShutdownSequence(SHUTDOWN_PROLONGED_OUTAGE), 1);
  EXPECT_TRUE(trace.Contains("The pre-shutdown command is still running: the shutdown goes on"));
  EXPECT_TRUE(trace.Contains("The file saver failed or is still running: the shutdown goes on"));
  EXPECT_EQ(services.Count("shutdown"), 1u);
  // The result is the system shutdown's.
  KT_Action other(scp, services);
  services.shutdownResult = -1;
  EXPECT_EQ(other.ShutdownSequence(SHUTDOWN_WITHOUT_UPS_OFF), -1);
}

}  // namespace
