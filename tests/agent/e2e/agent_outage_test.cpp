// A whole power outage with the real VigilNT against the simulated Smart-UPS: the configured
// actions run with their delays and repeats (a message box, a sound, a mail to a real SMTP
// server, a trap to the real snmptrapd, a page through the simulated modem, a command), low
// battery brings the shutdown sequence (the pre-shutdown command before the UPS-off command,
// the file saver, the record files, the shutdown command exactly once), and a mains return
// before low battery cancels everything. The shutdown, saver, sound and command programs are
// stand-in scripts that only log their arguments; in one run the real file saver replays a
// macro into a test application on a virtual X server before the shutdown stand-in runs.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <thread>

#include "agent/engine/daemon.h"
#include "agent/engine/os_services.h"
#include "core/scp/record_reader.h"
#include "core/scp/scp.h"
#include "platform/record_file.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/support/simulated_ups.h"
#include "tests/support/smtp_test_server.h"
#include "tests/support/snmp_peer.h"
#ifdef VIGIL_WITH_FILE_SAVER
#include "tests/filesaver/support/test_pad.h"
#include "tests/support/xvfb_server.h"
#endif

namespace {

using testing_support::InDirectory;
using testing_support::SimulatedUps;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

// The stand-ins of the consoles' commands (the pre-shutdown command, the command action) log
// into the agent's own folder, so they run as the agent, whoever that is (the account that
// runs them for a root agent by default is tried in tests/agent/servers/e2e).
constexpr const char* kConsoleCommandsAsTheAgent = "command_user = root\n";

// Writes the agent's record files from blocks, in the agent's own format.
class FileWriter : public KT_OSServices {
 public:
  explicit FileWriter(KT_SCP& scp) : KT_OSServices(scp) {}
};

class AgentOutageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ups.ok()) << ups.error();
    ASSERT_TRUE(pager.ok()) << pager.error();
    ASSERT_TRUE(smtp.Running());
    ASSERT_TRUE(traps.Start()) << traps.error();
    for (const char* name : {"shutdown", "saver", "sound", "command"}) StandIn(name, "");
    std::filesystem::create_directory(agent.File("guard"));
    for (const char* name : {"shutdown", "poweroff", "reboot", "halt"}) {
      const std::string path = agent.File(std::string("guard/") + name);
      testing_support::WriteFileText(path, "#!/bin/sh\necho \"SYSTEM SHUTDOWN PROGRAM $0 $*\" >>\"" +
                                               agent.File("effects.log") + "\"\n");
      ::chmod(path.c_str(), 0755);
    }
    StandIn("pre-shutdown", "sleep 2\necho \"pre-shutdown done\" >>\"$LOG\"\n");
    testing_support::WriteFileText(
        agent.File("VigilNT.conf"),
        "snmp_service =\nuser_terminals = no\n"
        "shutdown_command = " + Script("shutdown") + " -h now\n"
        "reboot_command = " + Script("shutdown") + " -r now\n"
        "saver_command = " + Script("saver") + "\n"
        "sound_player = " + Script("sound") + "\n" + kConsoleCommandsAsTheAgent);
    testing_support::WriteFileText(agent.File("mail.conf"), smtp.SettingsText());
    ASSERT_TRUE(agent.InstallShippedMib());
    WriteRecordFiles();
  }

  std::string Script(const std::string& name) { return agent.File(name + ".sh"); }
  // A script that logs its name and arguments (then runs `more`).
  void StandIn(const std::string& name, const std::string& more) {
    const std::string path = Script(name);
    testing_support::WriteFileText(path, "#!/bin/sh\nLOG=\"" + agent.File("effects.log") + "\"\necho \"" + name +
                                             " $*\" >>\"$LOG\"\n" + more);
    ::chmod(path.c_str(), 0755);
  }
  std::string Effects() { return testing_support::ReadFileText(agent.File("effects.log")); }

  void Action(int event, int action, int delay, int interval, const std::string& text, uint8_t alias = 255) {
    KT_ActionEntry e(static_cast<uint8_t>(event), static_cast<uint8_t>(action));
    e.delay = static_cast<uint16_t>(delay);
    e.interval = static_cast<uint16_t>(interval);
    if (action == ACTION_PAGE) {
      e.retries = 2;  // a loaded machine may keep the modem from answering in time once
      e.option = 2;   // seconds between tries
    }
    if (!text.empty()) e.SetMessage(text.c_str());
    e.alias = alias;
    scp.notify.AddAction(e);
  }

  void WriteRecordFiles() {
    ConfigBlock& c = scp.config;
    c.SetSerialDeviceName(ups.device().c_str());
    c.SetBaudRate(3);
    c.SetCommMode(COMM_SERIAL_NORMAL);
    c.SetOsShutdownTime(20);
    c.SetTotalBatteryTime(60);
    c.SetShutdownStartDelay(30);  // the outage alone does not bring the shutdown in these tests
    c.SetPreShutdownCommand((Script("pre-shutdown") + " low-battery").c_str());
    c.SetCommandOnLowBattery(1);
    c.SetTurnOffUps();
    c.SetRunFileSaver();

    NotifyBlock& n = scp.notify;
    n.SetDefaultSupport(SUPPORT_EVENTS);
    n.SetDefaultSupport(SUPPORT_ACTIONS);
    n.MailRecipients().Add("ops", "ops@example.test");
    n.TrapReceivers().Add(traps.peerName(), "public");
    KT_PagerConfig r;
    r.SetName("ops");
    r.SetAccessNumber("555-0100");
    r.SetPin("123456");
    r.SetMaxCharacters("80");
    r.SetDelaySeconds("4");
    r.SetDialString("ATDT");
    r.SetInitString("ATZ");
    r.SetTermination("#");
    r.SetTap(1);
    r.SetPortName(pager.device().c_str());
    n.PagerRecipients().Add(r);

    Action(EVENT_ON_BATTERY, ACTION_CONSOLE_WARNING, 0, 0, "Power Failure.");
    Action(EVENT_ON_BATTERY, ACTION_AUDIO, 0, 4, "alarm.wav");
    Action(EVENT_ON_BATTERY, ACTION_MAIL, 0, 0, "The UPS runs on battery.", 0x01);
    Action(EVENT_ON_BATTERY, ACTION_PAGE, 0, 0, "UPS on battery", 0x01);
    Action(EVENT_ON_BATTERY, ACTION_SNMP_TRAP, 0, 0, "", 0x01);
    Action(EVENT_ON_BATTERY, ACTION_COMMAND, 20, 0, Script("command") + " on-battery");
    Action(EVENT_ON_BATTERY, ACTION_EVENT_LOG, 0, 0, "", 0x01);
    Action(EVENT_POWER_RESTORED, ACTION_CONSOLE_WARNING, 0, 0, "Power Restored.");
    Action(EVENT_POWER_RESTORED, ACTION_EVENT_LOG, 0, 0, "", 0x01);
    Action(EVENT_LOW_BATTERY, ACTION_CONSOLE_WARNING, 0, 0, "Low Battery.");
    Action(EVENT_SHUTDOWN_LOW_BATTERY, ACTION_COMMAND, 0, 0, Script("command") + " low-battery-shutdown");

    InDirectory in(agent.Dir());
    FileWriter files(scp);
    ASSERT_EQ(files.WriteConfigFile(), 1);
    ASSERT_EQ(files.WriteNotifyFile(), 1);
  }

  // Starts the agent on the simulator's port and waits until it polls the UPS.
  void StartAgent() {
    ASSERT_TRUE(agent.Start({"-b"}, {guardPath}));  // the port and its speed come from config.dat
    ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(agent.Stderr(), "Inside SERIAL thread"); }, 60000))
        << agent.Stderr();
    ASSERT_TRUE(ups.WaitForLog("REQ Q", 0, 30000));
  }
  // Fails the mains; the seconds until the first action (the message box) showed.
  double FailMains() {
    const auto failed = std::chrono::steady_clock::now();
    EXPECT_TRUE(ups.Do("mains fail"));
    EXPECT_TRUE(AgentProcess::WaitFor([&] { return Contains(agent.Stdout(), "Power Failure."); }, 30000))
        << agent.Stderr();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - failed).count();
  }
  // Waits until the monitor loop has made `passes` more passes.
  bool WaitPasses(size_t passes) {
    const size_t from = Count(agent.Stderr(), "main_thread:  while looped");
    return AgentProcess::WaitFor([&] { return Count(agent.Stderr(), "main_thread:  while looped") >= from + passes; },
                                 30000);
  }

  // The event numbers of the agent's event log, oldest first.
  std::vector<int> LoggedEvents() {
    const std::vector<uint8_t> log = testing_support::ReadFileBytes(agent.File(kEventLogFileName));
    EventLogBlock events;
    KT_RecordReader reader(log.data(), log.size());
    EXPECT_GE(events.ConvertBlock(CONVERT_DECODE, nullptr, &reader), 0);
    std::vector<int> numbers;
    for (const LogRecord& r : events.Records()) numbers.push_back(r.data.empty() ? 0 : r.data[0]);
    return numbers;
  }

  SimulatedUps ups{"apc"};
  SimulatedUps pager{"pager"};
  testing_support::SmtpTestServer smtp;
  testing_support::TrapReceiver traps;
  AgentProcess agent;
  const std::string guardPath = "PATH=" + agent.File("guard") + ":/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";
  KT_SCP scp;
  void TearDown() override {
    // The system's own shutdown program is never reached: a stand-in of that name comes first
    // on the agent's search path and would say so.
    EXPECT_FALSE(Contains(Effects(), "SYSTEM SHUTDOWN PROGRAM")) << Effects();
    if (HasFailure()) {
      std::fprintf(stderr, "--- agent trace ---\n%s\n--- messages ---\n%s\n", agent.TraceDump(60, 6000).c_str(),
                   agent.Stdout().c_str());
    }
  }
};

