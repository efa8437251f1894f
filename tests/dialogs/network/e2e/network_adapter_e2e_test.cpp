// The network adapter configuration against real peers, in a network of the test's own: the
// simulated network BCM adapter on 127.0.0.2:7010, snmpd playing an SNMP adapter on 127.0.0.1,
// and a real VigilNT on 127.0.0.1 that takes the adapter and starts polling it.
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <set>

#include "core/scp/record_writer.h"
#include "core/scp/scp.h"
#include "dialogs/frame/request_path.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/network/network_adapter_config.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/dialogs/harness/trem_fixture.h"
#include "tests/support/snmp_peer.h"
#include "tests/support/test_support.h"
#include "tools/netbcm_adapter.h"

TREM_HARNESS_PRIVATE_NETWORK();

namespace {

constexpr const char* kAdapterIp = "127.0.0.2";
// config.dat starts with 200 + the record format of the block that follows.
constexpr uint8_t kConfigFormatBase = 200;
const std::vector<uint8_t> kCheckCommand{0xAB, 0x01, 0xB2};

class NetworkAdapterE2eTest : public trem_harness::TremTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("adapters"); }
  void SetUp() override {
    TremTest::SetUp();
    if (!trem_harness::HarnessInPrivateNetwork()) GTEST_SKIP() << "needs a network of its own";
    flags_ = gScp.GetFlags();
    gScp.SetFlag(SCP_FLAG_SNMP | SCP_FLAG_TCPIP);
    CNetworkAdapterConfig::SetNetBcmSecondLength(100);
    std::string error;
    ASSERT_EQ(sim.Start(&error), 0) << error;
    ASSERT_TRUE(vigil.InstallShippedMib());
    ASSERT_TRUE(vigil.Start({"-b", "-x", "5"}));
    ASSERT_TRUE(
        AgentProcess::WaitFor([&] { return Count(vigil.Stderr(), "NETWORK THREAD IS ALIVE") > 0; }, 30000))
        << vigil.Stderr();
    ASSERT_TRUE(udp.Open(error, "127.0.0.1")) << error;
  }
  void TearDown() override {
    CloseAllWindows();
    CNetworkAdapterConfig::SetNetBcmSecondLength(1000);
    gScp.ClearFlag(0xFFFFFFFFu);
    gScp.SetFlag(flags_);
    sim.Stop();
    TremTest::TearDown();
  }
  CNetworkAdapterConfig* Open() {
    auto* d = new CNetworkAdapterConfig(nullptr, "localhost");
    EXPECT_TRUE(real.PumpUntil([&] { return !d->IsBusy(); }, 15000));
    return d;
  }
  // Verify Adapter with these texts; waits until every exchange is over.
  void Verify(CNetworkAdapterConfig* d, const QString& host, const QString& password, const QString& get,
              const QString& set) {
    d->Control<QLineEdit>(IDC_NA_HOST)->setText(host);
    d->Control<QLineEdit>(IDC_NA_PASSWORD)->setText(password);
    d->Control<QLineEdit>(IDC_NA_GET)->setText(get);
    d->Control<QLineEdit>(IDC_NA_SET)->setText(set);
    QTest::mouseClick(d->Control<QPushButton>(IDC_NA_VERIFY_ADAPTER), Qt::LeftButton);
    ASSERT_TRUE(real.PumpUntil([&] { return d->property("working").toBool(); }, 2000) || boxes.Count() > 0);
    ASSERT_TRUE(real.PumpUntil([&] { return !d->ExchangeRunning(); }, 90000));
    real.PumpFor(50);
  }
  int ChecksSent() {
    int n = 0;
    for (const auto& datagram : sim.Received()) {
      n += std::search(datagram.begin(), datagram.end(), kCheckCommand.begin(), kCheckCommand.end()) !=
                   datagram.end()
               ? 1
               : 0;
    }
    return n;
  }
  std::string Output() { return vigil.Stderr() + vigil.Stdout(); }
  // The client ports snmpd logged a packet from.
  static std::set<std::string> ClientPorts(const testing_support::SnmpAdapterPeer& peer) {
    std::set<std::string> ports;
    const std::string log = peer.Log();
    const std::string mark = "Connection from UDP: [127.0.0.1]:";
    for (size_t at = log.find(mark); at != std::string::npos; at = log.find(mark, at + 1)) {
      const size_t from = at + mark.size();
      ports.insert(log.substr(from, log.find_first_not_of("0123456789", from) - from));
    }
    return ports;
  }
  // Ends the agent as the system would and reads the configuration it saved.
  void StopAgentAndRead(KT_SCP& saved) {
    vigil.Signal(SIGTERM);
    ASSERT_GE(vigil.Wait(30000), 0) << Output();
    ASSERT_TRUE(ReadConfigFile(vigil.File("config.dat"), saved.config));
  }

  // Starts the agent again on its data directory (stopped by the caller) and asks it for its
  // UPS information, as the console does before it opens a dialog: the agent's software version
  // in it decides whether the dialog handles the timing values.
  void RestartAgent() {
    const size_t served = Count(vigil.Stderr(), "NETWORK THREAD IS ALIVE");
    ASSERT_TRUE(vigil.Start({"-b", "-x", "5"}));
    ASSERT_TRUE(AgentProcess::WaitFor(
        [&] { return Count(vigil.Stderr(), "NETWORK THREAD IS ALIVE") > served; }, 30000))
        << Output();
    AskUpsInformation();
  }
  void AskUpsInformation() {
    ASSERT_EQ(RequestForHost(1, BLOCK_UPS_INFO, 0, 0), 1);
    ASSERT_TRUE(real.PumpIdle(15000));
    auto lock = gScp.Lock();
    ASSERT_EQ(gScp.upsInfo.GetSoftwareVersionSecond(), 1) << "an agent that keeps the timing values";
  }
  // The timing values the dialog shows once the agent's answers are in; the console's own copy
  // is put back to the defaults first, so that only the agent's answer can show anything else.
  std::pair<int, int> ShownTiming() {
    {
      auto lock = gScp.Lock();
      gScp.config.SetPollingInterval(0);
      gScp.config.SetCommTimeout(120);
      gScp.config.Branches().ClearTime(12);
    }
    QPointer<CNetworkAdapterConfig> d = Open();
    const std::pair<int, int> shown{d->Control<QSpinBox>(IDC_NA_POLLING)->value(),
                                    d->Control<QSpinBox>(IDC_NA_TIMEOUT)->value()};
    d->OnCancel();
    real.PumpIdle();
    return shown;
  }

  uint32_t flags_ = 0;
  netbcmsim::NetBcmAdapter sim{netbcmsim::AdapterOptions{kAdapterIp, 7010}};
  AgentProcess vigil{{"bind_address = 127.0.0.1"}};  // the adapter holds 127.0.0.2:7010
  trem_harness::UdpAgent udp;
  trem_harness::AgentLink real{udp};
};

