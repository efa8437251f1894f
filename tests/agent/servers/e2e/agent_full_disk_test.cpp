// The real VigilNT with its data directory on a small disk of the test's own (a tmpfs in
// mounts of the test's own, in a network of its own): a SET it cannot keep, because the disk is
// full or read-only or because its data ends too soon, is answered "Set Failed" and is not in
// force, then or later; a log record added while the disk takes nothing reaches its file once
// there is room again, without a further event.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <thread>

#include "agent/engine/daemon.h"
#include "core/scp/record_writer.h"
#include "core/scp/scp.h"
#include "platform/service_settings.h"
#include "tests/agent/servers/e2e/agent_network.h"
#include "tests/support/private_network.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testing_support::GetFrame;
using testing_support::ScpConsole;
using testing_support::SmallDisk;

constexpr const char* kAgentIp = "127.0.0.1";
constexpr size_t kDiskBytes = 256 * 1024;

// What makes the agent's record files unwritable, and what gives them room again.
struct DiskFault {
  const char* what;
  std::function<bool(SmallDisk&)> make;
  std::function<bool(SmallDisk&)> undo;
};

const DiskFault kDiskFaults[] = {
    {"full disk", [](SmallDisk& d) { return d.Fill(); }, [](SmallDisk& d) { return d.Free(); }},
    {"read-only disk", [](SmallDisk& d) { return d.SetReadOnly(true); },
     [](SmallDisk& d) { return d.SetReadOnly(false); }},
};

class AgentFullDiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    if (!testing_support::EnterPrivateNetwork(error) || !testing_support::EnterPrivateMounts(error)) {
      GTEST_SKIP() << "this test needs network and mount namespaces of its own, which cannot be made here: "
                   << error;
    }
    console_ = std::make_unique<ScpConsole>("127.0.0.9");
    ASSERT_TRUE(console_->ok());
    agent_ = std::make_unique<AgentProcess>(AgentSettings(kAgentIp));
    data_ = agent_->File("data");
    std::filesystem::create_directory(data_);
    env_ = std::string(platform::kDataDirectoryEnv) + "=" + data_;
    disk_ = std::make_unique<SmallDisk>(data_, kDiskBytes);
    ASSERT_TRUE(disk_->ok()) << disk_->error();
  }
  void TearDown() override {
    // The agent goes before its disk, the disk before the agent's directory.
    if (agent_) {
      agent_->Signal(SIGKILL);
      agent_->Wait(30000);
    }
    disk_.reset();
  }

  // Idle (-x 5): no UPS is needed to serve SETs and GETs, and to log a master's command.
  // With `syslog`, the agent's system log goes to SystemLog().
  bool StartAgent(bool syslog = false) {
    const size_t served = Count(agent_->Stderr(), "NETWORK THREAD IS ALIVE");
    std::vector<std::string> env{env_};
    if (syslog) {
      env.push_back(std::string("LD_PRELOAD=") + SYSLOG_CAPTURE_LIBRARY);
      env.push_back("VIGIL_SYSLOG_CAPTURE=" + agent_->File("syslog.txt"));
    }
    return agent_->Start({"-b", "-x", "5"}, env) &&
           AgentProcess::WaitFor([&] { return Count(agent_->Stderr(), "NETWORK THREAD IS ALIVE") > served; },
                                 30000);
  }
  bool RestartAgent() {
    agent_->Signal(SIGTERM);
    return agent_->Wait(60000) == 0 && StartAgent();
  }
  // The reply code of a SET (-1 when none came).
  int Set(const Bytes& frame) {
    const auto answer = Ask(*console_, kAgentIp, frame);
    return answer && answer->type == SCP_STATUS && answer->data.size() == 1 ? answer->data[0] : -1;
  }
  // What a GET of the key answers with; "Get Resend" is asked again after a while (the agent
  // reads the block on its next pass). Nullopt when no data came (bounded).
  std::optional<Bytes> Get(const Bytes& key) {
    std::optional<Bytes> data;
    AgentProcess::WaitFor(
        [&] {
          const auto m = Ask(*console_, kAgentIp, GetFrame(key));
          if (m && m->type == SCP_DATA) data = m->data;
          if (!data) std::this_thread::sleep_for(std::chrono::milliseconds(200));
          return data.has_value();
        },
        20000);
    return data;
  }
  std::string File(const std::string& name) const { return data_ + "/" + name; }
  std::string SystemLog() const { return testing_support::ReadFileText(agent_->File("syslog.txt")); }
  // The records of a log file with that data byte.
  size_t EventsInFile(uint8_t event) {
    EventLogBlock log;
    if (!ReadBlockFile(File(kEventLogFileName), log)) return 0;
    size_t n = 0;
    for (const LogRecord& r : log.Records()) n += r.data == Bytes{event};
    return n;
  }

  std::unique_ptr<ScpConsole> console_;
  std::unique_ptr<AgentProcess> agent_;
  std::string data_;
  std::string env_;  // the agent's data directory: the small disk
  std::unique_ptr<SmallDisk> disk_;
};

