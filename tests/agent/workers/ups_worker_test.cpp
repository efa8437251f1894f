// The UPS-side workers: the request table of serial_queue, the serial protocol run with its
// communication-loss rule, and the adapter threads' connection.
#include "agent/workers/ups_worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "agent/protocols/protocol_factory.h"
#include "agent/workers/worker_threads.h"
#include "tests/agent/agent_fakes.h"
#include "tests/support/test_support.h"

using testing_support::ScopedManualClock;
using testing_support::TempDir;

namespace {

class TestWorker : public KT_UpsWorker {
 public:
  TestWorker(KT_Agent& agent, UpsWorkerDriver& driver, UpsWorkerKind kind) : KT_UpsWorker(agent, driver, kind) {}
  int RunCommand(int command) override { return command == 2 ? 1 : -1; }
};

class WorkerTest : public ::testing::Test {
 protected:
  WorkerTest() : services(scp), agent(scp, services), driver(state) {}
  bool Alarm(int code) { return scp.upsStatus.IsAlarmSet(code) == 1; }

  TempDir dir;
  ScopedManualClock clock{1700000000};
  KT_SCP scp;
  FakeServices services;
  KT_Agent agent;
  FakeDriverState state;
  FakeDriver driver;
};

TEST_F(WorkerTest, UnknownRequestRaisesSoftwareErrorAndStays) {
  TestWorker worker(agent, driver, WORKER_SERIAL);
  scp.serial_queue.Post(42, 0, 0, 0);
  for (int pass = 0; pass < 3; ++pass) {
    scp.upsStatus.ClearAlarm(ALARM_SOFTWARE_ERROR);
    EXPECT_EQ(worker.Serve(42, 0, 0), REQUEST_KEPT);
    EXPECT_TRUE(Alarm(ALARM_SOFTWARE_ERROR));
  }
  EXPECT_GE(scp.serial_queue.Find(42, 0), 0);
}

TEST_F(WorkerTest, StatusStaysQueuedAndFailuresAreCounted) {
  TestWorker worker(agent, driver, WORKER_SERIAL);
  scp.serial_queue.Post(BLOCK_STATUS, 1, 0, 0);
  EXPECT_EQ(worker.Serve(BLOCK_STATUS, 0, 0), REQUEST_DONE);
  EXPECT_EQ(scp.upsStatus.Branches().GetTime(1), clock->Now());
  EXPECT_GE(scp.serial_queue.Find(BLOCK_STATUS, 0), 0);  // held
  state.results["UpdateStatus"] = -1;
  EXPECT_EQ(worker.Serve(BLOCK_STATUS, 0, 0), REQUEST_FAILED);
  EXPECT_EQ(scp.serial_queue.GetAttempts(BLOCK_STATUS, 0), 1);
}

TEST_F(WorkerTest, IdentificationWritesDefaultActionsOnlyOnce) {
  TestWorker worker(agent, driver, WORKER_SERIAL);
  scp.upsStatus.SetAlarm(ALARM_DETERMINING_UPS_TYPE);
  scp.serial_queue.Post(BLOCK_UPS_INFO, 0, 0, 0);
  EXPECT_EQ(worker.Serve(BLOCK_UPS_INFO, 0, 0), REQUEST_DONE);
  EXPECT_FALSE(Alarm(ALARM_DETERMINING_UPS_TYPE));
  EXPECT_EQ(state.calls["UpdateCapabilities"], 1);
  EXPECT_EQ(services.os_info_calls, 1);
  EXPECT_GT(scp.notify.GetActionCount(), 0);
  EXPECT_TRUE(scp.notify.IsLoaded());
  EXPECT_GT(FileSize(kNotifyFileName), 0);
  EXPECT_LT(scp.serial_queue.Find(BLOCK_UPS_INFO, 0), 0);

  // A console changes the actions; a later identification (after re-detection) keeps them.
  scp.notify.RemoveAction(scp.notify.Actions().front());
  const int configured = scp.notify.GetActionCount();
  EXPECT_EQ(worker.Serve(BLOCK_UPS_INFO, 0, 0), REQUEST_DONE);
  EXPECT_EQ(scp.notify.GetActionCount(), configured);
}

// The fake driver with the capabilities of a real protocol object on the same SCP object.
class ProtocolCapabilities : public FakeDriver {
 public:
  ProtocolCapabilities(FakeDriverState& s, KT_SCP& scp, int protocol)
      : FakeDriver(s), protocol_(CreateUpsProtocol(protocol, scp)) {}
  int UpdateCapabilities() override {
    FakeDriver::UpdateCapabilities();
    return protocol_ ? protocol_->UpdateCapabilities() : -1;
  }

