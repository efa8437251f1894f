// The communication worker in SNMP mode against the real snmpd playing a UPS network adapter:
// each request is carried out by the adapter client and its answer applied to gScp for the
// host the request went to.
#include "console/comm/communication.h"
#include "core/adapters/snmp.h"
#include "dialogs/frame/reply_routing.h"
#include "dialogs/frame/request_path.h"
#include "tests/console/comm_test_support.h"
#include "tests/support/snmp_peer.h"

namespace {

using console_test::PumpEvents;
using console_test::WorkerTest;

class SnmpWorkerTest : public WorkerTest {
 protected:
  void SetUp() override {
    WorkerTest::SetUp();
    adapter_.SetUptime(100);
    ASSERT_TRUE(adapter_.Start()) << adapter_.error();
    const uint16_t port = adapter_.port();
    KT_SNMP::SetServicePortLookup([port](const char*) { return std::optional<uint16_t>(port); });
    KT_HostControl writer;
    gHosts.ResetHosts();
    KT_Address a(ADDRESS_SNMP);
    a.SetHostName(adapter_.host().c_str());
    a.SetReadCommunity("public");
    a.SetWriteCommunity("private");
    gHosts.AddHost(a);
    gScp.SetFlag(SCP_FLAG_SNMP);
  }
  void TearDown() override {
    WorkerTest::TearDown();
    KT_SNMP::SetServicePortLookup(nullptr);
    gScp.ClearFlag(SCP_FLAG_SNMP);
  }
  testing_support::SnmpAdapterPeer adapter_;
};

TEST_F(SnmpWorkerTest, EachRequestIsAnsweredByTheAdapterAndAppliedForItsHost) {
  adapter_.SetRaw("alarms", "[6, 2]");  // input bad, on battery
  CCommunication& w = Worker(2);
  PumpEvents();
  EXPECT_EQ(boxes.Count(), 0);
  RequestForHost(1, 1, 0, 0);
  RequestForHost(1, 2, 0, 0);
  w.Step();
  w.Step();
  PumpEvents();
  ASSERT_EQ(target.notices.size(), 2u);
  EXPECT_EQ(target.notices[0].key, PackScpKey(1, 1, 0, 0));
  EXPECT_EQ(target.notices[1].key, PackScpKey(1, 2, 0, 0));
  for (const CommNotice& n : target.notices) {
    EXPECT_EQ(n.status, SCP_GET_OK);
    EXPECT_EQ(n.hostIndex, 1);
  }
  {
    auto lock = gScp.Lock();
    EXPECT_EQ(gScp.upsStatus.IsAlarmSet(ALARM_ON_BATTERY), 1);
  }
  ScpQueueLock lock;
  EXPECT_EQ(gScp.requestTable.GetCount(), 0);
}

TEST_F(SnmpWorkerTest, InAllNetworksModeTheAdaptersStatusLandsInItsHostsImage) {
  adapter_.SetRaw("alarms", "[6, 2]");
  CCommunication& w = Worker(4);
  RequestForHost(1, 1, 0, 0);
  RequestForHost(1, 3, 0, 0);
  w.Step();
  w.Step();
  PumpEvents();
  ASSERT_EQ(target.notices.size(), 2u);
  EXPECT_EQ(target.notices[0].message, kNoticeHostChanged);
  EXPECT_EQ(target.notices[0].wParam, 1);
  EXPECT_EQ(target.notices[0].key, PackScpKey(1, 1, 0, 0));
  EXPECT_EQ(target.notices[1].message, kNoticeReplyApplied);
  EXPECT_EQ(target.notices[1].hostIndex, 1);
  EXPECT_EQ(target.notices[1].key, PackScpKey(1, 3, 0, 0));
  EXPECT_EQ(target.notices[1].status, SCP_GET_OK);
  {
    KT_HostControl reader(0);
    EXPECT_EQ(gHosts.GetHostCount(), 1);
    HostEntry* host = gHosts.GetHostByIndex(1);
    auto lock = host->Lock();
    EXPECT_EQ(host->upsStatus.IsAlarmSet(ALARM_ON_BATTERY), 1);
  }
  ScpQueueLock lock;
  EXPECT_EQ(gScp.requestTable.GetCount(), 0);
}

}  // namespace
