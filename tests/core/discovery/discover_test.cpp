#include "core/discovery/discover.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/scp/scp_frame.h"
#include "tests/core/net_fakes.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using net_fakes::FakeIpxOps;
using net_fakes::Ip;

std::vector<std::string> Subnets(KT_Discover& d) {
  std::vector<std::string> all;
  std::string s;
  d.ResetSubnetCursor();
  while (d.GetNextSubnet(s)) all.push_back(s);
  return all;
}

std::vector<std::string> Hosts(KT_Discover& d) {
  std::vector<std::string> all;
  std::string s;
  d.ResetHostCursor();
  while (d.GetNextHost(s)) all.push_back(s);
  return all;
}

// One SAP entry: server type, name (at most 48 bytes written), network, node, socket, hops.
Bytes SapEntry(uint16_t type, const std::string& name, uint32_t network = 0x00000A0B, uint16_t socket = 0x8060) {
  Bytes e(64, 0);
  PutBe16(e.data(), type);
  std::memcpy(e.data() + 2, name.data(), std::min<size_t>(48, name.size()));
  e[50] = static_cast<uint8_t>(network >> 24);
  e[51] = static_cast<uint8_t>(network >> 16);
  e[52] = static_cast<uint8_t>(network >> 8);
  e[53] = static_cast<uint8_t>(network);
  for (int i = 0; i < 6; ++i) e[54 + i] = static_cast<uint8_t>(0x10 + i);
  PutBe16(e.data() + 60, socket);
  PutBe16(e.data() + 62, 1);
  return e;
}

Bytes SapResponse(uint16_t type, std::initializer_list<Bytes> entries) {
  Bytes r(2);
  PutBe16(r.data(), type);
  for (const auto& e : entries) r.insert(r.end(), e.begin(), e.end());
  return r;
}

TEST(DiscoverLists, NewestFirstWithoutDuplicatesAndCursors) {
  KT_Discover d;
  d.AddSubnet("10.0.0.255");
  d.AddSubnet("10.0.1.255");
  d.AddSubnet("10.0.0.255");
  d.AddSubnet(nullptr);
  EXPECT_EQ(d.GetSubnetCount(), 2);
  EXPECT_EQ(Subnets(d), (std::vector<std::string>{"10.0.1.255", "10.0.0.255"}));

  // Past the end the cursor stays there until it is reset.
  std::string s;
  EXPECT_FALSE(d.GetNextSubnet(s));
  EXPECT_FALSE(d.NextSubnet(s));
  d.ResetSubnetCursor();
  EXPECT_TRUE(d.NextSubnet(s));
  EXPECT_EQ(s, "10.0.1.255");

  // Exact comparison, case counts.
  d.AddHost("Agent");
  d.AddHost("agent");
  d.AddHost("Agent");
  EXPECT_EQ(Hosts(d), (std::vector<std::string>{"agent", "Agent"}));

  EXPECT_EQ(d.RemoveSubnet("10.0.2.255"), 0);
  EXPECT_EQ(d.RemoveSubnet("10.0.1.255"), 1);
  EXPECT_EQ(Subnets(d), (std::vector<std::string>{"10.0.0.255"}));
  d.ClearSubnets();
  EXPECT_EQ(d.GetSubnetCount(), 0);

  testing_support::TraceCapture trace;
  d.AddSubnet("127.255.255.255");
  d.PrintHost();
  d.PrintSubnets();
  EXPECT_EQ(trace.Text(),
            "KT_Discover::PrintHost: host = agent\n"
            "KT_Discover::PrintHost: host = Agent\n"
            "KT_Discover::PrintSubnets: subnet = 127.255.255.255\n");
}

TEST(DiscoverLists, AnEmptySubnetListIsSearchedAsTheBroadcastAddressAndKept) {
  testing_support::TempDir dir;
  KT_Discover d;
  // Neither transport flag: the list rule runs, nothing is sent.
  EXPECT_EQ(d.SendDiscoveryRequest(0, 0, 0), 1);
  EXPECT_EQ(Subnets(d), (std::vector<std::string>{"255.255.255.255"}));
  EXPECT_EQ(d.SendDiscoveryRequest(0, 0, 0), 1);
  EXPECT_EQ(d.GetSubnetCount(), 1);
}

TEST(AdapterReply, AnyBufferStartingWithTheMarkerBecomesTheFixedAnswer) {
  KT_ScpMessage m(SCP_STATUS, {9}, {1});
  for (const Bytes& b : {Bytes{0xAB}, Bytes{0xAB, 0x01, 0x36, 0x1E}, Bytes{0xAB, 0xFF, 0x00}}) {
    ASSERT_EQ(TranslateAdapterReply(b.data(), b.size(), m), 1);
    EXPECT_EQ(m, KT_ScpMessage(SCP_DATA, {2, 1, 0}, {0x05, 0x04, 0x00, 0x50, 0x10, 0x24}, 0));
  }
  KT_ScpMessage untouched(SCP_GET, {1});
  const Bytes frame = {0xC0, 0x00, 0x07, 0x01, 0x00, 0x01, 0x01};
  EXPECT_EQ(TranslateAdapterReply(frame.data(), frame.size(), untouched), 0);
  EXPECT_EQ(TranslateAdapterReply(nullptr, 4, untouched), 0);
  EXPECT_EQ(TranslateAdapterReply(frame.data(), 0, untouched), 0);
  EXPECT_EQ(untouched, KT_ScpMessage(SCP_GET, {1}));
}