TEST_F(AgentOutageTest, OutageRunsTheActionsAndLowBatteryShutsDownOnce) {
  StartAgent();
  const double firstAction = FailMains();
  RecordProperty("seconds_to_first_action", std::to_string(firstAction));
  std::printf("mains failure to first action: %.1f s\n", firstAction);

  // The on-battery message box carries the countdown to the shutdown, 30 minutes from the
  // failure (the box may come within its first second).
  EXPECT_TRUE(Contains(agent.Stdout(), "Tremona Agent Message: Power Failure.")) << agent.Stdout();
  EXPECT_TRUE(std::regex_search(agent.Stdout(), std::regex("Tremona: System shutdown in (29 minutes and [0-9]+|30 "
                                                           "minutes and 0) seconds\\.")))
      << agent.Stdout();

  // The mail reached the SMTP server.
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return !smtp.Messages().empty(); }, 30000)) << agent.Stderr();
  const testing_support::ReceivedMail mail = smtp.Messages()[0];
  EXPECT_EQ(mail.to, std::vector<std::string>{"ops@example.test"});
  EXPECT_EQ(mail.Header("Subject"), "Tremona Mail System");
  EXPECT_TRUE(Contains(mail.Body(), "The UPS runs on battery."));

  // The on-battery trap reached snmptrapd.
  const auto received = traps.WaitForTraps(1, 30000);
  ASSERT_EQ(received.size(), 1u) << traps.Log();
  EXPECT_EQ(received[0].enterprise, ".1.3.6.1.2.1.33.2");
  EXPECT_EQ(received[0].specificType, 1);
  EXPECT_EQ(received[0].community, "public");

  // The page reached the paging terminal behind the simulated modem.
  ASSERT_TRUE(pager.WaitForLog("PAGE TAP 123456 UPS\\x20on\\x20battery", 0, 60000)) << agent.Stderr();

  // The command ran after its delay; the sound repeats every 4 s.
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(Effects(), "command on-battery"); }, 60000));
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Count(Effects(), "sound alarm.wav") >= 3; }, 30000)) << Effects();
  EXPECT_EQ(Count(Effects(), "command on-battery"), 1u);
  EXPECT_EQ(Count(agent.Stdout(), "Power Failure."), 1u);

  // Low battery: the shutdown sequence.
  const size_t upsFrom = ups.LogCount();
  ASSERT_TRUE(ups.Do("battery low"));
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(Effects(), "pre-shutdown low-battery"); }, 60000))
      << agent.Stderr();
  // The pre-shutdown command runs before the UPS is told to turn off ...
  for (const auto& e : ups.Entries("ACTION", upsFrom)) EXPECT_FALSE(Contains(e, "output off")) << e;
  // ... which it is afterwards; then the agent stops and the computer "shuts down".
  ASSERT_TRUE(ups.WaitForLog("ACTION shutdown: output off in", upsFrom, 60000)) << agent.Stderr();
  EXPECT_EQ(agent.Wait(90000), 0) << agent.Stderr();

  const std::vector<std::string> effects = Lines(Effects());
  auto at = [&](const std::string& line) {
    return std::find(effects.begin(), effects.end(), line) - effects.begin();
  };
  const auto end = static_cast<std::ptrdiff_t>(effects.size());
  ASSERT_LT(at("command low-battery-shutdown"), end) << Effects();
  ASSERT_LT(at("pre-shutdown low-battery"), end);
  ASSERT_LT(at("pre-shutdown done"), end);
  ASSERT_LT(at("saver "), end);
  ASSERT_LT(at("shutdown -h now"), end);
  EXPECT_LT(at("command low-battery-shutdown"), at("pre-shutdown low-battery"));
  EXPECT_LT(at("pre-shutdown done"), at("saver "));
  EXPECT_LT(at("saver "), at("shutdown -h now"));
  EXPECT_EQ(Count(Effects(), "shutdown -"), 1u);
  EXPECT_TRUE(Contains(agent.Stdout(), "Tremona Agent Message: Low Battery."));

  const std::string trace = agent.Stderr();
  EXPECT_TRUE(Contains(trace, "IsShutdownRequired() returned 2"));
  EXPECT_TRUE(Contains(trace, "Added SCP_COMMAND 4 to serial_queue"));
  EXPECT_TRUE(Contains(trace, "Tremona daemon is exiting normally"));

  // The record files were written on the way down; the event log holds the outage and the
  // low-battery shutdown.
  for (const char* name : {kConfigFileName, kEventLogFileName, kNotifyFileName, kBatteryInfoFileName}) {
    EXPECT_TRUE(platform::RecordFile::Exists(agent.File(name))) << name;
  }
  const std::vector<int> numbers = LoggedEvents();
  EXPECT_NE(std::find(numbers.begin(), numbers.end(), EVENT_ON_BATTERY), numbers.end());
  EXPECT_NE(std::find(numbers.begin(), numbers.end(), EVENT_SHUTDOWN_LOW_BATTERY), numbers.end());
}

