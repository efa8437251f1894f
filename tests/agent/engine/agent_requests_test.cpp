// KT_Agent::SSQ: the system requests a console or the service shell posts, as they arrive
// through the SCP object.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "core/scp/scp_frame.h"
#include "core/scp/scp_message.h"
#include "platform/record_file.h"
#include "tests/agent/agent_fakes.h"
#include "tests/support/test_support.h"

using testing_support::ReadFileBytes;
using testing_support::ScopedManualClock;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

namespace {

class RequestsTest : public ::testing::Test {
 protected:
  RequestsTest() : services(scp), agent(scp, services) {
    agent.SetSerialLinkFactory([this](KT_SCP& s) { return std::make_unique<FakeLink>(link, s); });
    services.SetThreadProcedure(THREAD_SERIAL, [this] {
      while (services.GetState(THREAD_SERIAL) == kThreadRunning) std::this_thread::sleep_for(std::chrono::milliseconds(2));
      services.State(THREAD_SERIAL).store(kThreadEnded);
      return 0;
    });
  }
  ~RequestsTest() override {
    services.RequestStopSerial();
    services.JoinThreads(5000);
  }

  // A SET of the key with the record bytes, executed as a console's frame would be; the code
  // it is answered with.
  int Set(std::vector<uint8_t> key, std::vector<uint8_t> data) {
    std::vector<uint8_t> reply;
    EXPECT_EQ(scp.ExecuteCommand(KT_ScpMessage(SCP_SET, key, data), reply), 1);
    KT_ScpMessage m;
    return DecodeScpFrame(reply.data(), reply.size(), m) >= 0 && m.type == SCP_STATUS && m.data.size() == 1
               ? m.data[0]
               : -1;
  }
  // A master's whole command (27, 4): shut delay 3, warn delay 2, the command, the password.
  int MasterCommand(int command, const std::string& password) {
    std::vector<uint8_t> data = {3, 2, static_cast<uint8_t>(command)};
    const std::vector<uint8_t> text = Text(password);
    data.insert(data.end(), text.begin(), text.end());
    data.push_back(1);
    return Set({BLOCK_COMMAND, COMMAND_NETWORK_SHUTDOWN}, data);
  }
  bool Alarm(int code) { return scp.upsStatus.IsAlarmSet(code) == 1; }
  static std::vector<uint8_t> Text(const std::string& s) {
    std::vector<uint8_t> out;
    out.reserve(s.size() + 2);
    out.push_back(static_cast<uint8_t>(s.size() + 1));
    for (char c : s) out.push_back(static_cast<uint8_t>(c));
    out.push_back(0);
    return out;
  }