TEST_F(NetworkAdapterE2eTest, NetworkBcmPasswordCheckOutcomes) {
  struct Case {
    const char* ups;  // the simulated UPS's state (null: all well)
    const char* code;
    const char* box;
    bool verified;
    bool okShown;
    int checks;
  };
  const Case cases[] = {
      {nullptr, "KelpR3", "Password correct", true, true, 1},
      {nullptr, "Wrong1", "Password incorrect or unverified ", false, true, 1},
      {"mains fail", "KelpR3", "Can't verify password now since the UPS is on Battery", false, true, 0},
      {"bypass on", "KelpR3", "Connected UPS not up - Can't select this network adapter at this time", true,
       false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.ups != nullptr ? c.ups : "well") + " / " + c.code);
    sim.Do("mains ok");
    sim.Do("bypass off");
    if (c.ups != nullptr) {
      ASSERT_TRUE(sim.Do(c.ups));
    }
    sim.ClearLog();
    boxes.Clear();
    QPointer<CNetworkAdapterConfig> d = Open();
    Verify(d, kAdapterIp, c.code, "marble", "harvest");
    ASSERT_FALSE(d.isNull());
    EXPECT_EQ(d->AdapterKind(), ADAPTER_NETBCM);
    EXPECT_EQ(d->Control<QLineEdit>(IDC_NA_UPS_INFO)->text(), QStringLiteral("PowerGuard 1500 1500 VA"));
    EXPECT_EQ(d->Control<QLineEdit>(IDC_NA_ADAPTER_INFO)->text(), QStringLiteral("Cradlenet version 3.50"));
    EXPECT_TRUE(boxes.Saw(c.box)) << boxes.Count();
    EXPECT_EQ(d->PasswordsVerified(), c.verified);
    EXPECT_EQ(d->Control(IDOK)->isVisible(), c.okShown);
    EXPECT_EQ(ChecksSent(), c.checks);
    if (c.ups == nullptr && c.verified) Screenshot(d, QStringLiteral("network_adapter_netbcm"));
    d->OnCancel();
    real.PumpIdle();
  }
}