TEST_F(AgentOutageTest, MainsReturnBeforeLowBatteryCancelsCleanly) {
  StartAgent();
  FailMains();
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(Effects(), "sound alarm.wav"); }, 30000));
  ASSERT_TRUE(ups.Do("mains ok"));
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(agent.Stdout(), "Power Restored."); }, 30000))
      << agent.Stderr();
  const size_t sounds = Count(Effects(), "sound alarm.wav");
  // Several passes later, past the command's delay and the sound's interval: nothing more of
  // the outage runs, and nothing shuts down.
  ASSERT_TRUE(WaitPasses(10));
  EXPECT_EQ(Count(Effects(), "sound alarm.wav"), sounds);
  EXPECT_FALSE(Contains(Effects(), "command on-battery"));
  EXPECT_EQ(Count(agent.Stdout(), "Power Failure."), 1u);
  EXPECT_EQ(Count(agent.Stdout(), "Power Restored."), 1u);
  EXPECT_FALSE(Contains(Effects(), "shutdown"));
  EXPECT_FALSE(Contains(Effects(), "pre-shutdown"));
  EXPECT_FALSE(Contains(agent.Stderr(), "ShutdownSequence"));

  // The mains flaps: back for 1.2 s and failing again, often before the next monitor pass.
  // Every on-battery record and message box has its power-restored.
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(ups.Do("mains fail"));
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    ASSERT_TRUE(ups.Do("mains ok"));
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  }
  ASSERT_TRUE(WaitPasses(3));
  std::string told;
  for (int event : LoggedEvents()) {
    if (event == EVENT_ON_BATTERY || event == EVENT_POWER_RESTORED) told += event == EVENT_ON_BATTERY ? 'F' : 'R';
  }
  std::printf("event log of the outages (F on battery, R restored): %s\n", told.c_str());
  EXPECT_TRUE(std::regex_match(told, std::regex("(FR){3,}"))) << told;
  EXPECT_EQ(Count(agent.Stdout(), "Power Failure."), told.size() / 2);
  EXPECT_EQ(Count(agent.Stdout(), "Power Restored."), told.size() / 2);
  EXPECT_FALSE(Contains(Effects(), "shutdown"));

  // A console's reboot: the reboot command, and no power cycle of the UPS after it.
  const size_t upsFrom = ups.LogCount();
  EXPECT_EQ(agent.EndWithLocalCommand(COMMAND_RESTART, 60000), 0) << agent.Stderr();
  EXPECT_EQ(Count(Effects(), "shutdown -r now"), 1u) << Effects();
  EXPECT_FALSE(Contains(Effects(), "shutdown -h now"));
  for (const auto& e : ups.Entries("ACTION", upsFrom)) EXPECT_FALSE(Contains(e, "output off")) << e;
}