 private:
  std::unique_ptr<KT_UpsProtocol> protocol_;
};

// The first identification of a fresh agent gives the support maps of every later start
// (notify.dat read, then identified again): the UPS's own actions and events stay, and those
// it lacks stay cleared, although the default actions are set on the way.
TEST_F(WorkerTest, FirstIdentificationKeepsTheUpsOwnSupportMaps) {
  struct Case {
    const char* name;
    int protocol, model;
    std::vector<int> supportedEvents, unsupportedEvents;
  };
  const std::vector<Case> cases{
      {"Smart-UPS", 3, 8, {3, 25, 33}, {}},
      {"BCM without utility events", 0, 3, {3, 30}, {9, 10}},
      {"contact closure", 2, 4, {3}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(kNotifyFileName);
    scp.notify.Reset();
    scp.upsInfo.SetOsType(kOsTypeLinux);
    scp.upsInfo.SetModelIndex(c.model);
    ProtocolCapabilities caps(state, scp, c.protocol);
    TestWorker worker(agent, caps, WORKER_SERIAL);
    scp.serial_queue.Post(BLOCK_UPS_INFO, 0, 0, 0);
    ASSERT_EQ(worker.Serve(BLOCK_UPS_INFO, 0, 0), REQUEST_DONE);
    EXPECT_EQ(scp.notify.IsActionSupported(ACTION_REMOTE_HOST), 1);  // "Remote Warning"
    EXPECT_EQ(scp.notify.IsActionSupported(ACTION_CONSOLE_WARNING), 1);
    std::vector<int> events;
    scp.notify.GetSupportedEvents(events);
    for (int e : c.supportedEvents) EXPECT_NE(std::find(events.begin(), events.end(), e), events.end()) << e;
    for (int e : c.unsupportedEvents)
      EXPECT_EQ(std::find(events.begin(), events.end(), e), events.end()) << e;

    // A later start: notify.dat holds these maps, and identifying again changes nothing.
    KT_SCP later;
    FakeServices laterServices(later);
    ASSERT_EQ(laterServices.ReadNotifyFile(), 1);
    EXPECT_EQ(later.notify.GetSupportMap(SUPPORT_ACTIONS), scp.notify.GetSupportMap(SUPPORT_ACTIONS));
    EXPECT_EQ(later.notify.GetSupportMap(SUPPORT_EVENTS), scp.notify.GetSupportMap(SUPPORT_EVENTS));
    later.upsInfo.SetOsType(kOsTypeLinux);
    later.upsInfo.SetModelIndex(c.model);
    ASSERT_EQ(CreateUpsProtocol(c.protocol, later)->UpdateCapabilities(), 1);
    EXPECT_EQ(later.notify.GetSupportMap(SUPPORT_ACTIONS), scp.notify.GetSupportMap(SUPPORT_ACTIONS));
    EXPECT_EQ(later.notify.GetSupportMap(SUPPORT_EVENTS), scp.notify.GetSupportMap(SUPPORT_EVENTS));
  }
}

TEST_F(WorkerTest, FailedIdentificationStillStampsTheAgentBranches) {
  TestWorker worker(agent, driver, WORKER_SERIAL);
  state.results["UpdateInfo"] = 0;
  scp.serial_queue.Post(BLOCK_UPS_INFO, 0, 0, 0);
  EXPECT_EQ(worker.Serve(BLOCK_UPS_INFO, 0, 0), REQUEST_FAILED);
  EXPECT_EQ(scp.upsInfo.Branches().GetTime(4), clock->Now());
  EXPECT_EQ(scp.upsInfo.Branches().GetTime(5), 0);
  EXPECT_EQ(state.calls["UpdateCapabilities"], 0);
}

TEST_F(WorkerTest, FailedBatteryTestStartIsLogged) {
  TestWorker worker(agent, driver, WORKER_SERIAL);
  state.results["InitiateBatteryTest"] = -1;
  scp.serial_queue.Post(BLOCK_BATTERY_TEST, 0, 0, 0);
  EXPECT_EQ(worker.Serve(BLOCK_BATTERY_TEST, 0, 0), REQUEST_FAILED);
  ASSERT_EQ(scp.batteryLog.GetRecordCount(), 1);
  EXPECT_EQ(scp.batteryLog.Records().back().data, std::vector<uint8_t>{3});
  EXPECT_EQ(scp.serial_queue.GetCount(), 0);
  EXPECT_GT(FileSize(kBatteryLogFileName), 0);

  state.results["InitiateBatteryTest"] = 1;
  scp.serial_queue.Post(BLOCK_BATTERY_TEST, 0, 0, 0);
  EXPECT_EQ(worker.Serve(BLOCK_BATTERY_TEST, 0, 0), REQUEST_DONE);
  EXPECT_GE(scp.serial_queue.Find(BLOCK_BATTERY_LOG, 0), 0);
}

TEST_F(WorkerTest, AdapterBatteryTestResultEndsItsPolling) {
  TestWorker worker(agent, driver, WORKER_SNMP);
  scp.serial_queue.Post(BLOCK_BATTERY_LOG, 1, 0, 0);
  state.results["UpdateBatteryTest"] = 1;  // still running
  EXPECT_EQ(worker.Serve(BLOCK_BATTERY_LOG, 0, 0), REQUEST_KEPT);
  EXPECT_GE(scp.serial_queue.Find(BLOCK_BATTERY_LOG, 0), 0);
  state.results["UpdateBatteryTest"] = 0;  // finished: the held poll goes
  EXPECT_EQ(worker.Serve(BLOCK_BATTERY_LOG, 0, 0), REQUEST_DONE);
  EXPECT_LT(scp.serial_queue.Find(BLOCK_BATTERY_LOG, 0), 0);
  EXPECT_GT(FileSize(kBatteryTestFileName), 0);
}

TEST_F(WorkerTest, ConfigurationSetFailureRaisesSoftwareErrorAndIsDropped) {
  TestWorker worker(agent, driver, WORKER_SERIAL);
  state.results["SetConfig"] = -1;
  scp.serial_queue.Post(BLOCK_CONFIG, 0, 1, 0);
  EXPECT_EQ(worker.Serve(BLOCK_CONFIG, 1, 0), REQUEST_DONE);
  EXPECT_TRUE(Alarm(ALARM_SOFTWARE_ERROR));
  AlarmDetail detail;
  ASSERT_EQ(scp.upsStatus.GetSoftwareErrorDetail(detail), 1);
  EXPECT_EQ(detail.code, 3);
  EXPECT_EQ(scp.serial_queue.GetCount(), 0);
  // The block holds the new settings all the same: they are in config.dat.
  EXPECT_GT(FileSize(kConfigFileName), 0);
}

// A UPS setting the console was told is set, but that config.dat could not keep, does not
// pass unseen: as for any other configuration SET, the software-error alarm goes up.
TEST_F(WorkerTest, ConfigurationSetThatCannotBeSavedRaisesSoftwareError) {
  TestWorker worker(agent, driver, WORKER_SERIAL);
  state.results["SetConfig"] = 1;
  // A directory in config.dat's place cannot be replaced by the new file.
  std::filesystem::create_directory(kConfigFileName);
  testing_support::WriteFileText(std::string(kConfigFileName) + "/keep", "x");
  scp.serial_queue.Post(BLOCK_CONFIG, 0, 1, 0);
  EXPECT_EQ(worker.Serve(BLOCK_CONFIG, 1, 0), REQUEST_DONE);
  EXPECT_TRUE(Alarm(ALARM_SOFTWARE_ERROR));
}

TEST_F(WorkerTest, UpsCommandFailureIsCountedAndDropped) {
  TestWorker worker(agent, driver, WORKER_SNMP);
  scp.serial_queue.Post(BLOCK_COMMAND, 0, 1, 11);
  EXPECT_EQ(worker.Serve(BLOCK_COMMAND, 1, 11), REQUEST_FAILED);
  EXPECT_EQ(scp.serial_queue.GetCount(), 0);
  scp.serial_queue.Post(BLOCK_COMMAND, 0, 1, 2);
  EXPECT_EQ(worker.Serve(BLOCK_COMMAND, 1, 2), REQUEST_DONE);
}

class SerialRunTest : public WorkerTest {
 protected:
  SerialRunTest() : protocol(state) {
    scp.config.SetSerialDeviceName(pty.path().c_str());
    scp.config.SetBaudRate(3);
    services.State(THREAD_SERIAL) = kThreadRunning;
    scp.serial_queue.Post(BLOCK_STATUS, 1, 0, 0);
  }
  TestPty pty;
  FakeProtocol protocol;
};

TEST_F(SerialRunTest, FiveFailedStatusReadsAreACommunicationLoss) {
  state.results["UpdateStatus"] = -1;
  EXPECT_EQ(RunSerialProtocol(agent, protocol), -1);
  EXPECT_EQ(state.calls["UpdateStatus"], 5);
  EXPECT_TRUE(Alarm(ALARM_LOST_UPS_COMM));
  EXPECT_EQ(protocol.port_, pty.path());
  EXPECT_EQ(protocol.baud_, 3);
  EXPECT_EQ(state.calls["Close"], 1);
}

TEST_F(SerialRunTest, FourFailuresThenASuccessAreNoLoss) {
  int reads = 0;
  struct Counting : FakeProtocol {
    Counting(FakeDriverState& s, int& reads, FakeServices& services) : FakeProtocol(s), reads_(reads), services_(services) {}
    int UpdateStatus() override {
      ++reads_;
      if (reads_ == 5 || reads_ >= 9) {
        if (reads_ >= 9) services_.RequestStopSerial();
        return 1;
      }
      return -1;
    }
    int& reads_;
    FakeServices& services_;
  } counting(state, reads, services);
  EXPECT_EQ(RunSerialProtocol(agent, counting), 0);
  EXPECT_EQ(reads, 9);
  EXPECT_FALSE(Alarm(ALARM_LOST_UPS_COMM));
  EXPECT_EQ(services.GetState(THREAD_SERIAL), kThreadEnded);
}

TEST_F(SerialRunTest, PulledCableRaisesLossAndCountsFailures) {
  state.results["IsCableConnected"] = 0;
  EXPECT_EQ(RunSerialProtocol(agent, protocol), -1);
  EXPECT_TRUE(Alarm(ALARM_LOST_UPS_COMM));
  EXPECT_EQ(state.calls["UpdateStatus"], 0);
  EXPECT_EQ(state.calls["IsCableConnected"], 5);
}

TEST_F(SerialRunTest, AlarmQueueReadStaysQueuedUntilItSucceeds) {
  scp.serial_queue.Post(BLOCK_ALARM_QUEUE, 0, 0, 0);
  struct FailsOnce : FakeProtocol {
    FailsOnce(FakeDriverState& s, KT_SCP& scp, FakeServices& services) : FakeProtocol(s), scp_(scp), services_(services) {}
    int UpdateAlarmQueue() override {
      if (++reads_ == 1) return -1;
      attemptsSeen_ = scp_.serial_queue.GetAttempts(BLOCK_ALARM_QUEUE, 0);
      services_.RequestStopSerial();
      return 1;
    }
    KT_SCP& scp_;
    FakeServices& services_;
    int reads_ = 0;
    int attemptsSeen_ = -1;
  } p(state, scp, services);
  EXPECT_EQ(RunSerialProtocol(agent, p), 0);
  EXPECT_EQ(p.reads_, 2);
  EXPECT_EQ(p.attemptsSeen_, 1);  // the failed read was counted and the request kept
  EXPECT_LT(scp.serial_queue.Find(BLOCK_ALARM_QUEUE, 0), 0);
  EXPECT_EQ(scp.alarmQueue.Branches().GetTime(0), clock->Now());
  EXPECT_EQ(scp.alarmQueue.Branches().GetTime(1), clock->Now());
}

TEST_F(SerialRunTest, PortThatIsNoSerialDeviceIsNotOpened) {
  scp.config.SetSerialDeviceName("/etc/hostname");
  EXPECT_EQ(RunSerialProtocol(agent, protocol), -1);
  EXPECT_EQ(state.calls["Configure"], 0);
}

TEST_F(SerialRunTest, SerialCommandsMapOntoTheProtocolHelpers) {
  scp.receptacles.SetCount(3);
  scp.receptacles.SetNonCriticalSegment(2);
  scp.receptacles.SetScheduledSegment(3);  // equal to the count: all segments
  state.results["SegmentCount"] = 3;
  scp.serial_queue.Post(BLOCK_COMMAND, 0, 1, 4);
  scp.serial_queue.Post(BLOCK_COMMAND, 0, 1, COMMAND_SEGMENT_RESTART);
  scp.serial_queue.Post(BLOCK_COMMAND, 0, 1, 11);
  struct StopAfterPass : FakeProtocol {
    StopAfterPass(FakeDriverState& s, FakeServices& services) : FakeProtocol(s), services_(services) {}
    int IsCableConnected() override {
      if (++passes_ > 1) services_.RequestStopSerial();
      return 1;
    }
    FakeServices& services_;
    int passes_ = 0;
  } p(state, services);
  EXPECT_EQ(RunSerialProtocol(agent, p), 0);
  EXPECT_EQ(state.calls["SetSegmentRestartDelay.1"], 1);
  EXPECT_EQ(state.calls["SetSegmentRestartDelay.2"], 0);  // the non-critical segment stays off
  EXPECT_EQ(state.calls["ShutdownAfterOs.255"], 1);
  EXPECT_EQ(state.calls["ShutdownAndRestart.255"], 1);
  EXPECT_EQ(state.calls["SegmentOnNow.2"], 1);
  EXPECT_LT(scp.serial_queue.Find(BLOCK_COMMAND, 4), 0);
}

TEST_F(WorkerTest, SerialThreadRedetectsAfterALossAndStops) {
  TestPty pty;
  scp.config.SetSerialDeviceName(pty.path().c_str());
  agent.SetSerialLinkFactory([this](KT_SCP& s) { return std::make_unique<FakeLink>(state, s); });
  state.results["UpdateStatus"] = -1;
  scp.serial_queue.Post(BLOCK_STATUS, 1, 0, 0);
  scp.upsInfo.SetProtocol(PROTOCOL_APC);
  // Stop once detection has run twice.
  services.SetPauseHook([this](int) {
    if (state.calls["Connect"] >= 2) services.RequestStopSerial();
  });
  services.SetThreadProcedure(THREAD_SERIAL, [this] { return SerialThread(agent); });
  ASSERT_EQ(services.StartSerialThread(), 1);
  ASSERT_TRUE(services.JoinThreads(20000));
  EXPECT_GE(state.calls["Connect"], 2);
  EXPECT_EQ(services.GetState(THREAD_SERIAL), kThreadEnded);
}

// An SNMP client whose answers the test sets.
class FakeSnmp : public FakeOperations<SnmpAdapterClient> {
 public:
  using FakeOperations<SnmpAdapterClient>::FakeOperations;
  int Open(const std::string&, const std::string&, const std::string&) override { return s_.Call("Open"); }
  int ProbeAdapter() override { return s_.Call("ProbeAdapter"); }
  int StartSleepMode() override { return 1; }
  int DelayedOff(int) override { return 1; }
  void SetStopCheck(std::function<bool()> stop) override { s_.stopCheck = std::move(stop); }
};

// A network BCM adapter client whose answers the test sets.
class FakeNetBcm : public FakeOperations<NetBcmAdapterClient> {
 public:
  using FakeOperations<NetBcmAdapterClient>::FakeOperations;
  int SetTarget(const std::string&, const std::string& accessCode) override {
    return s_.Call("SetTarget." + accessCode);
  }
  int Open() override { return s_.Call("Open"); }
  int ProbeAdapter() override { return s_.Call("ProbeAdapter"); }
  int StartSleepMode(int) override { return 1; }
  int SegmentDelayedOn(int) override { return 1; }
  int SegmentDelayedOff(int) override { return 1; }
  int UpdateSegmentState(int) override { return 1; }
  int SegmentSleep(int) override { return 1; }
  void SetStopCheck(std::function<bool()> stop) override { s_.stopCheck = std::move(stop); }
};

// An adapter that does not answer at the start (after a power cut it may boot later than this
// computer) is no wrong setting: the mode stays, the lost communication with the UPS is
// raised, the adapter is asked again at the polling interval and nothing else is asked of it;
// once it answers, the UPS is identified and watched. The thread's stop check holds once the
// thread is told to stop.
TEST(AdapterThreadSilence, SilentAdapterKeepsTheModeAndIsAskedAgainAtThePollingInterval) {
  struct Case {
    bool snmp;
    const char* silent;  // what fails while the adapter is away
    int result;
  };
  const Case cases[] = {{true, "ProbeAdapter", 0}, {true, "Open", -1}, {false, "ProbeAdapter", 0}, {false, "Open", -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.snmp ? "SNMP" : "NetBCM") + ", " + c.silent + " fails");
    TempDir dir;
    ScopedManualClock clock{1700000000};
    KT_SCP scp;
    FakeServices services(scp);
    KT_Agent agent(scp, services);
    FakeDriverState state;
    const uint8_t mode = c.snmp ? COMM_SNMP_ADAPTER : COMM_NETBCM_ADAPTER;
    const AgentThreadId thread = c.snmp ? THREAD_SNMP : THREAD_NETBCM;
    scp.config.SetAdapterName("10.0.0.1");
    scp.config.SetReadCommunity("public");
    scp.config.SetWriteCommunity("private");
    scp.config.SetPollingInterval(10);
    scp.config.SetCommMode(mode);
    agent.mode = mode;
    scp.SetFlag(SCP_FLAG_TCPIP);
    agent.PostAdapterRequests();
    state.results[c.silent] = c.result;
    agent.SetSnmpClientFactory([&state](KT_SCP&) { return std::make_unique<FakeSnmp>(state); });
    agent.SetNetBcmClientFactory([&state](KT_SCP&) { return std::make_unique<FakeNetBcm>(state); });
    const int64_t start = clock->Now();
    const int64_t answers = start + 45;
    std::vector<int64_t> tries;
    int pauses = 0;
    services.SetPauseHook([&](int) {
      if (state.calls["Open"] > static_cast<int>(tries.size())) tries.push_back(clock->Now());
      if (clock->Now() < answers) {
        // From the end of the first connection (the probe's tries and pauses) on.
        if (clock->Now() >= start + 5) {
          EXPECT_EQ(scp.upsStatus.IsAlarmSet(ALARM_LOST_UPS_COMM), 1);
        }
        EXPECT_NE(scp.upsStatus.IsAlarmSet(ALARM_IDLE), 1);
        EXPECT_EQ(scp.config.GetCommMode(), mode);
        EXPECT_EQ(state.calls["UpdateInfo"] + state.calls["UpdateStatus"] + state.calls["UpdateMeter"], 0);
      } else {
        state.results.erase(c.silent);
      }
      clock->AdvanceSeconds(1);
      if (state.calls["UpdateStatus"] >= 1 || ++pauses == 200) services.RequestStop(thread);
    });
    services.State(thread) = kThreadRunning;
    EXPECT_EQ(c.snmp ? SNMPThread(agent) : NetBCMThread(agent), 0);
    EXPECT_LT(pauses, 200);
    EXPECT_EQ(state.calls["UpdateInfo"], 1);
    EXPECT_GE(state.calls["UpdateStatus"], 1);
    EXPECT_EQ(scp.config.GetCommMode(), mode);
    EXPECT_EQ(agent.mode.load(), mode);
    EXPECT_NE(scp.upsStatus.IsAlarmSet(ALARM_IDLE), 1);
    EXPECT_TRUE(services.PopupTexts().empty());
    // Tried at the start and then once per polling interval (a pass of the thread is about
    // five seconds, so a try comes at most a pass late).
    ASSERT_GE(tries.size(), 4u);
    EXPECT_LE(tries.front() - start, 2);
    for (size_t i = 1; i < tries.size(); ++i) {
      EXPECT_GE(tries[i] - tries[i - 1], 10) << "try " << i;
      EXPECT_LE(tries[i] - tries[i - 1], 17) << "try " << i;
    }
    ASSERT_TRUE(state.stopCheck);
    EXPECT_TRUE(state.stopCheck());
  }
}

// An adapter thread that cannot run for want of a setting, or because its adapter's name can
// never name a host, never leaves the agent looking as if it watched a UPS: idle, with a
// message box naming the setting.
TEST(AdapterThreadSettings, MissingSettingTurnsTheAgentIdleAndNamesIt) {
  struct Case {
    bool snmp;
    const char* adapter;
    const char* readCommunity;
    const char* writeCommunity;
    const char* message;
  };
  const Case cases[] = {
      {true, nullptr, "public", "private", kAdapterNameMissingText},
      {true, "", "public", "private", kAdapterNameMissingText},
      {true, "10.0.0.1", nullptr, "private", kReadCommunityMissingText},
      {true, "10.0.0.1", "public", nullptr, kWriteCommunityMissingText},
      {true, "10.0.0.1", "public", "", kWriteCommunityMissingText},
      {false, nullptr, nullptr, "secret", kAdapterNameMissingText},
      {true, "ups adapter", "public", "private", kSnmpAdapterIncorrectText},
      {false, "ups..example:7010", nullptr, "secret", kNetBcmAdapterIncorrectText},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.snmp ? "SNMP" : "NetBCM") + " adapter=" + (c.adapter ? c.adapter : "(none)") +
                 " read=" + (c.readCommunity ? c.readCommunity : "(none)") +
                 " write=" + (c.writeCommunity ? c.writeCommunity : "(none)"));
    TempDir dir;
    ScopedManualClock clock{1700000000};
    KT_SCP scp;
    FakeServices services(scp);
    KT_Agent agent(scp, services);
    FakeDriverState state;
    if (c.adapter) scp.config.SetAdapterName(c.adapter);
    if (c.readCommunity) scp.config.SetReadCommunity(c.readCommunity);
    if (c.writeCommunity) scp.config.SetWriteCommunity(c.writeCommunity);
    scp.SetFlag(SCP_FLAG_TCPIP);
    scp.config.SetCommMode(c.snmp ? COMM_SNMP_ADAPTER : COMM_NETBCM_ADAPTER);
    agent.mode = c.snmp ? COMM_SNMP_ADAPTER : COMM_NETBCM_ADAPTER;
    scp.upsStatus.SetAlarm(ALARM_DETERMINING_UPS_TYPE);
    const AgentThreadId thread = c.snmp ? THREAD_SNMP : THREAD_NETBCM;
    agent.SetSnmpClientFactory([&state](KT_SCP&) { return std::make_unique<FakeSnmp>(state); });
    agent.SetNetBcmClientFactory([&state](KT_SCP&) { return std::make_unique<FakeNetBcm>(state); });
    // A thread that runs on after all is stopped, so the case fails instead of hanging.
    int pauses = 0;
    services.SetPauseHook([&](int) {
      if (++pauses == 20) services.RequestStop(thread);
    });
    services.State(thread) = kThreadRunning;
    EXPECT_EQ(c.snmp ? SNMPThread(agent) : NetBCMThread(agent), 0);
    EXPECT_LT(pauses, 20);
    EXPECT_EQ(services.GetState(thread), kThreadEnded);
    EXPECT_EQ(state.calls["Open"], 0);
    EXPECT_EQ(scp.config.GetCommMode(), COMM_IDLE);
    EXPECT_EQ(agent.mode.load(), COMM_IDLE);
    EXPECT_EQ(scp.upsStatus.IsAlarmSet(ALARM_IDLE), 1);
    EXPECT_NE(scp.upsStatus.IsAlarmSet(ALARM_DETERMINING_UPS_TYPE), 1);
    EXPECT_EQ(scp.upsStatus.GetRefreshPeriod(), kRefreshNever);
    EXPECT_EQ(services.PopupTexts(), std::vector<std::string>{c.message});
  }
}