TEST(SapParsing, GoodAndMalformedResponses) {
  std::vector<KT_SapEntry> entries;
  const Bytes good = SapResponse(kSapGeneralResponse, {SapEntry(0x0004, "FILESERVER"), SapEntry(0x085E, "UPS-AGENT", 0x12345678, 0x4005),
                                                        SapEntry(0x0047, "PRINTER")});
  ASSERT_EQ(ParseSapResponse(good.data(), good.size(), entries), kSapGeneralResponse);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[1].serverType, 0x085E);
  EXPECT_EQ(entries[1].name, "UPS-AGENT");
  EXPECT_EQ(entries[1].network, htonl(0x12345678));
  EXPECT_EQ(entries[1].socket, htons(0x4005));
  EXPECT_EQ(entries[1].node[5], 0x15);
  EXPECT_EQ(entries[1].hops, 1);

  // A name filling all 48 bytes is taken whole and ends there.
  const std::string full(48, 'N');
  Bytes unterminated = SapResponse(kSapNearestResponse, {SapEntry(0x085E, full + "OVERFLOW")});
  ASSERT_EQ(ParseSapResponse(unterminated.data(), unterminated.size(), entries), kSapNearestResponse);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, full);

  // Entries count by whole 64-byte units of the datagram; a cut last entry is dropped, and a
  // final entry without its hop count still reads its other fields.
  Bytes cut = good;
  cut.resize(2 + 64 * 2 + 30);
  ASSERT_EQ(ParseSapResponse(cut.data(), cut.size(), entries), kSapGeneralResponse);
  EXPECT_EQ(entries.size(), 2u);
  Bytes noHops = good;
  noHops.resize(64);
  ASSERT_EQ(ParseSapResponse(noHops.data(), noHops.size(), entries), kSapGeneralResponse);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "FILESERVER");
  EXPECT_EQ(entries[0].hops, 0);

  // Not a response: queries, other types, too short.
  for (const Bytes& b : {Bytes{0x00, 0x01, 0x08, 0x5E}, Bytes{0x00, 0x03}, Bytes{0x00}, Bytes{}}) {
    EXPECT_EQ(ParseSapResponse(b.data(), b.size(), entries), 0);
    EXPECT_TRUE(entries.empty());
  }
  Bytes otherType = good;
  otherType[1] = 0x07;
  EXPECT_EQ(ParseSapResponse(otherType.data(), otherType.size(), entries), 0);
  EXPECT_EQ(ParseSapResponse(nullptr, 100, entries), 0);
}

class DiscoverIpxTest : public ::testing::Test {
 protected:
  testing_support::TempDir dir_;
  FakeIpxOps ops_;
  net_fakes::ScopedIpxOps scoped_{&ops_};
  KT_Discover discover_;
};

TEST_F(DiscoverIpxTest, SendsTheTwoServiceQueriesLocally) {
  ASSERT_EQ(discover_.SendDiscoveryRequest(0, 0, 1), 1);
  ASSERT_EQ(ops_.sent.size(), 2u);
  EXPECT_EQ(ops_.sent[0].bytes, (Bytes{0x00, 0x03, 0x08, 0x5E}));
  EXPECT_EQ(ops_.sent[1].bytes, (Bytes{0x00, 0x01, 0x08, 0x5E}));
  for (const auto& s : ops_.sent) {
    EXPECT_EQ(s.flags, MSG_DONTROUTE);
    EXPECT_EQ(s.to.sipx_family, AF_IPX);
    EXPECT_EQ(s.to.sipx_network, 0u);
    EXPECT_EQ(s.to.sipx_port, htons(0x0452));
    for (uint8_t b : s.to.sipx_node) EXPECT_EQ(b, 0xFF);
  }
  EXPECT_EQ(ops_.options.size(), 1u);

  // A second search opens the channel again without leaking the first socket.
  ASSERT_EQ(discover_.SendDiscoveryRequest(0, 0, 1), 1);
  EXPECT_EQ(ops_.closes, 1);

  ops_.fail_send = true;
  EXPECT_EQ(discover_.SendDiscoveryRequest(0, 0, 1), -1);

  // A channel that cannot be opened leaves the IPX part out silently.
  ops_.fail_send = false;
  ops_.fail_socket = true;
  const size_t sent = ops_.sent.size();
  EXPECT_EQ(discover_.SendDiscoveryRequest(0, 0, 1), 1);
  EXPECT_EQ(discover_.SendIpxServiceQueries(), 0);
  EXPECT_EQ(ops_.sent.size(), sent);
}