#ifdef VIGIL_WITH_FILE_SAVER
// The low-battery shutdown with the real file saver as the saver command: it replays the macro
// of a console's folder into the running test application, which saves its text, and the
// shutdown stand-in then finds the saved file.
TEST_F(AgentOutageTest, LowBatteryShutdownRunsTheFileSaverBeforeTheShutdown) {
  testing_support::XvfbServer x;
  VIGIL_SKIP_WITHOUT_XVFB(x);
  const std::string console = agent.File("console");
  std::filesystem::create_directory(console);
  ASSERT_TRUE(filesaver_testing::WriteTestPadMacro(console, "NULL", "TMP"));
  filesaver_testing::TestPad pad = filesaver_testing::StartTestPad(x.display(), console);
  ASSERT_TRUE(pad.ok()) << pad.error;
  const std::string saved = console + "/FILES/NULL0000.TMP";
  StandIn("shutdown", "[ -f \"" + saved + "\" ] && echo \"saved before the shutdown: $(cat \"" + saved +
                          "\")\" >>\"$LOG\"\n");
  testing_support::WriteFileText(
      agent.File("VigilNT.conf"),
      "snmp_service =\nuser_terminals = no\n"
      "shutdown_command = " + Script("shutdown") + " -h now\n"
      "reboot_command = " + Script("shutdown") + " -r now\n"
      "saver_command = " + filesaver_testing::SaverProgram() + " -d " + console + " -D " + x.display() + "\n"
      "sound_player = " + Script("sound") + "\n" + kConsoleCommandsAsTheAgent);

  StartAgent();
  FailMains();
  ASSERT_TRUE(ups.Do("battery low"));
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(Effects(), "shutdown -h now"); }, 240000))
      << agent.Stderr();
  EXPECT_EQ(agent.Wait(90000), 0) << agent.Stderr();
  EXPECT_TRUE(Contains(Effects(), "saved before the shutdown: hello")) << Effects();
  EXPECT_TRUE(Contains(agent.Stderr(), "Running the file saver")) << agent.Stderr();
  EXPECT_FALSE(Contains(agent.Stderr(), "The file saver ended with"));
  EXPECT_EQ(Count(Effects(), "shutdown -"), 1u);
}
#endif

}  // namespace
