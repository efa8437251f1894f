// Settings the real VigilNT keeps across a crash and a restart, in a network of the test's own:
// a console's configuration change stays made after the agent is killed, trap receivers keep
// their slots, so that the on-battery trap reaches the receiver the action names, and renamed
// logs keep the records of every run, also through a run with a forced mode.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <iterator>
#include <ostream>

#include "agent/engine/daemon.h"
#include "agent/engine/os_services.h"
#include "core/scp/scp.h"
#include "tests/agent/servers/e2e/agent_network.h"
#include "tests/support/private_network.h"
#include "tests/support/simulated_ups.h"
#include "tests/support/snmp_peer.h"

// A log record in a failure message: its time and data bytes.
void PrintTo(const LogRecord& r, std::ostream* os) {
  *os << r.time << ":";
  for (uint8_t b : r.data) *os << " " << static_cast<int>(b);
}

namespace {

using testing_support::GetFrame;
using testing_support::InDirectory;
using testing_support::ScpConsole;

constexpr const char* kAgentIp = "127.0.0.1";

// The configuration block as the agent's config.dat holds it; false when it cannot be read.
bool ReadConfigFile(const AgentProcess& agent, KT_SCP& into) {
  InDirectory in(agent.Dir());
  KT_OSServices files(into);
  return files.ReadConfigFile() == 1;
}

// Prepares the agent's data directory for a run on the simulated UPS, with every event in
// the event log; false when the files cannot be written.
bool WatchTheSimulatedUps(const AgentProcess& agent, const testing_support::SimulatedUps& ups) {
  KT_SCP image;
  image.config.SetSerialDeviceName(ups.device().c_str());
  image.config.SetBaudRate(3);
  image.config.SetCommMode(COMM_SERIAL_NORMAL);
  image.notify.SetDefaultActions();
  InDirectory in(agent.Dir());
  KT_OSServices files(image);
  return files.WriteConfigFile() == 1 && files.WriteNotifyFile() == 1;
}

class AgentSettingsTest : public ConsoleNetworkTest {
 protected:
  // The agent's configuration block, asked over UDP until it answers with data (bounded).
  std::optional<KT_ScpMessage> GetConfig(uint8_t branch) {
    for (int attempt = 0; attempt < 20; ++attempt) {
      const auto m = Ask(*console_, kAgentIp, GetFrame({4, branch}));
      if (m && m->type == SCP_DATA) return m;  // else "Get Resend": ask again
    }
    return std::nullopt;
  }
};

TEST_F(AgentSettingsTest, AcknowledgedConfigurationChangeSurvivesAKill) {
  AgentProcess agent(AgentSettings(kAgentIp));
  ASSERT_TRUE(agent.Start({"-b"}));
  ASSERT_TRUE(WaitUntilServing(agent));

  // Shutdown delays and the password, as a console's dialog sends them.
  KT_SCP image;
  ASSERT_EQ(image.config.SetTotalBatteryTime(45), 1);
  ASSERT_EQ(image.config.SetShutdownStartDelay(17), 1);
  ASSERT_EQ(image.config.SetOsShutdownTime(90), 1);
  ASSERT_GE(image.config.Password().Set("Tulip9"), 0);
  for (uint8_t branch : {2, 8}) {
    const auto answer = Ask(*console_, kAgentIp, SetFrameOf(image, {4, branch}));
    ASSERT_TRUE(answer) << agent.Stderr();
    ASSERT_EQ(answer->data, std::vector<uint8_t>{SCP_SET_OK});
  }
  // The agent applies SETs once per monitor pass: then the change is on disk.
  ASSERT_TRUE(AgentProcess::WaitFor(
      [&] {
        KT_SCP onDisk;
        return ReadConfigFile(agent, onDisk) && onDisk.config.GetShutdownStartDelay() == 17 &&
               onDisk.config.Password().Get() == std::optional<std::string>("Tulip9");
      },
      20000))
      << "config.dat does not hold the acknowledged change";

  agent.Signal(SIGKILL);
  EXPECT_EQ(agent.Wait(30000), 128 + SIGKILL);
  const size_t served = Count(agent.Stderr(), "NETWORK THREAD IS ALIVE");  // the trace file goes on
  ASSERT_TRUE(agent.Start({"-b"}));
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Count(agent.Stderr(), "NETWORK THREAD IS ALIVE") > served; },
                                    30000));
  const auto delays = GetConfig(2);
  ASSERT_TRUE(delays) << agent.Stderr();
  KT_SCP seen;
  std::vector<uint8_t> none;
  ASSERT_GE(seen.config.ConvertMessage(none, *delays), 0);
  EXPECT_EQ(seen.config.GetShutdownStartDelay(), 17);
  EXPECT_EQ(seen.config.GetTotalBatteryTime(), 45);
  EXPECT_EQ(seen.config.GetOsShutdownTime(), 90);
  // The password is never sent back; the restarted agent's own block holds it.
  KT_SCP onDisk;
  ASSERT_TRUE(ReadConfigFile(agent, onDisk));
  EXPECT_EQ(onDisk.config.Password().Get(), std::optional<std::string>("Tulip9"));

  agent.Signal(SIGTERM);
  EXPECT_EQ(agent.Wait(60000), 0);
}