// A configuration SET as a console sends it: the key, the values on the console's image, and
// how many bytes of its data go out (all when 0).
struct ConfigSet {
  const char* what;
  Bytes key;
  std::function<void(ConfigBlock&)> values;
  size_t cut = 0;
};

Bytes FrameOf(const ConfigSet& s) {
  KT_SCP image;
  image.config.SetTimingAddressed(true);  // as the agent's own format carries it
  s.values(image.config);
  const Bytes frame = SetFrameOf(image, s.key);
  if (s.cut == 0) return frame;
  const auto m = testing_support::Decode(frame);
  if (!m || m->data.size() <= s.cut) return {};
  return testing_support::SetFrame(s.key, Bytes(m->data.begin(), m->data.begin() + s.cut));
}

// The branch of a configuration block in the form a GET of it answers with.
Bytes BranchOf(ConfigBlock& config, uint8_t branch) {
  config.SetTimingAddressed(true);
  KT_RecordWriter writer;
  const bool ok = config.ConvertBranch(branch, CONVERT_ENCODE, &writer, nullptr) >= 0;
  config.SetTimingAddressed(false);
  return ok ? writer.Take() : Bytes{};
}

// "Set Failed" leaves everything as it was: the agent's answer to a GET at once, config.dat
// while the fault lasts, config.dat after the next good SET and after a restart, for a full
// and a read-only disk, and for SETs whose data ends before the addressed fields do.
TEST_F(AgentFullDiskTest, SetAnsweredSetFailedIsNotInForceNorSavedLater) {
  ASSERT_TRUE(StartAgent()) << agent_->TraceDump();
  const ConfigSet kOld[] = {
      {"password", {4, 8}, [](ConfigBlock& c) { c.Password().Set("Oldpw1"); }},
      {"delays and pre-shutdown command",
       {4, 2},
       [](ConfigBlock& c) {
         c.SetOsShutdownTime(100);
         c.SetTotalBatteryTime(20);
         c.SetShutdownStartDelay(4);
         c.SetPreShutdownCommand("/bin/old-command");
       }},
      {"devices and location",
       {4, 4},
       [](ConfigBlock& c) {
         c.SetPoweredDevices("Old devices");
         c.SetLocation("Old place");
       }},
      {"timing",
       {4, 12},
       [](ConfigBlock& c) {
         c.SetPollingInterval(3);
         c.SetCommTimeout(100);
       }},
  };
  const ConfigSet kNew[] = {
      {"password", {4, 8}, [](ConfigBlock& c) { c.Password().Set("Newpw1"); }},
      {"pre-shutdown command",
       {4, 2},
       [](ConfigBlock& c) {
         c.SetOsShutdownTime(90);
         c.SetTotalBatteryTime(30);
         c.SetShutdownStartDelay(9);
         c.SetPreShutdownCommand("/bin/new-command");
       }},
      {"location",
       {4, 4},
       [](ConfigBlock& c) {
         c.SetPoweredDevices("DEVX");
         c.SetLocation("New place");
       }},
      {"timing",
       {4, 12},
       [](ConfigBlock& c) {
         c.SetPollingInterval(9);
         c.SetCommTimeout(30);
       }},
      {"event log name",
       {4, 5},
       [](ConfigBlock& c) {
         c.SetEventLogFileName("newlog.dat");
         c.SetEventLogSize(50);
       }},
  };
  const ConfigSet kCut[] = {
      {"delays, 2 of 7 fields", {4, 2}, kNew[1].values, 4},
      {"location, 1 text of 2", {4, 4}, kNew[2].values, 6},
      {"timing, 4 of 8 bytes", {4, 12}, kNew[3].values, 4},
  };
  // The agent serves a turn's datagrams in order: the SETs and GETs of a step go at once.
  std::vector<Bytes> oldSets;
  for (const ConfigSet& s : kOld) oldSets.push_back(FrameOf(s));
  for (const auto& answer : AskAll(*console_, kAgentIp, oldSets)) {
    ASSERT_TRUE(answer && answer->data == Bytes{SCP_SET_OK}) << agent_->TraceDump();
  }
  std::vector<Bytes> gets;
  for (const ConfigSet& s : kNew) gets.push_back(GetFrame(s.key));
  std::map<Bytes, Bytes> before;  // a branch not yet read from config.dat answers "Get Resend" first
  for (const ConfigSet& s : kNew) {
    const auto data = Get(s.key);
    ASSERT_TRUE(data) << s.what << "\n" << agent_->TraceDump();
    before[s.key] = *data;
  }
  const Bytes file = testing_support::ReadFileBytes(File(kConfigFileName));
  ASSERT_FALSE(file.empty());

  // Each SET, with a GET of every branch right after it: "Set Failed", and the GETs answer
  // what they did before; config.dat is as it was.
  auto expectNothingChanged = [&](const std::vector<ConfigSet>& sets, const char* when) {
    SCOPED_TRACE(when);
    std::vector<Bytes> requests;
    for (const ConfigSet& s : sets) {
      requests.push_back(FrameOf(s));
      requests.insert(requests.end(), gets.begin(), gets.end());
    }
    const auto answers = AskAll(*console_, kAgentIp, requests);
    for (size_t i = 0; i < sets.size(); ++i) {
      SCOPED_TRACE(sets[i].what);
      const size_t set = i * (gets.size() + 1);
      ASSERT_TRUE(answers[set]) << agent_->TraceDump();
      EXPECT_EQ(answers[set]->data, Bytes{SCP_SET_FAILED});
      for (size_t g = set + 1; g <= set + gets.size(); ++g) {
        ASSERT_TRUE(answers[g] && answers[g]->type == SCP_DATA) << agent_->TraceDump();
        EXPECT_EQ(answers[g]->data, before[answers[g]->key]) << "the GET of branch " << int{answers[g]->key[1]};
      }
    }
    EXPECT_EQ(testing_support::ReadFileBytes(File(kConfigFileName)), file);
  };
  std::vector<ConfigSet> all(std::begin(kNew), std::end(kNew));
  all.insert(all.end(), std::begin(kCut), std::end(kCut));
  for (const DiskFault& fault : kDiskFaults) {
    ASSERT_TRUE(fault.make(*disk_)) << fault.what << ": " << disk_->error();
    expectNothingChanged(all, fault.what);
    ASSERT_TRUE(fault.undo(*disk_)) << fault.what << ": " << disk_->error();
  }
  expectNothingChanged(std::vector<ConfigSet>(std::begin(kCut), std::end(kCut)), "room on the disk");

  // Room again, and a good SET of something else: config.dat holds it, and the old values.
  ASSERT_EQ(Set(FrameOf({"battery log size", {4, 6}, [](ConfigBlock& c) { c.SetBatteryLogSize(12); }})),
            SCP_SET_OK)
      << agent_->TraceDump();
  KT_SCP onDisk;
  ASSERT_TRUE(ReadConfigFile(File(kConfigFileName), onDisk.config));
  EXPECT_EQ(onDisk.config.GetBatteryLogSize(), 12);
  for (const auto& [key, data] : before) {
    // The timing values follow the other branches in the file; they read as the GET gives them.
    EXPECT_EQ(BranchOf(onDisk.config, key[1]), data) << "config.dat, branch " << int{key[1]};
  }
  EXPECT_EQ(onDisk.config.Password().Get(), std::optional<std::string>("Oldpw1"));

  ASSERT_TRUE(RestartAgent()) << agent_->TraceDump();
  for (const auto& answer : AskAll(*console_, kAgentIp, gets)) {
    ASSERT_TRUE(answer && answer->type == SCP_DATA) << agent_->TraceDump();
    EXPECT_EQ(answer->data, before[answer->key]) << "after a restart, branch " << int{answer->key[1]};
  }
}

