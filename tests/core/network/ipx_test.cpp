#include "core/network/ipx.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "tests/core/net_fakes.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using net_fakes::FakeIpxOps;

Bytes Pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
  return b;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(IpxOnThisKernel, OpenFailsWithAClearError) {
  const int probe = ::socket(AF_IPX, SOCK_DGRAM, 0);
  if (probe >= 0) {
    ::close(probe);
    GTEST_SKIP() << "this kernel offers IPX";
  }
  testing_support::TempDir dir;
  testing_support::TraceCapture trace;
  KT_IPX ipx;
  EXPECT_EQ(ipx.Initialize(), 1);
  EXPECT_EQ(ipx.OpenChannel(0), -1);
  EXPECT_FALSE(ipx.IsOpen());
  EXPECT_EQ(ipx.GetSocket(), -1);
  EXPECT_TRUE(trace.Contains("ERROR(KT_IPX::Open): Unable to create IPX socket: "));
  EXPECT_TRUE(trace.Contains("this system does not offer IPX"));
  // The socket failure went to error.dat with the system's reason.
  Bytes log = testing_support::ReadFileBytes("error.dat");
  ASSERT_EQ(log.size(), 20u);
  EXPECT_EQ(log[4], ERR_DATAGRAM);
  EXPECT_EQ(log[8], 1);
  EXPECT_EQ(log[12], 1);
  EXPECT_EQ(log[16], EAFNOSUPPORT);

  // Every IPX path then reports failure instead of pretending.
  KT_Address to(ADDRESS_IPX);
  const uint8_t node[6] = {1, 1, 1, 1, 1, 1};
  to.SetNode(node);
  EXPECT_EQ(ipx.Send(&to, Bytes{1}), -1);
  EXPECT_EQ(ipx.WaitForData(0), -1);
  Bytes got;
  EXPECT_EQ(ipx.Receive(&to, got), -1);
  CleanupWinsock();
}

class IpxJoinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ipx_.SetSocketOps(&ops_);
    ASSERT_EQ(ipx_.OpenChannel(0), 0);
  }
  testing_support::TempDir dir_;
  FakeIpxOps ops_;
  KT_IPX ipx_;
  KT_Address from_;
  Bytes got_;
};

TEST_F(IpxJoinTest, JoinsPiecesOfFiveHundredTwelveBytes) {
  const Bytes p1 = Pattern(512, 1), p2 = Pattern(512, 2), p3 = Pattern(276, 3);
  ops_.Queue(p1, 0, htonl(0x0000ABCD), {9, 8, 7, 6, 5, 4}, htons(0x4001));
  ops_.Queue(p2, 0, htonl(0x99999999));
  ops_.Queue(p3, 2);  // arrives only after two waits
  ASSERT_EQ(ipx_.Receive(&from_, got_), 1);
  EXPECT_EQ(got_.size(), 1300u);
  EXPECT_EQ(got_, Join({p1, p2, p3}));
  EXPECT_EQ(ops_.sleeps, 2);
  EXPECT_EQ(ops_.slept_ms, 500);
  // The joined message carries the first piece's sender.
  EXPECT_EQ(from_.GetType(), ADDRESS_IPX);
  EXPECT_EQ(from_.GetIpAddress(), htonl(0x0000ABCD));
  EXPECT_EQ(from_.GetPort(), htons(0x4001));
  EXPECT_EQ(from_.Node()[0], 9);

  // A short message is one piece and needs no wait.
  ops_.Queue(Pattern(40, 4));
  ASSERT_EQ(ipx_.Receive(&from_, got_), 1);
  EXPECT_EQ(got_, Pattern(40, 4));
  EXPECT_EQ(ops_.sleeps, 2);
}