// One block with a record file, as a console changes it: the key of the SET, the change for
// round r on a console's image, and whether the restarted agent's answer to a GET of the same
// key shows that change.
struct KeptSetCase {
  const char* block;
  std::vector<uint8_t> key;
  std::function<void(KT_SCP&, int)> change;
  std::function<bool(KT_SCP&, int)> shows;
};

// The records of a log with that time and data byte.
bool HasRecord(const LogBlock& log, uint32_t time, uint8_t data) {
  for (const LogRecord& r : log.Records()) {
    if (r.time == time && r.data == std::vector<uint8_t>{data}) return true;
  }
  return false;
}

// "Set OK" means the change is on disk: the agent is killed the moment the answer arrives,
// started again on the same data directory, and a GET of the same key shows the change, for
// every block the agent keeps in a record file, several times over.
TEST_F(AgentSettingsTest, EveryAcknowledgedSetSurvivesAKillTheMomentItIsAnswered) {
  constexpr uint32_t kFuture = 2000000000;  // 2033: no schedule or test falls due during the run
  const KeptSetCase cases[] = {
      {"configuration",
       {4, 2},
       [](KT_SCP& i, int r) {
         i.config.SetTotalBatteryTime(40 + r);
         i.config.SetShutdownStartDelay(10 + r);
         i.config.SetOsShutdownTime(60 + r);
       },
       [](KT_SCP& s, int r) {
         return s.config.GetShutdownStartDelay() == 10 + r && s.config.GetOsShutdownTime() == 60 + r;
       }},
      {"notification",
       {5},
       [](KT_SCP& i, int r) {
         i.notify.SetDefaultSupport(SUPPORT_EVENTS);
         i.notify.SetDefaultSupport(SUPPORT_ACTIONS);
         KT_ActionEntry e(EVENT_ON_BATTERY, ACTION_SNMP_TRAP);
         e.delay = static_cast<uint16_t>(100 + r);
         i.notify.AddAction(e);
       },
       [](KT_SCP& s, int r) {
         KT_ActionEntry e;
         return s.notify.FindAction(EVENT_ON_BATTERY, ACTION_SNMP_TRAP, e) && e.delay == 100 + r;
       }},
      {"event log",
       {6, 1},
       [](KT_SCP& i, int r) {
         const uint8_t event = EVENT_ON_BATTERY;
         i.eventLog.AddRecord(1700000000u + r, 1, &event);
       },
       [](KT_SCP& s, int r) { return HasRecord(s.eventLog, 1700000000u + r, EVENT_ON_BATTERY); }},
      {"battery log",
       {7, 1},
       [](KT_SCP& i, int r) {
         const uint8_t passed = 2;
         i.batteryLog.AddRecord(1700000000u + r, 1, &passed);
       },
       [](KT_SCP& s, int r) { return HasRecord(s.batteryLog, 1700000000u + r, 2); }},
      {"scheduled shutdown",
       {24, 1},
       [&](KT_SCP& i, int r) {
         schedule_struct e;
         e.startTime = kFuture + r * 86400u;
         i.schedShutdown.SetEntries(1, &e);
       },
       [&](KT_SCP& s, int r) {
         return s.schedShutdown.GetCount() == 1 &&
                s.schedShutdown.GetEntry(0)->startTime == kFuture + r * 86400u;
       }},
      {"battery test",
       {25, 1},
       [&](KT_SCP& i, int r) {
         i.batteryTest.SetMode(BatteryTestBlock::kModeOff);
         i.batteryTest.SetNextTestTime(kFuture + r);
         i.batteryTest.SetIntervalDays(7);
       },
       [&](KT_SCP& s, int r) {
         return s.batteryTest.GetNextTestTime() == static_cast<uint32_t>(kFuture + r);
       }},
      {"battery information",
       {26, 1},
       [](KT_SCP& i, int r) {
         i.batteryInfo.SetOutageCount(100 + r);
         i.batteryInfo.SetReplacedDate(("2026-0" + std::to_string(r + 1)).c_str());
       },
       [](KT_SCP& s, int r) { return s.batteryInfo.GetOutageCount() == static_cast<uint32_t>(100 + r); }},
      {"load segments",
       {28, 1},
       [](KT_SCP& i, int r) {
         i.receptacles.SetCount(2);
         i.receptacles.SetDownDelay(1, static_cast<uint16_t>(30 + r));
       },
       [](KT_SCP& s, int r) {
         return s.receptacles.GetCount() == 2 && s.receptacles.GetDownDelay(1) == 30 + r;
       }},
  };
  constexpr int kRounds = 2;

  AgentProcess agent(AgentSettings(kAgentIp));
  ASSERT_TRUE(agent.Start({"-b"}));
  ASSERT_TRUE(WaitUntilServing(agent));
  int lost = 0;
  for (int round = 0; round < kRounds; ++round) {
    for (const KeptSetCase& c : cases) {
      SCOPED_TRACE(std::string(c.block) + ", round " + std::to_string(round));
      KT_SCP image;
      c.change(image, round);
      const auto answer = Ask(*console_, kAgentIp, SetFrameOf(image, c.key));
      // Killed the moment the answer is in.
      agent.Signal(SIGKILL);
      ASSERT_TRUE(answer) << agent.Stderr();
      ASSERT_EQ(answer->data, std::vector<uint8_t>{SCP_SET_OK});
      ASSERT_EQ(agent.Wait(30000), 128 + SIGKILL);

      const size_t served = Count(agent.Stderr(), "NETWORK THREAD IS ALIVE");
      ASSERT_TRUE(agent.Start({"-b"}));
      ASSERT_TRUE(AgentProcess::WaitFor(
          [&] { return Count(agent.Stderr(), "NETWORK THREAD IS ALIVE") > served; }, 30000));
      std::optional<KT_ScpMessage> data;
      for (int attempt = 0; attempt < 20 && !(data && data->type == SCP_DATA); ++attempt) {
        data = Ask(*console_, kAgentIp, GetFrame(c.key));  // "Get Resend": ask again
      }
      ASSERT_TRUE(data && data->type == SCP_DATA) << agent.Stderr();
      KT_SCP seen;
      std::vector<uint8_t> none;
      ASSERT_GE(seen.GetBlock(c.key[0])->ConvertMessage(none, *data), 0);
      if (!c.shows(seen, round)) ++lost;
      EXPECT_TRUE(c.shows(seen, round)) << "the restarted agent lost the acknowledged change";
    }
  }
  EXPECT_EQ(lost, 0) << "of " << kRounds * std::size(cases) << " acknowledged changes";
  agent.Signal(SIGTERM);
  EXPECT_EQ(agent.Wait(60000), 0);
}