// A log record added while the disk takes nothing (a master's shutdown command with a wrong
// password) reaches the event log file once there is room again, with no further event.
TEST_F(AgentFullDiskTest, LogRecordAddedWhileTheDiskIsFullReachesItsFileOnceThereIsRoom) {
  ASSERT_TRUE(StartAgent()) << agent_->TraceDump();
  // A master's commands with a wrong password, each another (a repeat is not logged again).
  auto command = [](uint8_t which) {
    KT_SCP master;
    master.commandBlock.SetPassword("Wrong9");
    master.commandBlock.SetCommand(which);
    return SetFrameOf(master, {BLOCK_COMMAND, COMMAND_NETWORK_SHUTDOWN});
  };
  auto answered = [&]() -> size_t {
    const auto data = Get({BLOCK_EVENT_LOG, 1});
    if (!data) return 0;
    EventLogBlock log;
    std::vector<uint8_t> none;
    if (log.ConvertMessage(none, KT_ScpMessage(SCP_DATA, {BLOCK_EVENT_LOG, 1}, *data)) < 0) return 0;
    size_t n = 0;
    for (const LogRecord& r : log.Records()) n += r.data == Bytes{EVENT_REMOTE_SHUTDOWN_FAILED};
    return n;
  };
  size_t records = 0;
  for (const DiskFault& fault : kDiskFaults) {
    SCOPED_TRACE(fault.what);
    ASSERT_TRUE(fault.make(*disk_)) << disk_->error();
    ASSERT_EQ(Set(command(static_cast<uint8_t>(records))), SCP_SET_OK);
    ++records;
    ASSERT_TRUE(AgentProcess::WaitFor([&] { return answered() == records; }, 20000)) << agent_->TraceDump();
    // Some passes of the agent while the disk takes nothing.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_EQ(EventsInFile(EVENT_REMOTE_SHUTDOWN_FAILED), records - 1);
    ASSERT_TRUE(fault.undo(*disk_)) << disk_->error();
    EXPECT_TRUE(AgentProcess::WaitFor([&] { return EventsInFile(EVENT_REMOTE_SHUTDOWN_FAILED) == records; }, 20000))
        << agent_->TraceDump();
  }
  EXPECT_TRUE(Contains(agent_->Stderr(), "Record file logfile.dat written after a failed write"));
}

