// The network adapter configuration against the in-process agent: the timing rule of Update
// and OK, saving unverified passwords, and opening without any way to reach an adapter.
#include "dialogs/network/network_adapter_config.h"

#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <algorithm>

#include "core/base/peer_version.h"
#include "dialogs/frame/request_path.h"
#include "dialogs/frame/trem_globals.h"
#include "tests/dialogs/harness/trem_fixture.h"
#include "tests/support/snmp_peer.h"

namespace {

using trem_harness::DescribeMessage;

class NetworkAdapterConfigTest : public trem_harness::TremTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("adapters"); }
  void SetUp() override {
    TremTest::SetUp();
    flags_ = gScp.GetFlags();
    gScp.SetFlag(SCP_FLAG_SNMP | SCP_FLAG_TCPIP);
    {
      auto lock = gScp.Lock();
      gScp.upsInfo.SetSoftwareVersion(1, 0);  // an agent that takes the timing values
    }
    SetPeerSoftwareVersion(1, 0);  // and the in-process agent reads them in that format
    agent.MarkAllFresh();
    CNetworkAdapterConfig::SetNetBcmSecondLength(20);
  }
  void TearDown() override {
    CNetworkAdapterConfig::SetNetBcmSecondLength(1000);
    ResetPeerSoftwareVersion();
    gScp.ClearFlag(0xFFFFFFFFu);
    gScp.SetFlag(flags_);
    TremTest::TearDown();
  }
  CNetworkAdapterConfig* Open() {
    auto* d = new CNetworkAdapterConfig(nullptr, "localhost");
    EXPECT_TRUE(link.PumpUntil([&] { return !d->IsBusy(); }, 10000));
    return d;
  }
  std::vector<std::string> Sets() {
    std::vector<std::string> out;
    for (const KT_ScpMessage& m : agent.ReceivedSets()) out.push_back(DescribeMessage(m));
    return out;
  }
  static void Press(KTDialog* d, int id) { QTest::mouseClick(d->Control<QPushButton>(id), Qt::LeftButton); }
  static void Timing(KTDialog* d, int polling, int timeout) {
    d->Control<QSpinBox>(IDC_NA_POLLING)->setValue(polling);
    d->Control<QSpinBox>(IDC_NA_TIMEOUT)->setValue(timeout);
  }
  uint32_t flags_ = 0;
};

TEST_F(NetworkAdapterConfigTest, ATimeOutNotAboveThePollingIntervalIsRefusedByUpdateAndOk) {
  for (const int button : {IDC_NA_UPDATE, IDOK}) {
    SCOPED_TRACE(button);
    QPointer<CNetworkAdapterConfig> d = Open();
    agent.ClearReceived();
    boxes.Clear();
    Timing(d, 60, 60);
    Press(d, button);
    link.PumpIdle();
    ASSERT_FALSE(d.isNull());
    EXPECT_TRUE(d->WindowExists());
    EXPECT_TRUE(boxes.Saw("The Time_out Value has to be greater than the Polling Interval value"));
    EXPECT_TRUE(Sets().empty());
    d->OnCancel();
    link.PumpIdle();
  }
  QPointer<CNetworkAdapterConfig> d = Open();
  agent.ClearReceived();
  Timing(d, 60, 61);
  Press(d, IDC_NA_UPDATE);
  link.PumpIdle();
  EXPECT_EQ(Sets(), (std::vector<std::string>{"SET 4,12,1", "SET 4,12,2"}));
  auto lock = agent.scp().Lock();
  EXPECT_EQ(agent.scp().config.GetPollingInterval(), 60u);
  EXPECT_EQ(agent.scp().config.GetCommTimeout(), 61u);
}