// The lines of `text` that contain `needle`, each with its line end.
std::string LinesWith(const std::string& text, const std::string& needle) {
  std::string out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    if (line.find(needle) != std::string::npos) out += line + "\n";
    start = end + 1;
  }
  return out;
}

TEST_F(AgentSettingsTest, TrapReachesTheConfiguredReceiverAfterEveryRestart) {
  testing_support::SimulatedUps ups("apc");
  ASSERT_TRUE(ups.ok()) << ups.error();
  testing_support::TrapReceiver first;
  testing_support::TrapReceiver second;
  ASSERT_TRUE(first.Start()) << first.error();
  ASSERT_TRUE(second.Start()) << second.error();

  AgentProcess agent(AgentSettings(kAgentIp));
  ASSERT_TRUE(agent.InstallShippedMib());
  {
    KT_SCP image;
    ConfigBlock& c = image.config;
    c.SetSerialDeviceName(ups.device().c_str());
    c.SetBaudRate(3);
    c.SetCommMode(COMM_SERIAL_NORMAL);
    c.SetTotalBatteryTime(60);
    c.SetShutdownStartDelay(30);  // the outage alone never brings the shutdown here
    NotifyBlock& n = image.notify;
    n.SetDefaultSupport(SUPPORT_EVENTS);
    n.SetDefaultSupport(SUPPORT_ACTIONS);
    ASSERT_EQ(n.TrapReceivers().Add(first.peerName(), "public"), 0);    // slot 0
    ASSERT_EQ(n.TrapReceivers().Add(second.peerName(), "private"), 0);  // slot 1
    KT_ActionEntry trap(EVENT_ON_BATTERY, ACTION_SNMP_TRAP);
    trap.alias = 0x01;  // the receiver of slot 0
    ASSERT_EQ(n.AddAction(trap), 0);
    InDirectory in(agent.Dir());
    KT_OSServices files(image);
    ASSERT_EQ(files.WriteConfigFile(), 1);
    ASSERT_EQ(files.WriteNotifyFile(), 1);
  }

  // Each run reads notify.dat (the second the one the first wrote on its way out); every
  // outage sends one on-battery trap, to the first receiver only.
  for (size_t run = 1; run <= 2; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    const size_t ups_from = ups.LogCount();
    ASSERT_TRUE(agent.Start({"-b"}));
    ASSERT_TRUE(ups.WaitForLog("REQ Q", ups_from, 60000)) << agent.Stderr();
    ASSERT_TRUE(ups.Do("mains fail"));
    const auto traps = first.WaitForTraps(run, 30000);
    ASSERT_EQ(traps.size(), run) << "the agent's trap lines:\n"
                                 << LinesWith(agent.Stderr(), "SNMP Trap") << "the receiver's log:\n"
                                 << first.Log();
    EXPECT_EQ(traps.back().specificType, 1);
    EXPECT_EQ(traps.back().community, "public");
    ASSERT_TRUE(ups.Do("mains ok"));
    agent.Signal(SIGTERM);
    ASSERT_EQ(agent.Wait(60000), 0);
    // The agent has ended: whatever it sent, it sent to the first receiver alone.
    EXPECT_EQ(Count(agent.Stderr(), "Sending SNMP Trap to host " + first.peerName()), run);
    EXPECT_EQ(Count(agent.Stderr(), "Sending SNMP Trap to host " + second.peerName()), 0u);
    EXPECT_TRUE(second.Traps().empty()) << second.Log();
  }
}

