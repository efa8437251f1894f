// Worker thread start and stop, the single-instance test, message boxes and the event log of
// the daemon's services.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "agent/actions/nt_services.h"
#include "platform/service_settings.h"
#include "platform/user_terminals.h"
#include "tests/agent/agent_fakes.h"
#include "tests/support/test_support.h"

using testing_support::TempDir;
using testing_support::UniqueName;

namespace {

// A worker that runs until asked to stop, as every agent thread does.
AgentThreadProc Worker(KT_OSServices& s, AgentThreadId id, std::atomic<int>* passes = nullptr) {
  return [&s, id, passes] {
    while (s.GetState(id) == kThreadRunning) {
      if (passes) ++*passes;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    s.State(id).store(kThreadEnded);
    return 0;
  };
}

class ServicesTest : public ::testing::Test {
 protected:
  ServicesTest() : nt(scp) {
    nt.SetPauseHook([](int) {});
    nt.SetConsoleMode(true);
    platform::SetSystemLogSink([this](std::string_view source, platform::LogEntryType type, std::string_view text) {
      log.push_back({std::string(source), type, std::string(text)});
    });
    platform::SetUserTerminalSink([this](std::string_view caption, std::string_view text) {
      terminals.push_back(std::string(caption) + "|" + std::string(text));
    });
  }
  ~ServicesTest() override {
    platform::SetSystemLogSink(nullptr);
    platform::SetUserTerminalSink(nullptr);
  }
  struct Entry {
    std::string source;
    platform::LogEntryType type;
    std::string text;
  };
  TempDir dir;
  KT_SCP scp;
  KT_NTServices nt;
  std::vector<Entry> log;
  std::vector<std::string> terminals;
};

TEST_F(ServicesTest, StopAgentStopsEveryStartedThreadTheNetBcmThreadToo) {
  for (AgentThreadId id : {THREAD_SERIAL, THREAD_NETWORK, THREAD_LOCAL, THREAD_NETBCM}) {
    nt.SetThreadProcedure(id, Worker(nt, id));
    ASSERT_EQ(nt.StartAgentThread(id), 1);
    EXPECT_EQ(nt.GetState(id), kThreadRunning);
  }
  // The SNMP thread was never started: its word stays 255 and nothing waits for it.
  nt.StopAgent(1);
  for (AgentThreadId id : {THREAD_SERIAL, THREAD_NETWORK, THREAD_LOCAL, THREAD_NETBCM, THREAD_SNMP}) {
    EXPECT_EQ(nt.GetState(id), kThreadEnded) << id;
  }
  EXPECT_FALSE(nt.IsRunning());
}

TEST_F(ServicesTest, ThreadWithoutProcedureDoesNotStartAndDoesNotHoldTheStop) {
  EXPECT_EQ(nt.StartNetworkThread(), -1);
  EXPECT_EQ(nt.GetState(THREAD_NETWORK), kThreadEnded);
  const auto start = std::chrono::steady_clock::now();
  nt.StopAgent(1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_FALSE(nt.IsRunning());
}

TEST_F(ServicesTest, ThreadThatNeverStopsIsLeftAfterTheBound) {
  std::atomic<bool> release{false};
  nt.SetThreadProcedure(THREAD_SERIAL, [&] {
    while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    nt.State(THREAD_SERIAL).store(kThreadEnded);
    return 0;
  });
  ASSERT_EQ(nt.StartSerialThread(), 1);
  nt.RequestStopSerial();
  EXPECT_FALSE(nt.JoinThreads(100));
  ASSERT_FALSE(log.empty());
  EXPECT_NE(log.back().text.find("serial thread did not stop"), std::string::npos);
  // While the old thread lingers no second serial thread is started.
  EXPECT_EQ(nt.StartSerialThread(), -1);
  release = true;
  for (int i = 0; i < 500 && nt.GetState(THREAD_SERIAL) != kThreadEnded; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  // The detached thread's last step follows its procedure's end.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

TEST_F(ServicesTest, EndedThreadCanBeStartedAgain) {
  std::atomic<int> passes{0};
  nt.SetThreadProcedure(THREAD_SNMP, Worker(nt, THREAD_SNMP, &passes));
  ASSERT_EQ(nt.StartSNMPThread(), 1);
  EXPECT_EQ(nt.StartSNMPThread(), -1);  // already running
  nt.RequestStopSNMP();
  ASSERT_TRUE(nt.JoinThreads(5000));
  EXPECT_EQ(nt.StartSNMPThread(), 1);
  nt.RequestStopSNMP();
  EXPECT_TRUE(nt.JoinThreads(5000));
}

TEST_F(ServicesTest, SingleInstanceMappingIsFoundBySecondAgent) {
  const std::string prefix = UniqueName("single");
  setenv(platform::kNamePrefixVariable, prefix.c_str(), 1);
  {
    KT_SCP other;
    KT_NTServices first(scp);
    KT_NTServices second(other);
    EXPECT_EQ(first.IsAlreadyRunning(), 0);
    EXPECT_EQ(second.IsAlreadyRunning(), 1);
  }
  // The first holder is gone: a new agent finds nothing.
  KT_NTServices third(scp);
  EXPECT_EQ(third.IsAlreadyRunning(), 0);
  testing_support::RestoreProgramNamePrefix();
}

TEST_F(ServicesTest, PopupRefusesNullTextAndCutsTheCaption) {
  EXPECT_EQ(nt.PopupMessage(nullptr, "c", 0), -1);
  EXPECT_EQ(nt.errorClass, ERR_AGENT_SERVICES);
  EXPECT_EQ(nt.function, 3);
  EXPECT_EQ(nt.code, 1);
  const std::string caption(100, 'c');
  EXPECT_EQ(nt.PopupMessage("text", caption.c_str(), kMessageBoxAgentStyle), 1);
  EXPECT_EQ(nt.LastCaption(), std::string(69, 'c'));
}

TEST_F(ServicesTest, ServiceMessageGoesToSystemLogAndTerminalsWithoutControlCharacters) {
  nt.SetConsoleMode(false);
  nt.PopupMessage("Mains \x1b[2Jfailed\nline two", kAgentMessageCaption, kMessageBoxAgentStyle);
  ASSERT_TRUE(nt.WaitMessageBox(5000));
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].source, "VigilNT");
  EXPECT_EQ(log[0].type, platform::LogEntryType::kWarning);
  EXPECT_EQ(log[0].text, "Tremona Agent Message : Mains ?[2Jfailed?line two");
  ASSERT_EQ(terminals.size(), 1u);
  EXPECT_NE(terminals[0].find("Mains \x1b"), std::string::npos);  // the sink gets the raw text;
  EXPECT_EQ(platform::PrintableText("a\x1b" "b\nc", true), "a?b\nc");  // the writer cleans it
}

TEST_F(ServicesTest, LogEventWritesEventNamesOnly) {
  EXPECT_EQ(nt.LogEvent(1, 36), 0);
  EXPECT_EQ(nt.LogEvent(2, 0), 0);
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(nt.LogEvent(0, EVENT_ON_BATTERY), 1);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].type, platform::LogEntryType::kError);
  EXPECT_EQ(log[0].text, GetEventName(EVENT_ON_BATTERY));
}

TEST_F(ServicesTest, OsInfoIsLinuxWithTheKernelVersion) {
  ASSERT_EQ(nt.SetOsInfo(), 1);
  EXPECT_EQ(scp.upsInfo.GetOsType(), kOsTypeLinux);
  EXPECT_EQ(scp.upsInfo.GetOsName(), "Linux");
  EXPECT_GE(scp.upsInfo.GetOsVersionMajor(), 3);
  EXPECT_NE(scp.upsInfo.GetOsVersionMinor(), 255);
}

TEST_F(ServicesTest, QuickServiceStopSignalsTheExitEvent) {
  nt.SetConsoleMode(false);
  EXPECT_FALSE(nt.IsExitSignalled());
  nt.StopAgent(0);
  EXPECT_FALSE(nt.IsExitSignalled());  // left to the system shutdown
  nt.StopAgent(1);
  EXPECT_TRUE(nt.IsExitSignalled());
}

}  // namespace