// The timing fields show the agent's stored values also when the console has not read its UPS
// information yet (the first request of a fresh console, as in Pommet), and OK sends only what
// the user changed.
TEST_F(NetworkAdapterConfigTest, StoredTimingIsShownAndOnlyChangedValuesAreSent) {
  const struct {
    bool fresh;            // the console has not read the UPS information
    int polling, timeout;  // what the user leaves in the fields
    std::vector<std::string> sets;
  } kCases[] = {
      {false, 5, 60, {}},
      {true, 5, 60, {}},
      {true, 10, 60, {"SET 4,12,1"}},
      {false, 5, 90, {"SET 4,12,2"}},
      {true, 10, 90, {"SET 4,12,1", "SET 4,12,2"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.fresh << " " << c.polling << "/" << c.timeout);
    {
      auto lock = agent.scp().Lock();
      agent.scp().upsInfo.SetSoftwareVersion(1, 0);
      agent.scp().config.SetPollingInterval(5);
      agent.scp().config.SetCommTimeout(60);
    }
    agent.MarkAllFresh();
    {
      auto lock = gScp.Lock();
      gScp.config.SetPollingInterval(0);
      gScp.config.SetCommTimeout(120);
      if (c.fresh) gScp.upsInfo.Reset();
    }
    if (c.fresh) {
      ResetPeerSoftwareVersion();
      // The call console's own first request, still on its way when the dialog opens.
      ASSERT_EQ(RequestForHost(1, BLOCK_UPS_INFO, 0, 0), 1);
    }
    QPointer<CNetworkAdapterConfig> d = Open();
    ASSERT_FALSE(d.isNull());
    EXPECT_TRUE(d->TimingRead());
    EXPECT_EQ(d->Control<QSpinBox>(IDC_NA_POLLING)->value(), 5);
    EXPECT_EQ(d->Control<QSpinBox>(IDC_NA_TIMEOUT)->value(), 60);
    agent.ClearReceived();
    Timing(d, c.polling, c.timeout);
    boxes.QueueAnswer(IDNO);  // "Password not verified, Still Save ?": the timing is sent before
    d->OnOK();
    link.PumpIdle();
    std::vector<std::string> sets = Sets();
    std::sort(sets.begin(), sets.end());
    EXPECT_EQ(sets, c.sets);
    {
      auto lock = agent.scp().Lock();
      EXPECT_EQ(agent.scp().config.GetPollingInterval(), static_cast<uint32_t>(c.polling));
      EXPECT_EQ(agent.scp().config.GetCommTimeout(), static_cast<uint32_t>(c.timeout));
    }
    d->OnCancel();
    link.PumpIdle();
  }
}

TEST_F(NetworkAdapterConfigTest, UnverifiedPasswordsAreSavedOnlyAfterYes) {
  QPointer<CNetworkAdapterConfig> d = Open();
  Screenshot(d, QStringLiteral("network_adapter_open"));
  // Nothing answers at this address: both protocols fail, the communities are offered.
  const std::string host = "127.0.0.1:" + std::to_string(testing_support::FreeUdpPort());
  d->Control<QLineEdit>(IDC_NA_HOST)->setText(QString::fromStdString(host));
  Press(d, IDC_NA_VERIFY_ADAPTER);
  ASSERT_TRUE(link.PumpUntil([&] { return boxes.Saw("is not responding yet"); }, 60000));
  EXPECT_EQ(d->AdapterKind(), ADAPTER_SNMP);
  EXPECT_TRUE(d->Control(IDC_NA_GET)->isVisible());
  EXPECT_TRUE(d->Control(IDC_NA_SET)->isVisible());
  EXPECT_FALSE(d->Control(IDOK)->isVisible());
  Screenshot(d, QStringLiteral("network_adapter_not_responding"));
  d->Control<QLineEdit>(IDC_NA_GET)->setText("north");
  d->Control<QLineEdit>(IDC_NA_SET)->setText("south");
  agent.ClearReceived();

  boxes.QueueAnswer(IDNO);
  d->OnOK();
  link.PumpIdle();
  ASSERT_FALSE(d.isNull());
  EXPECT_TRUE(boxes.Saw("Password not verified, Still Save ?"));
  std::vector<std::string> sets = Sets();
  EXPECT_EQ(std::count(sets.begin(), sets.end(), "SET 4,7"), 0);

  boxes.QueueAnswer(IDYES);
  d->OnOK();
  link.PumpIdle();
  EXPECT_TRUE(d.isNull());
  sets = Sets();
  EXPECT_NE(std::find(sets.begin(), sets.end(), "SET 4,1,3"), sets.end());
  EXPECT_NE(std::find(sets.begin(), sets.end(), "SET 4,7"), sets.end());
  auto lock = agent.scp().Lock();
  const ConfigBlock& c = agent.scp().config;
  EXPECT_EQ(c.GetCommMode(), COMM_SNMP_ADAPTER);
  EXPECT_EQ(c.GetAdapterName().value_or(""), host);
  EXPECT_EQ(c.GetReadCommunity().value_or(""), "north");
  EXPECT_EQ(c.GetWriteCommunity().value_or(""), "south");
}

TEST_F(NetworkAdapterConfigTest, WithoutSnmpAndTcpIpNoDialogIsLeftBehind) {
  gScp.ClearFlag(SCP_FLAG_SNMP | SCP_FLAG_TCPIP);
  QPointer<CNetworkAdapterConfig> d = new CNetworkAdapterConfig(nullptr, "localhost");
  EXPECT_TRUE(d->Refused());
  EXPECT_EQ(pNetworkAdapterConfig.get(), nullptr);
  EXPECT_TRUE(boxes.Saw("Your agent can't talk to network adapters"));
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(d.isNull());
  EXPECT_EQ(gScp.requestTable.GetCount(), 0);
}

}  // namespace