TEST_F(IpxJoinTest, LastPieceOfExactlyFiveHundredTwelveWaitsOutTheHundredPolls) {
  const Bytes p1 = Pattern(512, 1), p2 = Pattern(512, 2);
  ops_.Queue(p1);
  ops_.Queue(p2, 60);
  ops_.Queue(Pattern(10, 9), 500);  // too late to belong to this message
  ASSERT_EQ(ipx_.Receive(&from_, got_), 1);
  EXPECT_EQ(got_, Join({p1, p2}));
  // The count is kept for the whole message: 60 waits before the second piece, 40 after.
  EXPECT_EQ(ops_.sleeps, 100);
  EXPECT_EQ(ops_.slept_ms, 100 * 250);
  EXPECT_EQ(ops_.incoming.size(), 1u);
}

TEST_F(IpxJoinTest, NothingWaitingAndEmptyDatagramsAnswerZero) {
  EXPECT_EQ(ipx_.Receive(&from_, got_), 0);
  EXPECT_FALSE(std::filesystem::exists("error.dat"));

  // An empty datagram is taken away, so a caller waiting for data does not spin on it.
  ops_.Queue({});
  EXPECT_EQ(ipx_.WaitForData(2), 1);
  EXPECT_EQ(ipx_.Receive(&from_, got_), 0);
  EXPECT_TRUE(ops_.incoming.empty());
  EXPECT_EQ(ipx_.WaitForData(2), 0);

  // An empty datagram after a full piece ends the message (after the waits, since the byte
  // count cannot see it); it is then taken as a message of its own.
  ops_.Queue(Pattern(512, 5));
  ops_.Queue({});
  ops_.Queue(Pattern(3, 6));
  ASSERT_EQ(ipx_.Receive(&from_, got_), 1);
  EXPECT_EQ(got_, Pattern(512, 5));
  EXPECT_EQ(ipx_.Receive(&from_, got_), 0);
  ASSERT_EQ(ipx_.Receive(&from_, got_), 1);
  EXPECT_EQ(got_, Pattern(3, 6));
}

TEST_F(IpxJoinTest, OversizeDatagramsAndMessagesAreFailures) {
  ops_.Queue(Pattern(2057, 1));
  ops_.Queue(Pattern(2056, 2));
  EXPECT_EQ(ipx_.Receive(&from_, got_), -1);
  EXPECT_EQ(ipx_.systemError, EMSGSIZE);
  EXPECT_TRUE(got_.empty());
  ASSERT_EQ(ipx_.Receive(&from_, got_), 1);
  EXPECT_EQ(got_.size(), 2056u);

  // A sender that never stops sending full pieces cannot grow the message without bound.
  for (int i = 0; i < 200; ++i) ops_.Queue(Pattern(512, static_cast<uint8_t>(i)));
  EXPECT_EQ(ipx_.Receive(&from_, got_), -1);
  EXPECT_EQ(ipx_.systemError, EMSGSIZE);
  EXPECT_TRUE(got_.empty());
  EXPECT_LT(ops_.incoming.size(), 200u - 127u);
}

TEST_F(IpxJoinTest, SendsToTypeTwoAddressesOnly) {
  KT_Address to(ADDRESS_IPX);
  to.SetIpAddress(htonl(0x00000010));
  const uint8_t node[6] = {0, 0, 0, 0, 0, 1};
  to.SetNode(node);
  to.SetPort(htons(0x4000));
  ASSERT_EQ(ipx_.Send(&to, Bytes{1, 2}), 1);
  ASSERT_EQ(ops_.sent.size(), 1u);
  EXPECT_EQ(ops_.sent[0].to.sipx_network, htonl(0x10));
  EXPECT_EQ(ops_.sent[0].to.sipx_port, htons(0x4000));
  EXPECT_EQ(ops_.sent[0].flags, 0);

  KT_Address ip(ADDRESS_IP);
  ip.SetAddressString("127.0.0.1");
  EXPECT_EQ(ipx_.Send(&ip, Bytes{1}), -1);
  EXPECT_EQ(ops_.sent.size(), 1u);

  // Opening again releases the socket of the previous search.
  ASSERT_EQ(ipx_.Open(0), 0);
  EXPECT_EQ(ops_.closes, 1);
}

}  // namespace