TEST_F(DiscoverIpxTest, CollectsTheAgentEntriesOfServiceResponses) {
  ASSERT_EQ(discover_.SendIpxServiceQueries(), 1);
  ops_.Queue(SapResponse(kSapNearestResponse, {SapEntry(0x0004, "FILESERVER"), SapEntry(0x085E, "UPS-AGENT", 0x0000BEEF, 0x4005),
                                               SapEntry(0x0047, "PRINTER")}));
  ops_.Queue({0x00, 0x01, 0x08, 0x5E});                          // someone's query: ignored
  ops_.Queue(SapResponse(0x0009, {SapEntry(0x085E, "WRONG")}));  // unknown response type
  ops_.Queue({});                                                // empty datagram
  ops_.Queue(SapResponse(kSapGeneralResponse, {SapEntry(0x085E, ""), SapEntry(0x085E, std::string(60, 'L'))}));
  ops_.Queue(Bytes(3000, 0));  // longer than any datagram the channel takes

  std::vector<KT_Address> found;
  std::vector<uint8_t> firstNodeBytes;
  ASSERT_EQ(discover_.CollectReplies(
                [&](KT_Address& a) {
                  found.push_back(a);  // a copy keeps no node
                  firstNodeBytes.push_back(a.Node()[0]);
                },
                0, 1),
            1);
  EXPECT_TRUE(ops_.incoming.empty());
  EXPECT_EQ(Hosts(discover_), (std::vector<std::string>{std::string(48, 'L'), "UPS-AGENT"}));
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].GetType(), ADDRESS_IPX);
  EXPECT_STREQ(found[0].StoredHostName(), "UPS-AGENT");
  EXPECT_EQ(found[0].GetIpAddress(), htonl(0x0000BEEF));
  EXPECT_EQ(found[0].GetPort(), htons(0x4005));
  EXPECT_EQ(firstNodeBytes[0], 0x10);

  // The same host answering again is listed once; a client list gets each address once,
  // with its node.
  KT_NetClientList clients;
  for (int round = 0; round < 2; ++round) {
    ops_.Queue(SapResponse(kSapGeneralResponse, {SapEntry(0x085E, "UPS-AGENT", 0x0000BEEF, 0x4005)}));
    ASSERT_EQ(discover_.CollectReplies(&clients, 0, 1), 1);
  }
  EXPECT_EQ(discover_.GetHostCount(), 2);
  ASSERT_EQ(clients.Count(), 1);
  const KT_NetClient& client = clients.Clients().front();
  EXPECT_EQ(client.address.GetType(), ADDRESS_IPX);
  EXPECT_STREQ(client.address.StoredHostName(), "UPS-AGENT");
  EXPECT_EQ(client.address.Node()[5], 0x15);
  EXPECT_FALSE(client.password.has_value());
  EXPECT_EQ(client.warn_delay, 0);
}

class DiscoverUdpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    discover_.SetBindAddress("127.0.0.1");
    ASSERT_EQ(discover_.OpenChannel(0), 0);
    peer_.SetBindAddress("127.0.0.4");
    ASSERT_EQ(peer_.OpenChannel(0), 0);
  }
  testing_support::TempDir dir_;
  net_fakes::FakeResolver resolver_;
  KT_Discover discover_;
  KT_UDP peer_;
};

TEST_F(DiscoverUdpTest, EveryAnswerCountsWhateverItCarries) {
  resolver_.reverse[Ip("127.0.0.4")] = "agent-four";
  KT_Address to(ADDRESS_IP);
  to.SetIpAddress(Ip("127.0.0.1"));
  to.SetPort(discover_.GetPort());
  // An adapter's answer is no SCP frame but still names its sender; an empty datagram does
  // not count.
  ASSERT_EQ(peer_.Send(&to, Bytes{0xAB, 0x01, 0x36, 0x1E}), 1);
  ASSERT_EQ(peer_.Send(&to, Bytes{0xC0, 0x00}), 1);
  sockaddr_storage ss{};
  socklen_t len = 0;
  ASSERT_EQ(to.ToSockAddr(ss, len), 0);
  ASSERT_EQ(::sendto(peer_.GetSocket(), "", 0, 0, reinterpret_cast<sockaddr*>(&ss), len), 0);

  std::vector<KT_Address> found;
  ASSERT_EQ(discover_.CollectReplies([&](KT_Address& a) { found.push_back(a); }, 1, 0), 1);
  EXPECT_EQ(Hosts(discover_), (std::vector<std::string>{"agent-four"}));
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].GetIpAddress(), Ip("127.0.0.4"));
  EXPECT_EQ(found[0].GetPort(), peer_.GetPort());
}

}  // namespace
