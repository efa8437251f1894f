// The consoles' host table: index rules, the one-sided host comparison, the walk and packets.
#include "dialogs/frame/hosts.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>

#include "core/scp/scp_frame.h"
#include "tests/support/test_support.h"

namespace {

KT_Address Ip(uint32_t ip, uint16_t port = 7010, const char* name = "host") {
  KT_Address a(ADDRESS_IP);
  a.SetIpAddress(htonl(ip));
  a.SetPort(htons(port));
  a.SetHostName(name);
  return a;
}

KT_Address Ipx(uint32_t net, uint8_t lastNode, const char* name = "ipxhost") {
  KT_Address a(ADDRESS_IPX);
  a.SetIpAddress(htonl(net));
  const uint8_t node[kIpxNodeLength] = {0, 0x1B, 0x2C, 0x3D, 0x4E, lastNode};
  a.SetNode(node);
  a.SetHostName(name);
  return a;
}

TEST(HostsTest, IndexesStartAtOneAndAreNeverReusedUntilReset) {
  KT_Hosts hosts;
  KT_Address a = Ip(0x0A000001), b = Ip(0x0A000002), c = Ip(0x0A000003);
  EXPECT_EQ(hosts.AddHost(a), 1);
  EXPECT_EQ(hosts.AddHost(b), 1);
  EXPECT_EQ(hosts.GetFirstHost()->GetHostIndex(), 1);
  EXPECT_EQ(hosts.RemoveHost(a), 1);
  EXPECT_EQ(hosts.RemoveHost(a), 0);
  EXPECT_EQ(hosts.AddHost(c), 1);
  EXPECT_EQ(hosts.GetHostByIndex(3)->GetHostIndex(), 3);
  EXPECT_EQ(hosts.GetHostByIndex(1), nullptr);

  hosts.ClearHosts();  // numbering continues
  EXPECT_EQ(hosts.GetHostCount(), 0);
  hosts.AddHost(a);
  EXPECT_EQ(hosts.GetFirstHost()->GetHostIndex(), 4);

  hosts.ResetHosts();  // numbering starts again
  hosts.AddHost(b);
  EXPECT_EQ(hosts.GetFirstHost()->GetHostIndex(), 1);
  EXPECT_EQ(hosts.GetHostByIndex(4), nullptr);
}

TEST(HostsTest, SameAddressIsOneHostWhateverPortOrName) {
  KT_Hosts hosts;
  KT_Address first = Ip(0x7F000001, 7010, "one");
  KT_Address again = Ip(0x7F000001, 9999, "other");
  EXPECT_EQ(hosts.AddHost(first), 1);
  EXPECT_EQ(hosts.AddHost(again), 0);
  EXPECT_EQ(hosts.GetHostCount(), 1);
  EXPECT_STREQ(hosts.GetFirstHost()->Address().StoredHostName(), "one");
}

TEST(HostsTest, IpxNodesCountOnlyWhenTheSearchedAddressIsIpx) {
  KT_Hosts hosts;
  KT_Address n1 = Ipx(0x00001234, 1), n2 = Ipx(0x00001234, 2);
  EXPECT_EQ(hosts.AddHost(n1), 1);
  EXPECT_EQ(hosts.AddHost(n2), 1);  // same network, other node: a second host
  KT_Address n1again = Ipx(0x00001234, 1);
  EXPECT_EQ(hosts.AddHost(n1again), 0);
  // An IP key with the network number matches the first IPX entry (one-sided comparison).
  KT_Address ip = Ip(0x00001234);
  EXPECT_EQ(hosts.AddHost(ip), 0);
  EXPECT_TRUE(hosts.GetHostByIndex(1)->SameHost(ip));
  EXPECT_FALSE(HostEntry(ip).SameHost(n1));
  EXPECT_EQ(hosts.RemoveHost(ip), 1);
  EXPECT_EQ(hosts.GetFirstHost()->GetHostIndex(), 2);
}

TEST(HostsTest, WalkVisitsInOrderAndStaysAtTheEnd) {
  KT_Hosts hosts;
  for (uint32_t i = 1; i <= 3; ++i) {
    KT_Address a = Ip(0x0A000000 + i);
    hosts.AddHost(a);
  }
  hosts.ResetIterator();
  for (int expected = 1; expected <= 3; ++expected) {
    HostEntry* e = hosts.GetNextHost();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->GetHostIndex(), expected);
  }
  EXPECT_EQ(hosts.GetNextHost(), nullptr);
  EXPECT_EQ(hosts.GetNextHost(), nullptr);
  hosts.ResetIterator();
  EXPECT_EQ(hosts.GetNextHost()->GetHostIndex(), 1);
}

TEST(HostsTest, FindByAddressAndByNameCaseSensitive) {
  KT_Hosts hosts;
  KT_Address a = Ip(0x0A000001, 7010, "Alpha"), b = Ip(0x0A000002, 7010, "beta");
  hosts.AddHost(a);
  hosts.AddHost(b);
  EXPECT_EQ(hosts.FindHostByAddress(htonl(0x0A000002)), 2);
  EXPECT_EQ(hosts.FindHostByAddress(htonl(0x0A000009)), -1);
  EXPECT_EQ(hosts.FindHostByName("Alpha"), 1);
  EXPECT_EQ(hosts.FindHostByName("alpha"), -1);
  EXPECT_EQ(hosts.FindHostByName(nullptr), -1);
}

TEST(HostsTest, PacketFromANewSenderEntersItAndLandsInItsImage) {
  testing_support::TempDir dir;
  testing_support::ScopedManualClock clock(1500000000);
  KT_Hosts hosts;
  KT_Address sender = Ip(0x7F000002, 7010, "pusher");
  KT_ScpMessage get(SCP_GET, {1});
  std::vector<uint8_t> frame;
  {
    // A status push: the agent's encoded status block as DATA.
    KT_SCPBase agent;
    auto lock = agent.Lock();
    agent.upsStatus.Branches().Touch(0);
    ASSERT_EQ(agent.ExecuteCommand(get, frame), 1);
  }
  KT_ScpMessage push;
  ASSERT_GE(DecodeScpFrame(frame.data(), frame.size(), push), 0);
  ASSERT_EQ(push.type, SCP_DATA);
  EXPECT_GE(hosts.ProcessPacket(sender, push), 0);
  ASSERT_EQ(hosts.GetHostCount(), 1);
  HostEntry* e = hosts.GetFirstHost();
  EXPECT_EQ(e->GetCommTime(), 1500000000);
  EXPECT_EQ(e->upsStatus.GetStatus(), SCP_GET_OK);
  EXPECT_TRUE(push.key.empty());
  EXPECT_TRUE(push.data.empty());
}

}  // namespace
