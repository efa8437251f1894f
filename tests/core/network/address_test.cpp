#include "core/network/address.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netipx/ipx.h>

#include <cstring>

#include "tests/core/net_fakes.h"
#include "tests/support/test_support.h"

namespace {

using net_fakes::FakeResolver;
using net_fakes::Ip;

class AddressTest : public ::testing::Test {
 protected:
  testing_support::TempDir dir_;
  FakeResolver resolver_;
};

TEST_F(AddressTest, ResolveTakesDottedTextBroadcastAndNames) {
  KT_Address a(ADDRESS_IP);
  EXPECT_EQ(a.Resolve("10.1.2.3"), 1);
  EXPECT_EQ(a.GetIpAddress(), Ip("10.1.2.3"));

  // The broadcast address is no name to look up.
  EXPECT_EQ(a.Resolve("255.255.255.255"), 1);
  EXPECT_EQ(a.GetIpAddress(), 0xFFFFFFFFu);
  EXPECT_EQ(resolver_.forward_lookups, 0);

  resolver_.forward["upsbox"] = Ip("127.0.0.9");
  EXPECT_EQ(a.Resolve("upsbox"), 1);
  EXPECT_EQ(a.GetIpAddress(), Ip("127.0.0.9"));

  // An unknown name fails and keeps the address; only the fields are filled.
  EXPECT_EQ(a.Resolve("nowhere"), -1);
  EXPECT_EQ(a.GetIpAddress(), Ip("127.0.0.9"));
  EXPECT_EQ(a.errorClass, ERR_ADDRESS);
  EXPECT_EQ(a.function, 1);
  EXPECT_EQ(a.code, 1);
  EXPECT_EQ(a.Resolve(nullptr), -1);
  EXPECT_FALSE(std::filesystem::exists("error.dat"));
}

TEST_F(AddressTest, HostNameComesFromReverseLookupOrFallsBackToDottedText) {
  resolver_.reverse[Ip("127.0.0.1")] = "localhost";
  KT_Address known(ADDRESS_IP);
  known.SetIpAddress(Ip("127.0.0.1"));
  ASSERT_NE(known.GetHostName(), nullptr);
  EXPECT_STREQ(known.GetHostName(), "localhost");

  KT_Address unknown(ADDRESS_IP);
  unknown.SetIpAddress(Ip("127.0.0.7"));
  ASSERT_NE(unknown.GetHostName(), nullptr);
  EXPECT_STREQ(unknown.GetHostName(), "127.0.0.7");
  EXPECT_STREQ(unknown.StoredHostName(), "127.0.0.7");
  EXPECT_STREQ(unknown.StoredAddressString(), "127.0.0.7");
  // Stored now: no second lookup.
  const int lookups = resolver_.reverse_lookups;
  unknown.GetHostName();
  EXPECT_EQ(resolver_.reverse_lookups, lookups);
}

TEST_F(AddressTest, TextSettersCopyAndNullChangesNothing) {
  KT_Address a;
  EXPECT_EQ(a.SetHostName(nullptr), 0);
  EXPECT_EQ(a.StoredHostName(), nullptr);
  std::string name = "agent-one";
  EXPECT_EQ(a.SetHostName(name.c_str()), 1);
  name[0] = 'X';
  EXPECT_STREQ(a.StoredHostName(), "agent-one");
  EXPECT_EQ(a.SetAddressString("127.0.0.5"), 1);
  a.SetReadCommunity("public");
  a.SetWriteCommunity("private");
  EXPECT_STREQ(a.GetReadCommunity(), "public");
  a.SetWriteCommunity(nullptr);
  EXPECT_EQ(a.GetWriteCommunity(), nullptr);

  EXPECT_EQ(a.Clear(), 0);
  EXPECT_EQ(a.GetType(), 0);
  EXPECT_EQ(a.StoredHostName(), nullptr);
  EXPECT_EQ(a.StoredAddressString(), nullptr);
  EXPECT_EQ(a.GetReadCommunity(), nullptr);
}

TEST_F(AddressTest, CopyTakesTheSourcesHostNameButNotTextOrNode) {
  resolver_.reverse[Ip("127.0.0.1")] = "localhost";
  KT_Address src(ADDRESS_IP);
  src.SetIpAddress(Ip("127.0.0.1"));
  src.SetPort(htons(7010));
  src.SetAddressString("127.0.0.1");
  const uint8_t node[6] = {1, 2, 3, 4, 5, 6};
  src.SetNode(node);
  src.SetReadCommunity("public");

  KT_Address copy(src);
  EXPECT_EQ(copy.GetType(), ADDRESS_IP);
  EXPECT_EQ(copy.GetIpAddress(), Ip("127.0.0.1"));
  EXPECT_EQ(copy.GetPort(), htons(7010));
  EXPECT_STREQ(copy.StoredHostName(), "localhost");
  EXPECT_EQ(copy.StoredAddressString(), nullptr);
  uint8_t out[6];
  copy.GetNode(out);
  EXPECT_EQ(std::memcmp(out, "\0\0\0\0\0\0", 6), 0);
  EXPECT_STREQ(copy.GetReadCommunity(), "public");
  // The source was not changed by the copy.
  EXPECT_EQ(src.StoredHostName(), nullptr);

  KT_Address assigned;
  assigned.SetHostName("old");
  assigned = src;
  EXPECT_STREQ(assigned.StoredHostName(), "localhost");

  // A default address names no host, so its copy has no name either.
  KT_Address empty;
  KT_Address emptyCopy(empty);
  EXPECT_EQ(emptyCopy.StoredHostName(), nullptr);
}

TEST_F(AddressTest, ToSockAddrFillsIpv4AndResolvesStoredTexts) {
  sockaddr_storage ss{};
  socklen_t len = 0;

  KT_Address none(ADDRESS_IP);
  EXPECT_EQ(none.ToSockAddr(ss, len), -1);
  EXPECT_EQ(none.function, 4);
  EXPECT_EQ(none.code, 1);

  KT_Address byText(ADDRESS_IP);
  byText.SetAddressString("127.255.255.255");
  byText.SetPort(htons(7010));
  ASSERT_EQ(byText.ToSockAddr(ss, len), 0);
  ASSERT_EQ(len, sizeof(sockaddr_in));
  sockaddr_in sin{};
  std::memcpy(&sin, &ss, sizeof sin);
  EXPECT_EQ(sin.sin_family, AF_INET);
  EXPECT_EQ(sin.sin_port, htons(7010));
  EXPECT_EQ(sin.sin_addr.s_addr, Ip("127.255.255.255"));
  EXPECT_EQ(byText.GetIpAddress(), Ip("127.255.255.255"));

  // The host name is tried before the dotted text.
  resolver_.forward["upsbox"] = Ip("127.0.0.3");
  KT_Address byName(ADDRESS_IP);
  byName.SetHostName("upsbox");
  byName.SetAddressString("127.0.0.4");
  ASSERT_EQ(byName.ToSockAddr(ss, len), 0);
  EXPECT_EQ(byName.GetIpAddress(), Ip("127.0.0.3"));

  KT_Address snmp(ADDRESS_SNMP);
  snmp.SetIpAddress(Ip("127.0.0.1"));
  EXPECT_EQ(snmp.ToSockAddr(ss, len), -1);
}

TEST_F(AddressTest, IpxAddressOnTheLocalNetworkIsComplete) {
  sockaddr_storage ss{};
  socklen_t len = 0;
  KT_Address ipx(ADDRESS_IPX);
  ipx.SetHostName("SERVER");  // a SAP name: never looked up as an IPv4 name
  EXPECT_EQ(ipx.ToSockAddr(ss, len), -1);
  EXPECT_EQ(resolver_.forward_lookups, 0);

  const uint8_t node[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  ipx.SetNode(node);
  ipx.SetPort(htons(0x0452));
  ASSERT_EQ(ipx.ToSockAddr(ss, len), 0);
  sockaddr_ipx sipx{};
  std::memcpy(&sipx, &ss, sizeof sipx);
  EXPECT_EQ(sipx.sipx_family, AF_IPX);
  EXPECT_EQ(sipx.sipx_network, 0u);
  EXPECT_EQ(sipx.sipx_port, htons(0x0452));
  EXPECT_EQ(std::memcmp(sipx.sipx_node, node, 6), 0);
}

TEST_F(AddressTest, SenderReplacesThePreviousIdentity) {
  KT_Address a(ADDRESS_IP);
  a.SetSender(ADDRESS_IP, Ip("127.0.0.2"), htons(1000));
  a.SetHostName("first-sender");
  a.SetAddressString("127.0.0.2");
  a.SetSender(ADDRESS_IP, Ip("127.0.0.3"), htons(2000));
  EXPECT_EQ(a.StoredHostName(), nullptr);
  EXPECT_EQ(a.StoredAddressString(), nullptr);
  EXPECT_STREQ(a.GetHostName(), "127.0.0.3");
}

}  // namespace