  TempDir dir;
  ScopedManualClock clock{1700000000};
  KT_SCP scp;
  FakeServices services;
  KT_Agent agent;
  FakeDriverState link;
  TestPty pty;
};

TEST_F(RequestsTest, EverySerialSettingsSetRestartsDetection) {
  Set({4, 1, 1}, Text(pty.path()));
  agent.SSQ();
  EXPECT_EQ(link.calls["Connect"], 1);
  EXPECT_EQ(scp.system_queue.GetCount(), 0);
  // The same name again still restarts (the running serial thread is stopped first).
  Set({4, 1, 1}, Text(pty.path()));
  agent.SSQ();
  EXPECT_EQ(link.calls["Connect"], 2);
  EXPECT_FALSE(scp.config.SerialSettingsChanged());
  // The baud code alone does not.
  Set({4, 1, 2}, {3});
  agent.SSQ();
  EXPECT_EQ(link.calls["Connect"], 2);
  EXPECT_EQ(agent.mode, COMM_SERIAL_NORMAL);
}

struct ConfigSetCase {
  const char* what;
  std::vector<uint8_t> key;
  std::vector<uint8_t> data;
  std::function<bool(const ConfigBlock&)> applied;
};

TEST_F(RequestsTest, EveryConfigurationSetIsWrittenAtOnce) {
  const ConfigSetCase cases[] = {
      {"shutdown start delay",
       {4, 2, 3},
       {0, 17},
       [](const ConfigBlock& c) { return c.GetShutdownStartDelay() == 17; }},
      {"password",
       {4, 8, 1},
       Text("s3cret"),
       [](const ConfigBlock& c) { return c.Password().Get() == std::optional<std::string>("s3cret"); }},
      {"adapter name",
       {4, 7, 1},
       Text("ups-adapter"),
       [](const ConfigBlock& c) { return c.GetAdapterName() == std::optional<std::string>("ups-adapter"); }},
      {"location",
       {4, 4, 2},
       Text("Rack 4"),
       [](const ConfigBlock& c) { return c.GetLocation() == std::optional<std::string>("Rack 4"); }},
  };
  for (const ConfigSetCase& c : cases) {
    SCOPED_TRACE(c.what);
    Set(c.key, c.data);
    agent.SSQ();
    // What a restarted agent reads back from config.dat.
    KT_SCP restarted;
    FakeServices files(restarted);
    ASSERT_EQ(files.ReadConfigFile(), 1);
    EXPECT_TRUE(c.applied(restarted.config));
    EXPECT_FALSE(Alarm(ALARM_SOFTWARE_ERROR));
  }
}

// A SET of a block with a record file is answered only once the file holds it; a file that
// cannot be written makes the answer "Set Failed" with the software-error alarm, and the SET is
// not in force: the block is as before and the monitor pass gets no request.
TEST_F(RequestsTest, SetIsAnsweredOnlyOnceItsFileIsWritten) {
  struct Case {
    std::vector<uint8_t> key;
    std::vector<uint8_t> data;
    const char* file;
  } const cases[] = {
      {{4, 2, 3}, {0, 17}, kConfigFileName},
      {{25, 1, 3}, {7}, kBatteryTestFileName},
      {{28, 1}, {0, 0}, kLoadBankFileName},
  };
  auto answer = [&](const Case& c) {
    std::vector<uint8_t> reply;
    EXPECT_EQ(scp.ExecuteCommand(KT_ScpMessage(SCP_SET, c.key, c.data), reply), 1);
    KT_ScpMessage m;
    return DecodeScpFrame(reply.data(), reply.size(), m) >= 0 && m.type == SCP_STATUS && m.data.size() == 1
               ? m.data[0]
               : -1;
  };
  // The addressed part of the block as a GET answers it.
  auto part = [&](const Case& c) {
    std::vector<uint8_t> reply;
    EXPECT_GE(scp.GetBlock(c.key[0])->ConvertMessage(reply, KT_ScpMessage(SCP_GET, c.key)), 0);
    return reply;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::vector<uint8_t> before = part(c);
    std::filesystem::create_directory(c.file);  // in the way of the file
    EXPECT_EQ(answer(c), SCP_SET_FAILED);
    EXPECT_TRUE(Alarm(ALARM_SOFTWARE_ERROR));
    EXPECT_EQ(part(c), before);
    EXPECT_EQ(scp.system_queue.Find(c.key[0], c.key[1]), -1);
    EXPECT_EQ(scp.serial_queue.GetCount(), 0);
    scp.upsStatus.ClearAlarm(ALARM_SOFTWARE_ERROR);
    std::filesystem::remove(c.file);
    EXPECT_EQ(answer(c), SCP_SET_OK);
    EXPECT_FALSE(Alarm(ALARM_SOFTWARE_ERROR));
    EXPECT_NE(part(c), before);
    EXPECT_GE(scp.system_queue.Find(c.key[0], c.key[1]), 0);
    EXPECT_FALSE(ReadFileBytes(c.file).empty());
  }
}

// A master's command takes effect only when the frame that carries it holds the right password:
// a wrong one logs event 36 (once per command while the master repeats it) and raises alarm 24;
// a field of the command alone is refused, whatever an earlier frame left in the block.
TEST_F(RequestsTest, MasterCommandTakesEffectOnlyWithThePasswordOfItsOwnFrame) {
  scp.config.Password().Set("right");
  EXPECT_EQ(MasterCommand(0, "Right"), SCP_SET_OK);
  agent.SSQ();
  EXPECT_TRUE(Alarm(ALARM_NET_CLIENT_PASSWORD));
  EXPECT_FALSE(Alarm(ALARM_ON_BATTERY));
  ASSERT_EQ(scp.eventLog.GetRecordCount(), 1);
  EXPECT_EQ(scp.eventLog.Records().back().data, std::vector<uint8_t>{EVENT_REMOTE_SHUTDOWN_FAILED});
  EXPECT_EQ(scp.eventLog.Records().back().time, clock->Now());

  // The master's repeat of the same command is not logged again; another command is.
  scp.upsStatus.ClearAlarm(ALARM_NET_CLIENT_PASSWORD);
  for (int command : {0, 0, 2, 2}) {
    clock->AdvanceSeconds(10);
    MasterCommand(command, "Right");
    agent.SSQ();
  }
  EXPECT_EQ(scp.eventLog.GetRecordCount(), 2);

  // After a right frame: a field alone, and a whole command with a wrong password, change
  // nothing; the refusal of the second is logged once.
  EXPECT_EQ(MasterCommand(1, "right"), SCP_SET_OK);
  agent.SSQ();
  for (uint8_t field = 1; field <= 5; ++field) {
    EXPECT_EQ(Set({BLOCK_COMMAND, COMMAND_NETWORK_SHUTDOWN, field}, field == 4 ? Text("right") : std::vector<uint8_t>{2}),
              SCP_SET_FAILED)
        << static_cast<int>(field);
  }
  agent.SSQ();
  MasterCommand(2, "wrong");
  agent.SSQ();
  EXPECT_FALSE(Alarm(ALARM_LOW_BATTERY));
  EXPECT_FALSE(Alarm(ALARM_REMOTE_SHUTDOWN));
  EXPECT_EQ(scp.eventLog.GetRecordCount(), 3);

  MasterCommand(0, "right");
  agent.SSQ();
  EXPECT_TRUE(Alarm(ALARM_ON_BATTERY));
}

TEST_F(RequestsTest, MessageCommandShowsTextOrRaisesSoftwareError) {
  scp.system_queue.Post(BLOCK_COMMAND, 0, 1, COMMAND_MESSAGE);
  agent.SSQ();
  EXPECT_TRUE(Alarm(ALARM_SOFTWARE_ERROR));
  EXPECT_TRUE(services.PopupTexts().empty());
  Set({27, 9}, Text("Back at five"));
  agent.SSQ();
  ASSERT_EQ(services.popups.size(), 1u);
  EXPECT_EQ(services.popups[0].text, "Back at five");
  EXPECT_EQ(services.popups[0].caption, kAgentMessageCaption);
  EXPECT_EQ(services.popups[0].flags, kMessageBoxAgentStyle);
}

TEST_F(RequestsTest, UnreadableScheduleRaisesAlarmAndStillStamps) {
  WriteFileBytes(kSchedShutdownFileName, {0, 0, 0, 9, 1});  // nine entries announced, none there
  scp.system_queue.Post(BLOCK_SCHED_SHUTDOWN, 0, 0, 0);
  agent.SSQ();
  EXPECT_TRUE(Alarm(ALARM_SOFTWARE_ERROR));
  EXPECT_EQ(scp.schedShutdown.Branches().GetTime(1), clock->Now());
  EXPECT_EQ(scp.schedShutdown.Branches().GetTime(0), clock->Now());
  EXPECT_EQ(scp.system_queue.GetCount(), 0);
}

TEST_F(RequestsTest, ScheduleSetWritesTheFile) {
  schedule_struct e;
  e.startTime = 1800000000;
  scp.schedShutdown.SetEntries(1, &e);
  scp.system_queue.Post(BLOCK_SCHED_SHUTDOWN, 0, 1, 0);
  agent.SSQ();
  EXPECT_FALSE(Alarm(ALARM_SOFTWARE_ERROR));
  EXPECT_EQ(ReadFileBytes(kSchedShutdownFileName).size(), 4u + kSchedEntryBytes);
}

TEST_F(RequestsTest, BatteryTestNowGoesToTheUpsSide) {
  scp.system_queue.Post(BLOCK_COMMAND, 0, 1, COMMAND_BATTERY_TEST);
  agent.SSQ();
  EXPECT_GE(scp.serial_queue.Find(BLOCK_BATTERY_TEST, 0), 0);
  EXPECT_TRUE(Alarm(ALARM_BATTERY_TEST));
}

TEST_F(RequestsTest, PagerTestFindsThePageAction) {
  scp.commandBlock.SetValue(COMMAND_PAGER_TEST, EVENT_ON_BATTERY);
  scp.system_queue.Post(BLOCK_COMMAND, 0, 1, COMMAND_PAGER_TEST);
  agent.SSQ();
  EXPECT_EQ(scp.commandBlock.GetValue(COMMAND_PAGER_TEST), kPagerTestNoPageAction);
  EXPECT_TRUE(services.pages.empty());

  KT_ActionEntry page(EVENT_ON_BATTERY, ACTION_PAGE);
  scp.notify.AddAction(page);
  scp.commandBlock.SetValue(COMMAND_PAGER_TEST, EVENT_ON_BATTERY);
  scp.system_queue.Post(BLOCK_COMMAND, 0, 1, COMMAND_PAGER_TEST);
  agent.SSQ();
  EXPECT_EQ(scp.commandBlock.GetValue(COMMAND_PAGER_TEST), kPagerTestInProgress);
  EXPECT_EQ(services.pages, std::vector<int>{EVENT_ON_BATTERY});
}

TEST_F(RequestsTest, NotificationSetIsWrittenAndKeptAsLoaded) {
  scp.notify.SetDefaultActions();
  scp.system_queue.Post(BLOCK_NOTIFY, 0, 1, 0);
  agent.SSQ();
  EXPECT_TRUE(platform::RecordFile::Exists(kNotifyFileName));
  EXPECT_TRUE(scp.notify.IsLoaded());
  // A read of a missing file writes the block's current contents.
  std::remove(kNotifyFileName);
  scp.system_queue.Post(BLOCK_NOTIFY, 0, 0, 0);
  agent.SSQ();
  EXPECT_TRUE(platform::RecordFile::Exists(kNotifyFileName));
  EXPECT_EQ(scp.notify.Branches().GetTime(5), clock->Now());
}

TEST_F(RequestsTest, TerminateStopsTheAgent) {
  scp.system_queue.Post(BLOCK_COMMAND, 0, 1, COMMAND_TERMINATE);
  agent.SSQ();
  EXPECT_EQ(services.stops, std::vector<int>{1});
  EXPECT_TRUE(platform::RecordFile::Exists(kConfigFileName));
}

TEST_F(RequestsTest, RebootRunsTheRemoteShutdownSequence) {
  struct Engine : AgentActionEngine {
    int TakeAction() override { return 0; }
    int IsShutdownRequired() override { return 0; }
    int ShutdownSequence(int reason) override {
      reason_ = reason;
      return 1;
    }
    int reason_ = -1;
  } engine;
  agent.SetActionEngine(&engine);
  scp.config.SetOsShutdownTime(90);
  scp.system_queue.Post(BLOCK_COMMAND, 0, 1, COMMAND_RESTART);
  agent.SSQ();
  EXPECT_EQ(engine.reason_, 3);
  EXPECT_EQ(scp.commandBlock.GetRestartDelay(), 150);
  EXPECT_EQ(scp.commandBlock.GetShutdownDelay(), 90);
}

TEST_F(RequestsTest, AdapterSettingsWithoutMibFileExplainSnmpIsMissing) {
  Set({4, 7, 1}, Text("ups-adapter"));
  agent.SSQ();
  ASSERT_EQ(services.PopupTexts().size(), 1u);
  EXPECT_EQ(services.PopupTexts()[0], "Unable to locate mib.txt.\nSNMP functionality disabled.");
  EXPECT_EQ(services.GetState(THREAD_SNMP), kThreadEnded);
}

TEST_F(RequestsTest, AdapterSettingsStartTheNetBcmThreadOrReconnectIt) {
  scp.SetFlag(SCP_FLAG_TCPIP);
  scp.config.SetCommMode(COMM_NETBCM_ADAPTER);
  std::atomic<int> starts{0};
  services.SetThreadProcedure(THREAD_NETBCM, [&] {
    ++starts;
    while (services.GetState(THREAD_NETBCM) == kThreadRunning) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    services.State(THREAD_NETBCM).store(kThreadEnded);
    return 0;
  });
  Set({4, 7, 1}, Text("ups-adapter"));
  agent.SSQ();
  EXPECT_EQ(services.GetState(THREAD_NETBCM), kThreadRunning);
  EXPECT_GE(scp.serial_queue.Find(BLOCK_UPS_INFO, 0), 0);
  EXPECT_GE(scp.serial_queue.Find(BLOCK_STATUS, 0), 0);
  EXPECT_TRUE(Alarm(ALARM_DETERMINING_UPS_TYPE));
  Set({4, 7, 1}, Text("other-adapter"));
  agent.SSQ();
  EXPECT_TRUE(agent.netBcmReconnect.load());
  services.RequestStopNetBCM();
  services.JoinThreads(5000);
  EXPECT_EQ(starts.load(), 1);
}

TEST_F(RequestsTest, UnknownRequestsAreDropped) {
  scp.system_queue.Post(99, 0, 1, 3);
  scp.system_queue.Post(BLOCK_COMMAND, 0, 1, 44);
  agent.SSQ();
  EXPECT_EQ(scp.system_queue.GetCount(), 0);
  EXPECT_EQ(scp.upsStatus.GetAlarmCount(), 0);
}

}  // namespace