TEST_F(NetworkAdapterE2eTest, SnmpCommunityAttempts) {
  if (testing_support::FindProgram("snmpd").empty()) GTEST_SKIP() << "snmpd is not installed";
  gScp.ClearFlag(SCP_FLAG_TCPIP);  // SNMP only: the adapter counts nothing but SNMP
  struct Case {
    const char* entered;
    const char* adapters;
    const char* field;  // the get community at the end
    int failedAttempts;
    bool answers;
  };
  const Case cases[] = {
      {"public", "public", "public", 0, true},  {"marble", "harvest", "harvest", 1, true},
      {"north", "harvest", "harvest", 2, true}, {"north", "marble", "marble", 1, true},
      {"north", "other", "harvest", 3, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.entered) + " -> " + c.adapters);
    testing_support::SnmpAdapterPeer peer(c.adapters, "private");
    ASSERT_TRUE(peer.Start()) << peer.error();
    boxes.Clear();
    QPointer<CNetworkAdapterConfig> d = Open();
    const size_t before = ClientPorts(peer).size();
    Verify(d, QString::fromStdString(peer.peerName()), "KelpR3", c.entered, "private");
    // Each attempt is a session of its own (its retries come from the same port). A loaded
    // snmpd may log its last requests a little after the dialog gave up on them.
    const size_t expected = static_cast<size_t>(c.failedAttempts + (c.answers ? 3 : 0));
    AgentProcess::WaitFor([&] { return ClientPorts(peer).size() - before >= expected; }, 5000);
    const int sessions = static_cast<int>(ClientPorts(peer).size() - before);
    EXPECT_EQ(d->Control<QLineEdit>(IDC_NA_GET)->text(), QString::fromLatin1(c.field));
    EXPECT_EQ(d->AdapterKind(), ADAPTER_SNMP);
    EXPECT_TRUE(d->Control(IDC_NA_GET)->isVisible());
    EXPECT_TRUE(d->Control(IDC_NA_SET)->isVisible());
    if (c.answers) {
      EXPECT_TRUE(boxes.Saw("Password correct"));
      EXPECT_TRUE(d->PasswordsVerified());
      EXPECT_TRUE(d->Control(IDOK)->isVisible());
      // The attempts, the password check and the second identification.
      EXPECT_EQ(sessions, c.failedAttempts + 3);
      if (c.failedAttempts == 0) Screenshot(d, QStringLiteral("network_adapter_snmp"));
    } else {
      EXPECT_TRUE(boxes.Saw(QString::fromStdString(peer.peerName()) +
                            " is not responding yet - enter passwords and click 'Verify Password(s)'"));
      EXPECT_EQ(sessions, c.failedAttempts);
      EXPECT_FALSE(d->PasswordsVerified());
      EXPECT_FALSE(d->Control(IDOK)->isVisible());
    }
    d->OnCancel();
    real.PumpIdle();
  }
}

TEST_F(NetworkAdapterE2eTest, OkPointsTheAgentAtTheNetworkBcmAdapter) {
  QPointer<CNetworkAdapterConfig> d = Open();
  Verify(d, kAdapterIp, "KelpR3", "public", "private");
  ASSERT_TRUE(d->PasswordsVerified());
  sim.ClearLog();
  QTest::mouseClick(d->Control<QPushButton>(IDOK), Qt::LeftButton);
  ASSERT_TRUE(real.PumpIdle(15000));
  EXPECT_TRUE(d.isNull());
  EXPECT_FALSE(boxes.Saw("SCP Status")) << "the agent answers Set OK";
  EXPECT_TRUE(sim.WaitFor("status", 60000)) << Output();
  KT_SCP saved;
  StopAgentAndRead(saved);
  EXPECT_EQ(saved.config.GetCommMode(), COMM_NETBCM_ADAPTER);
  EXPECT_EQ(saved.config.GetAdapterName().value_or(""), kAdapterIp);
  EXPECT_EQ(saved.config.GetWriteCommunity().value_or(""), "KelpR3");
}