// The records of a log, oldest first.
std::vector<LogRecord> RecordsOf(const LogBlock& log) { return {log.Records().begin(), log.Records().end()}; }

// True when `all` starts with `first`.
bool StartsWith(const std::vector<LogRecord>& all, const std::vector<LogRecord>& first) {
  return all.size() >= first.size() && std::equal(first.begin(), first.end(), all.begin());
}

size_t CountEvent(const std::vector<LogRecord>& records, uint8_t event) {
  return static_cast<size_t>(std::count_if(records.begin(), records.end(), [&](const LogRecord& r) {
    return r.data == std::vector<uint8_t>{event};
  }));
}

// A console renames the event log and the battery log; then every run of the agent adds to
// the renamed event log (the first an outage on the simulated UPS, the others a master's
// command with a wrong password), and the next run starts from all that the renamed files
// hold: one with a forced mode (-x 5) too, which also keeps the stored configuration for the
// plain runs after it.
TEST_F(AgentSettingsTest, RenamedLogsKeepEveryRunsRecordsAcrossRestartsAndAForcedMode) {
  constexpr const char* kEvents = "upsevents.log";
  constexpr const char* kBatteryLog = "upsbatt.log";
  const LogRecord kTestResult{1700000000u, {2}};
  testing_support::SimulatedUps ups("apc");
  ASSERT_TRUE(ups.ok()) << ups.error();
  AgentProcess agent(AgentSettings(kAgentIp));
  ASSERT_TRUE(WatchTheSimulatedUps(agent, ups));
  // What the agent answers a GET of a log with (bounded; "Get Resend" asks again).
  auto logOf = [&](uint8_t blockId) -> std::vector<LogRecord> {
    std::optional<KT_ScpMessage> data;
    for (int attempt = 0; attempt < 20 && !(data && data->type == SCP_DATA); ++attempt) {
      data = Ask(*console_, kAgentIp, GetFrame({blockId, 1}));
    }
    KT_SCP seen;
    std::vector<uint8_t> none;
    EXPECT_TRUE(data && data->type == SCP_DATA) << agent.TraceDump();
    if (!data || data->type != SCP_DATA || seen.GetBlock(blockId)->ConvertMessage(none, *data) < 0) return {};
    return RecordsOf(blockId == BLOCK_EVENT_LOG ? static_cast<LogBlock&>(seen.eventLog) : seen.batteryLog);
  };
  auto fileRecords = [&](const char* name) {
    EventLogBlock log;
    return ReadBlockFile(agent.File(name), log) ? RecordsOf(log) : std::vector<LogRecord>{};
  };
  auto waitForEvent = [&](std::function<std::vector<LogRecord>()> records, uint8_t event, size_t count) {
    return AgentProcess::WaitFor([&] { return CountEvent(records(), event) >= count; }, 30000);
  };

  // The serial run detects the UPS; the forced mode 5 goes to config.dat, so the runs after it
  // are idle (and quick).
  const std::vector<std::string> runs[] = {{"-b"}, {"-b", "-x", "5"}, {"-b"}, {"-b"}};
  std::vector<LogRecord> kept;  // the event log's records when the agent last stopped
  for (size_t run = 0; run < std::size(runs); ++run) {
    SCOPED_TRACE("run " + std::to_string(run + 1));
    const size_t served = Count(agent.Stderr(), "NETWORK THREAD IS ALIVE");
    ASSERT_TRUE(agent.Start(runs[run]));
    ASSERT_TRUE(AgentProcess::WaitFor(
        [&] { return Count(agent.Stderr(), "NETWORK THREAD IS ALIVE") > served; }, 60000));
    if (run == 0) {
      KT_SCP image;
      ASSERT_EQ(image.config.SetEventLogFileName(kEvents), 1);
      ASSERT_EQ(image.config.SetBatteryLogFileName(kBatteryLog), 1);
      ASSERT_TRUE(image.batteryLog.AddRecord(kTestResult));
      for (const std::vector<uint8_t>& key : {std::vector<uint8_t>{4, 5}, {4, 6}, {7, 1}}) {
        const auto answer = Ask(*console_, kAgentIp, SetFrameOf(image, key));
        ASSERT_TRUE(answer) << agent.TraceDump();
        ASSERT_EQ(answer->data, std::vector<uint8_t>{SCP_SET_OK});
      }
      ASSERT_TRUE(ups.Do("mains fail"));
      ASSERT_TRUE(waitForEvent([&] { return fileRecords(kEvents); }, EVENT_ON_BATTERY, 1)) << agent.TraceDump();
      ASSERT_TRUE(ups.Do("mains ok"));
      ASSERT_TRUE(waitForEvent([&] { return fileRecords(kEvents); }, EVENT_POWER_RESTORED, 1)) << agent.TraceDump();
    } else {
      // The restarted agent starts from what the renamed files hold.
      const std::vector<LogRecord> events = logOf(BLOCK_EVENT_LOG);
      EXPECT_TRUE(StartsWith(events, kept)) << events.size() << " records answered, " << kept.size() << " kept";
      EXPECT_EQ(logOf(BLOCK_BATTERY_LOG), std::vector<LogRecord>{kTestResult});
      // This run's record: a master's shutdown command with a wrong password.
      KT_SCP master;
      master.commandBlock.SetPassword("Wrong9");
      const auto answer = Ask(*console_, kAgentIp, SetFrameOf(master, {BLOCK_COMMAND, COMMAND_NETWORK_SHUTDOWN}));
      ASSERT_TRUE(answer) << agent.TraceDump();
      ASSERT_TRUE(waitForEvent([&] { return logOf(BLOCK_EVENT_LOG); }, EVENT_REMOTE_SHUTDOWN_FAILED, run))
          << agent.TraceDump();
    }

    agent.Signal(SIGTERM);
    ASSERT_EQ(agent.Wait(60000), 0) << agent.TraceDump();
    const std::vector<LogRecord> saved = fileRecords(kEvents);
    EXPECT_TRUE(StartsWith(saved, kept)) << saved.size() << " records in " << kEvents << ", " << kept.size()
                                         << " before this run";
    EXPECT_EQ(CountEvent(saved, EVENT_ON_BATTERY), 1u);
    EXPECT_EQ(CountEvent(saved, EVENT_REMOTE_SHUTDOWN_FAILED), run);
    EXPECT_EQ(fileRecords(kBatteryLog), std::vector<LogRecord>{kTestResult});
    kept = saved;
  }
  // The forced mode went to config.dat with the rest of the stored configuration.
  KT_SCP onDisk;
  ASSERT_TRUE(ReadConfigFile(agent, onDisk));
  EXPECT_EQ(onDisk.config.GetCommMode(), COMM_IDLE);
  EXPECT_EQ(onDisk.config.GetEventLogFileName().value_or(""), kEvents);
  EXPECT_EQ(onDisk.config.GetBatteryLogFileName().value_or(""), kBatteryLog);
  EXPECT_EQ(onDisk.config.GetSerialDeviceName().value_or(""), ups.device());
}