// Record files that cannot be read, found at the start: each is said in the trace and the
// system log and, when it is a file, kept whole as NAME.bad before anything is written under
// its name; a SET of a block whose file is no file says why it fails; the start removes the
// agent's own temporary files of interrupted writes and nothing else; a stop that cannot write
// the record files (a full disk) ends with status 2 and names them.
TEST_F(AgentFullDiskTest, UnreadableRecordFilesAreReportedAndKeptAndAStopThatLosesFilesFails) {
  ASSERT_TRUE(StartAgent(true)) << agent_->TraceDump();
  ASSERT_EQ(Set(FrameOf({"location", {4, 4}, [](ConfigBlock& c) { c.SetLocation("Room 2"); }})), SCP_SET_OK);
  agent_->Signal(SIGTERM);
  ASSERT_EQ(agent_->Wait(60000), 0);
  KT_SCP defaults;
  defaults.notify.SetDefaultActions();
  ASSERT_TRUE(WriteBlockFile(File(kNotifyFileName), defaults.notify));

  // A good file with megabytes of zeros after it (a hole: the small disk has room for it), or
  // something else in the file's place.
  auto overLimit = [](const char* p) { return ::truncate(p, kMaxRecordFileBytes + (1 << 20)) == 0; };
  auto replaced = [](int (*make)(const char*)) {
    return [make](const char* p) { return ::unlink(p) == 0 && make(p) == 0; };
  };
  const struct {
    const char* name;
    std::function<bool(const char*)> damage;
    const char* said;
  } kDamage[] = {
      {kConfigFileName, overLimit, "is larger than a record file can be"},
      {kNotifyFileName, overLimit, "is larger than a record file can be"},
      {kEventLogFileName, overLimit, "is larger than a record file can be"},
      {kSchedShutdownFileName, overLimit, "is larger than a record file can be"},
      {kBatteryTestFileName, replaced([](const char* p) { return ::mkdir(p, 0755); }),
       "cannot be read: it is a directory"},
      {kBatteryInfoFileName, replaced([](const char* p) { return ::mkfifo(p, 0644); }),
       "cannot be read: it is a FIFO"},
      {kLoadBankFileName, replaced([](const char* p) { return ::symlink("elsewhere", p); }),
       "cannot be read: it is a symbolic link"},
  };
  std::map<std::string, Bytes> planted;
  for (const auto& d : kDamage) {
    ASSERT_TRUE(d.damage(File(d.name).c_str())) << d.name;
    if (std::filesystem::is_regular_file(std::filesystem::symlink_status(File(d.name)))) {
      planted[d.name] = testing_support::ReadFileBytes(File(d.name));
    }
  }
  // Files of interrupted writes: the name, and whether it is the agent's own, which the start
  // removes (a link of such a name is not).
  const std::pair<const char*, bool> kLeftovers[] = {{"config.dat.tmp-Ab12Cd", true},
                                                     {"sch_shut.dat.bad.tmp-x1Y2z3", true},
                                                     {"notify.dat.tmp-Ab12C", false},
                                                     {"other.dat.tmp-Ab12Cd", false},
                                                     {"logfile.dat.tmp-Zz9Zz9", false}};
  for (const auto& [name, removed] : kLeftovers) testing_support::WriteFileBytes(File(name), {1});
  ASSERT_EQ(::rename(File("logfile.dat.tmp-Zz9Zz9").c_str(), File("elsewhere").c_str()), 0);
  ASSERT_EQ(::symlink("elsewhere", File("logfile.dat.tmp-Zz9Zz9").c_str()), 0);

  ASSERT_TRUE(StartAgent(true)) << agent_->TraceDump();
  for (const auto& d : kDamage) {
    SCOPED_TRACE(d.name);
    const std::string report = std::string("Record file ") + d.name + " " + d.said;
    EXPECT_TRUE(Contains(agent_->Stderr(), report)) << agent_->TraceDump();
    EXPECT_TRUE(Contains(SystemLog(), report));
    if (planted.count(d.name)) {
      EXPECT_EQ(testing_support::ReadFileBytes(File(std::string(d.name) + ".bad")), planted[d.name]);
    }
  }
  for (const auto& [name, removed] : kLeftovers) {
    EXPECT_NE(std::filesystem::exists(std::filesystem::symlink_status(File(name))), removed) << name;
  }
  KT_SCP image;
  image.batteryTest.SetIntervalDays(7);
  EXPECT_EQ(Set(SetFrameOf(image, {BLOCK_BATTERY_TEST, 1})), SCP_SET_FAILED);
  const std::string refused = "could not keep the SET of block 25 in batt_tst.dat: it is a directory";
  EXPECT_TRUE(Contains(agent_->Stderr(), refused) && Contains(SystemLog(), refused)) << agent_->TraceDump();

  // Room and no obstacle left but the full disk: the stop names what it could not write.
  for (const char* name : {kBatteryTestFileName, kBatteryInfoFileName, kLoadBankFileName}) {
    ASSERT_TRUE(std::filesystem::remove(File(name))) << name;
  }
  ASSERT_TRUE(disk_->Fill()) << disk_->error();
  agent_->Signal(SIGTERM);
  EXPECT_EQ(agent_->Wait(60000), kRecordFilesUnwrittenExitStatus) << agent_->TraceDump();
  EXPECT_TRUE(
      Contains(SystemLog(), "Record files not written at the stop: config.dat (write failed: No space left"))
      << SystemLog();
  EXPECT_EQ(testing_support::ReadFileBytes(File("config.dat.bad")), planted[kConfigFileName]);
}

}  // namespace