TEST_F(NetworkAdapterE2eTest, OkPointsTheAgentAtTheSnmpAdapter) {
  if (testing_support::FindProgram("snmpd").empty()) GTEST_SKIP() << "snmpd is not installed";
  testing_support::SnmpAdapterPeer peer("public", "private");
  ASSERT_TRUE(peer.Start()) << peer.error();
  gScp.ClearFlag(SCP_FLAG_TCPIP);
  const QString host = QString::fromStdString(peer.peerName());
  QPointer<CNetworkAdapterConfig> d = Open();
  Verify(d, host, "KelpR3", "public", "private");
  ASSERT_TRUE(d->PasswordsVerified());
  const size_t before = peer.Requests().size();
  QTest::mouseClick(d->Control<QPushButton>(IDOK), Qt::LeftButton);
  ASSERT_TRUE(real.PumpIdle(15000));
  EXPECT_TRUE(d.isNull());
  EXPECT_FALSE(boxes.Saw("SCP Status")) << "the agent answers Set OK";
  // The agent's own GETs reach the adapter.
  EXPECT_TRUE(AgentProcess::WaitFor(
      [&] {
        const auto requests = peer.Requests();
        for (size_t i = before; i < requests.size(); ++i) {
          if (requests[i].command == "get") return true;
        }
        return false;
      },
      60000))
      << Output();
  KT_SCP saved;
  StopAgentAndRead(saved);
  EXPECT_EQ(saved.config.GetCommMode(), COMM_SNMP_ADAPTER);
  EXPECT_EQ(saved.config.GetAdapterName().value_or(""), host.toStdString());
  EXPECT_EQ(saved.config.GetReadCommunity().value_or(""), "public");
  EXPECT_EQ(saved.config.GetWriteCommunity().value_or(""), "private");
}

// The timing values that "Update" sends stay with the agent: through a stop and a start, and
// through a kill the moment the agent answered "Set OK". A config.dat of the format earlier
// versions wrote (no timing values in it) still reads, with the timing at its defaults.
TEST_F(NetworkAdapterE2eTest, UpdatedTimingValuesSurviveARestartAndAKill) {
  struct Case {
    int polling;
    int timeout;
    int signal;
  };
  const Case cases[] = {{10, 30, SIGTERM}, {20, 60, SIGKILL}};
  AskUpsInformation();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.signal == SIGKILL ? "killed" : "stopped");
    QPointer<CNetworkAdapterConfig> d = Open();
    d->Control<QSpinBox>(IDC_NA_POLLING)->setValue(c.polling);
    d->Control<QSpinBox>(IDC_NA_TIMEOUT)->setValue(c.timeout);
    const size_t sent = real.Sent().size();
    QTest::mouseClick(d->Control<QPushButton>(IDC_NA_UPDATE), Qt::LeftButton);
    ASSERT_TRUE(real.PumpIdle(15000));
    vigil.Signal(c.signal);  // the answers are in
    EXPECT_EQ(real.Sent().size(), sent + 2) << "the SETs of both timing values";
    EXPECT_FALSE(boxes.Saw("SCP Status")) << "the agent answers Set OK";
    d->OnCancel();
    real.PumpIdle();
    ASSERT_EQ(vigil.Wait(30000), c.signal == SIGKILL ? 128 + SIGKILL : 0) << Output();
    RestartAgent();
    EXPECT_EQ(ShownTiming(), std::make_pair(c.polling, c.timeout)) << Output();
  }

  vigil.Signal(SIGTERM);
  ASSERT_EQ(vigil.Wait(30000), 0) << Output();
  {
    KT_SCP old;
    old.config.SetAdapterName(kAdapterIp);
    old.config.SetFileConversion(true);
    old.config.SetFormatSelector(2);
    KT_RecordWriter writer;
    writer.Put8(kConfigFormatBase + 2);
    ASSERT_GE(old.config.ConvertBlock(CONVERT_ENCODE, &writer, nullptr), 0);
    testing_support::WriteFileBytes(vigil.File("config.dat"), writer.Take());
  }
  RestartAgent();
  EXPECT_EQ(ShownTiming(), std::make_pair(3, 120)) << Output();
  auto lock = gScp.Lock();
  EXPECT_EQ(gScp.config.GetAdapterName().value_or(""), kAdapterIp);
}

}  // namespace