// What can be seen of a file without following a link: its type, and its bytes (a regular
// file) or where it points (a link).
struct FileState {
  std::filesystem::file_type type = std::filesystem::file_type::none;
  std::vector<uint8_t> bytes;
  std::string target;
  bool operator==(const FileState&) const = default;
};

void PrintTo(const FileState& s, std::ostream* os) {
  *os << "type " << static_cast<int>(s.type) << ", " << s.bytes.size() << " bytes";
  if (!s.target.empty()) *os << ", -> " << s.target;
}

FileState StateOf(const std::string& path) {
  FileState s;
  s.type = std::filesystem::symlink_status(path).type();
  if (s.type == std::filesystem::file_type::regular) s.bytes = testing_support::ReadFileBytes(path);
  if (s.type == std::filesystem::file_type::symlink) s.target = std::filesystem::read_symlink(path).string();
  return s;
}

// A log name that the agent will not use as given, the file it would have written over (in
// the data directory unless the path says otherwise; none when empty), and what puts that
// file there.
struct RefusedLogName {
  const char* what;
  std::string name;
  std::vector<uint8_t> branches;  // 5 the event log, 6 the battery log
  std::string victim;
  std::function<void(const std::string& path)> plant;
};

// The agent runs from its data directory, as an agent run as root without a data directory
// does. Every SET of a log name it will not use as given is answered "Set Failed", a GET after
// it still shows the default names, and every file those names name keeps its bytes through an
// outage and the agent's exit; a stored name whose file has since become a link falls back to
// the default name, and the trace says so.
TEST_F(AgentSettingsTest, LogNamesTheAgentWillNotUseAreRefusedAndTheirFilesKept) {
  testing_support::SimulatedUps ups("apc");
  ASSERT_TRUE(ups.ok()) << ups.error();
  testing_support::TempDir outside(false);
  AgentProcess agent(AgentSettings(kAgentIp));
  const std::string conf = agent.File("VigilNT.conf");
  testing_support::WriteFileText(
      conf, testing_support::ReadFileText(conf) + "trace_file = " + agent.File("agent.trace") + "\n");
  std::filesystem::copy_file(VIGILNT_PROGRAM, agent.File("VigilNT"));
  agent.UseProgram(agent.File("VigilNT"));
  ASSERT_TRUE(WatchTheSimulatedUps(agent, ups));
  // Bytes that read as a log of either kind: one record of event 3, a battery result of 3.
  std::vector<uint8_t> aLog;
  {
    EventLogBlock log;
    const uint8_t three = 3;
    log.AddRecord(1700000000u, 1, &three);
    ASSERT_TRUE(WriteBlockFile(outside.File("a.log"), log));
    aLog = testing_support::ReadFileBytes(outside.File("a.log"));
  }
  auto text = [](const std::string& t) {
    return [t](const std::string& path) { testing_support::WriteFileText(path, t); };
  };
  auto logBytes = [&](mode_t mode) {
    return [&, mode](const std::string& path) {
      testing_support::WriteFileBytes(path, aLog);
      ::chmod(path.c_str(), mode);
    };
  };
  const std::string target = outside.File("target.log");
  const RefusedLogName cases[] = {
      {"a file that does not read as a log",
       "sshd_config",
       {5, 6},
       "sshd_config",
       text("precious content\n")},
      {"the agent's own program", "VigilNT", {5, 6}, "VigilNT", nullptr},
      {"an executable that reads as a log", "helper", {5, 6}, "helper", logBytes(0755)},
      {"a link to a log elsewhere",
       "link.log",
       {5, 6},
       "link.log",
       [&](const std::string& path) {
         logBytes(0644)(target);
         std::filesystem::create_symlink(target, path);
       }},
      {"a directory",
       "folder.log",
       {5, 6},
       "folder.log",
       [](const std::string& p) { std::filesystem::create_directory(p); }},
      {"a FIFO", "pipe.log", {5, 6}, "pipe.log", [](const std::string& p) { ::mkfifo(p.c_str(), 0644); }},
      {"the settings file", "VigilNT.conf", {5, 6}, "VigilNT.conf", nullptr},
      {"the trace file", "agent.trace", {5, 6}, "agent.trace", logBytes(0644)},
      {"the MIB file", "mib.txt", {5, 6}, "mib.txt", text("UPS-MIB DEFINITIONS ::= BEGIN\n")},
      {"the configuration file", "config.dat", {5, 6}, "", nullptr},
      {"a kept copy of a damaged file", "notify.dat.bad", {5, 6}, "notify.dat.bad", logBytes(0644)},
      {"the battery log's name", "battlog.dat", {5}, "", nullptr},
      {"the event log's name", "logfile.dat", {6}, "", nullptr},
      {"an absolute name", outside.File("abs.log"), {5, 6}, outside.File("abs.log"), logBytes(0644)},
      {"a name out of the data directory",
       "../" + std::filesystem::path(outside.path()).filename().string() + "/up.log",
       {5, 6},
       outside.File("up.log"),
       logBytes(0644)},
      {"a name over 64 characters", std::string(65, 'n'), {5, 6}, std::string(65, 'n'), logBytes(0644)},
      {"a name with a line end", "two\nlines.log", {5, 6}, "", nullptr},
  };
  auto pathOf = [&](const std::string& victim) {
    return victim.front() == '/' ? victim : agent.File(victim);
  };
  std::vector<std::pair<std::string, FileState>> victims;
  for (const RefusedLogName& c : cases) {
    if (c.victim.empty()) continue;
    if (c.plant) c.plant(pathOf(c.victim));
    victims.emplace_back(pathOf(c.victim), StateOf(pathOf(c.victim)));
  }
  victims.emplace_back(target, StateOf(target));
  auto expectVictimsKept = [&](const char* when) {
    for (const auto& [path, before] : victims) EXPECT_EQ(StateOf(path), before) << path << " " << when;
  };

  ASSERT_TRUE(agent.Start({"-b"}));
  ASSERT_TRUE(WaitUntilServing(agent)) << agent.TraceDump();
  auto namesNow = [&] {
    KT_SCP seen;
    std::vector<uint8_t> none;
    for (uint8_t branch : {5, 6}) {
      const auto data = GetConfig(branch);
      EXPECT_TRUE(data) << agent.TraceDump();
      if (data) {
        EXPECT_GE(seen.config.ConvertMessage(none, *data), 0);
      }
    }
    return std::pair(seen.config.GetEventLogFileName().value_or("(none)"),
                     seen.config.GetBatteryLogFileName().value_or("(none)"));
  };
  const auto defaults = std::pair(std::string(kEventLogFileName), std::string(kBatteryLogFileName));
  // All the SETs at once: the agent serves them in one or two turns.
  std::vector<std::vector<uint8_t>> sets;
  std::vector<std::string> what;
  for (const RefusedLogName& c : cases) {
    for (uint8_t branch : c.branches) {
      KT_SCP image;
      if (branch == 5) image.config.SetEventLogFileName(c.name.c_str());
      if (branch == 6) image.config.SetBatteryLogFileName(c.name.c_str());
      sets.push_back(SetFrameOf(image, {4, branch}));
      what.push_back(std::string(c.what) + ", branch " + std::to_string(branch));
    }
  }
  const auto answers = AskAll(*console_, kAgentIp, sets);
  for (size_t i = 0; i < sets.size(); ++i) {
    SCOPED_TRACE(what[i]);
    ASSERT_TRUE(answers[i]) << agent.TraceDump();
    EXPECT_EQ(answers[i]->data, std::vector<uint8_t>{SCP_SET_FAILED});
  }
  // A whole-block SET that gives both logs one name changes nothing at all, its other
  // settings included.
  {
    KT_SCP image;
    image.config.SetEventLogFileName("same.log");
    image.config.SetBatteryLogFileName("same.log");
    image.config.SetOsShutdownTime(77);
    const auto answer = Ask(*console_, kAgentIp, SetFrameOf(image, {4}));
    ASSERT_TRUE(answer) << agent.TraceDump();
    EXPECT_EQ(answer->data, std::vector<uint8_t>{SCP_SET_FAILED});
    const auto delays = GetConfig(2);
    ASSERT_TRUE(delays);
    KT_SCP seen;
    std::vector<uint8_t> none;
    ASSERT_GE(seen.config.ConvertMessage(none, *delays), 0);
    EXPECT_EQ(seen.config.GetOsShutdownTime(), 120);
  }
  EXPECT_EQ(namesNow(), defaults);
  expectVictimsKept("after the SETs");

  // A name taken, whose file then becomes a link: the agent writes the default file instead.
  {
    KT_SCP image;
    image.config.SetEventLogFileName("kept.log");
    const auto answer = Ask(*console_, kAgentIp, SetFrameOf(image, {4, 5}));
    ASSERT_TRUE(answer) << agent.TraceDump();
    ASSERT_EQ(answer->data, std::vector<uint8_t>{SCP_SET_OK});
    EXPECT_EQ(namesNow().first, "kept.log");
    std::filesystem::create_symlink(target, agent.File("kept.log"));
    victims.emplace_back(agent.File("kept.log"), StateOf(agent.File("kept.log")));
  }
  auto eventsInDefaultFile = [&] {
    EventLogBlock log;
    return ReadBlockFile(agent.File(kEventLogFileName), log) ? RecordsOf(log) : std::vector<LogRecord>{};
  };
  ASSERT_TRUE(ups.Do("mains fail"));
  ASSERT_TRUE(
      AgentProcess::WaitFor([&] { return CountEvent(eventsInDefaultFile(), EVENT_ON_BATTERY) > 0; }, 30000))
      << agent.TraceDump();
  ASSERT_TRUE(ups.Do("mains ok"));
  EXPECT_TRUE(Contains(agent.Stderr(), "Log file name \"kept.log\" is a symbolic link, using logfile.dat"))
      << agent.TraceDump();
  expectVictimsKept("after an outage");

  agent.Signal(SIGTERM);
  ASSERT_EQ(agent.Wait(60000), 0) << agent.TraceDump();
  expectVictimsKept("after the agent's exit");
  EXPECT_GE(CountEvent(eventsInDefaultFile(), EVENT_ON_BATTERY), 1u);
}