// The network BCM adapter's access code is the write community; without one the adapter gets
// its factory code and is watched as usual.
TEST_F(WorkerTest, NetBcmAdapterWithoutWriteCommunityGetsTheFactoryAccessCode) {
  scp.config.SetAdapterName("10.0.0.1");
  scp.SetFlag(SCP_FLAG_TCPIP);
  agent.PostAdapterRequests();
  agent.SetNetBcmClientFactory([this](KT_SCP&) { return std::make_unique<FakeNetBcm>(state); });
  services.SetPauseHook([this](int) {
    clock->AdvanceSeconds(1);
    if (state.calls["UpdateStatus"] >= 1) services.RequestStop(THREAD_NETBCM);
  });
  services.State(THREAD_NETBCM) = kThreadRunning;
  EXPECT_EQ(NetBCMThread(agent), 0);
  EXPECT_EQ(state.calls["SetTarget.KelpR3"], 1);
  EXPECT_EQ(state.calls["ProbeAdapter"], 1);
  EXPECT_GE(state.calls["UpdateStatus"], 1);
  EXPECT_FALSE(Alarm(ALARM_IDLE));
  EXPECT_TRUE(services.PopupTexts().empty());
}

// While communication with the UPS is lost an adapter thread asks the status on every pass,
// however fresh the monitor loop keeps the status stamps then (a long polling interval would
// otherwise keep the one read that ends the loss from ever being due); a good read is an
// answer of the adapter, and a thread that ends leaves no adapter to watch.
TEST_F(WorkerTest, AdapterThreadsAskTheStatusOnEveryPassWhileCommunicationIsLost) {
  for (const bool snmp : {false, true}) {
    SCOPED_TRACE(snmp ? "SNMP" : "network BCM");
    state.calls.clear();
    scp.config.SetAdapterName("10.0.0.1");
    scp.config.SetReadCommunity("public");
    scp.config.SetWriteCommunity("private");
    scp.config.SetPollingInterval(600);
    scp.SetFlag(SCP_FLAG_TCPIP);
    agent.PostAdapterRequests();
    agent.SetNetBcmClientFactory([this](KT_SCP&) { return std::make_unique<FakeNetBcm>(state); });
    agent.SetSnmpClientFactory([this](KT_SCP&) { return std::make_unique<FakeSnmp>(state); });
    const AgentThreadId thread = snmp ? THREAD_SNMP : THREAD_NETBCM;
    int pauses = 0;
    int64_t heard = 0;
    services.SetPauseHook([&](int) {
      clock->AdvanceSeconds(1);
      {
        auto lock = scp.Lock();  // as the monitor loop does while the loss lasts
        scp.upsStatus.SetAlarm(ALARM_LOST_UPS_COMM);
        scp.upsStatus.Branches().Touch(1);
      }
      heard = std::max(heard, agent.adapterHeard.load());
      if (++pauses == 20) services.RequestStop(thread);
    });
    services.State(thread) = kThreadRunning;
    EXPECT_EQ(snmp ? SNMPThread(agent) : NetBCMThread(agent), 0);
    EXPECT_GE(state.calls["UpdateStatus"], 3);
    EXPECT_GT(heard, 1700000000);
    EXPECT_EQ(agent.adapterHeard.load(), 0);
  }
}

TEST_F(WorkerTest, SnmpThreadPollsUntilStopped) {
  scp.config.SetAdapterName("10.0.0.1");
  scp.config.SetReadCommunity("public");
  scp.config.SetWriteCommunity("private");
  agent.PostAdapterRequests();
  agent.SetSnmpClientFactory([this](KT_SCP&) { return std::make_unique<FakeSnmp>(state); });
  services.SetPauseHook([this](int) {
    clock->AdvanceSeconds(1);
    if (state.calls["UpdateMeter"] >= 2) services.RequestStopSNMP();
  });
  services.State(THREAD_SNMP) = kThreadRunning;
  EXPECT_EQ(SNMPThread(agent), 0);
  EXPECT_GE(state.calls["UpdateStatus"], 1);
  EXPECT_EQ(state.calls["UpdateInfo"], 1);
  EXPECT_LT(scp.serial_queue.Find(BLOCK_UPS_INFO, 0), 0);
  EXPECT_GE(scp.serial_queue.Find(BLOCK_STATUS, 0), 0);
  EXPECT_EQ(services.GetState(THREAD_SNMP), kThreadEnded);
}

}  // namespace