// The record of a master's shutdown command with a wrong password is in the event log file
// as soon as a console can see it: after a kill and a restart the agent still lists it.
TEST_F(AgentSettingsTest, WrongMasterPasswordRecordSurvivesAKill) {
  AgentProcess agent(AgentSettings(kAgentIp));
  ASSERT_TRUE(agent.Start({"-b"}));
  ASSERT_TRUE(WaitUntilServing(agent));
  auto failedShutdowns = [&]() -> std::vector<LogRecord> {
    std::optional<KT_ScpMessage> data;
    for (int attempt = 0; attempt < 20 && !(data && data->type == SCP_DATA); ++attempt) {
      data = Ask(*console_, kAgentIp, GetFrame({BLOCK_EVENT_LOG, 1}));
    }
    KT_SCP seen;
    std::vector<uint8_t> none;
    if (!data || data->type != SCP_DATA || seen.eventLog.ConvertMessage(none, *data) < 0) return {};
    std::vector<LogRecord> found;
    for (const LogRecord& r : seen.eventLog.Records()) {
      if (r.data == std::vector<uint8_t>{EVENT_REMOTE_SHUTDOWN_FAILED}) found.push_back(r);
    }
    return found;
  };

  KT_SCP master;
  master.commandBlock.SetPassword("Wrong9");
  const auto answer = Ask(*console_, kAgentIp, SetFrameOf(master, {BLOCK_COMMAND, COMMAND_NETWORK_SHUTDOWN}));
  ASSERT_TRUE(answer) << agent.TraceDump();
  std::vector<LogRecord> seen;
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return !(seen = failedShutdowns()).empty(); }, 20000))
      << agent.TraceDump();

  agent.Signal(SIGKILL);
  ASSERT_EQ(agent.Wait(30000), 128 + SIGKILL);
  const size_t served = Count(agent.Stderr(), "NETWORK THREAD IS ALIVE");
  ASSERT_TRUE(agent.Start({"-b"}));
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Count(agent.Stderr(), "NETWORK THREAD IS ALIVE") > served; },
                                    30000));
  EXPECT_EQ(failedShutdowns(), seen) << agent.TraceDump();
  agent.Signal(SIGTERM);
  EXPECT_EQ(agent.Wait(60000), 0);
}

}  // namespace
