#include "core/network/udp.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <cerrno>
#include <vector>

#include "core/adapters/snmp_value.h"
#include "tests/core/net_fakes.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using net_fakes::Ip;

int OpenFdCount() {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (::readdir(d) != nullptr) ++n;
    ::closedir(d);
  }
  return n;
}

class UdpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (KT_UDP* c : {&a_, &b_}) {
      ASSERT_EQ(c->SetBindAddress("127.0.0.1"), 1);
      ASSERT_EQ(c->Initialize(), 1);
      ASSERT_EQ(c->OpenChannel(0), 0);
    }
  }
  void TearDown() override { CleanupWinsock(); }

  // The address to reach channel c.
  KT_Address To(KT_UDP& c) {
    KT_Address to(ADDRESS_IP);
    to.SetIpAddress(Ip("127.0.0.1"));
    to.SetPort(c.GetPort());
    return to;
  }

  testing_support::TempDir dir_;
  net_fakes::FakeResolver resolver_;
  KT_UDP a_;
  KT_UDP b_;
};

TEST_F(UdpTest, SendsAndReceivesOneDatagramWithItsSender) {
  EXPECT_NE(a_.GetPort(), 0);
  EXPECT_EQ(a_.LocalAddress().GetIpAddress(), Ip("127.0.0.1"));

  KT_Address to = To(b_);
  const Bytes frame = {0xC0, 0x00, 0x09, 0x01, 0x00, 0x03, 0x02, 0x01, 0x00};
  ASSERT_EQ(a_.Send(&to, frame), 1);
  ASSERT_EQ(b_.WaitForData(2), 1);

  KT_Address from;
  Bytes got;
  ASSERT_EQ(b_.Receive(&from, got), 1);
  EXPECT_EQ(got, frame);
  EXPECT_EQ(from.GetType(), ADDRESS_IP);
  EXPECT_EQ(from.GetIpAddress(), Ip("127.0.0.1"));
  EXPECT_EQ(from.GetPort(), a_.GetPort());
}

TEST_F(UdpTest, ReceiveEdges) {
  KT_Address from;
  Bytes got;
  // Nothing waiting on the non-blocking socket is an error record.
  EXPECT_EQ(b_.Receive(&from, got), -1);
  EXPECT_EQ(b_.errorClass, ERR_DATAGRAM);
  EXPECT_EQ(b_.function, 3);
  EXPECT_EQ(b_.code, 1);
  EXPECT_EQ(b_.systemError, EAGAIN);
  EXPECT_EQ(testing_support::ReadFileBytes("error.dat").size(), 20u);

  KT_Address to = To(b_);
  // An empty datagram is taken and answers 0.
  int fd = a_.GetSocket();
  sockaddr_storage ss{};
  socklen_t len = 0;
  ASSERT_EQ(to.ToSockAddr(ss, len), 0);
  ASSERT_EQ(::sendto(fd, "", 0, 0, reinterpret_cast<sockaddr*>(&ss), len), 0);
  ASSERT_EQ(b_.WaitForData(2), 1);
  EXPECT_EQ(b_.Receive(&from, got), 0);
  EXPECT_TRUE(got.empty());

  // 5000 bytes fit the buffer; 5001 are a failure, never a cut message, and the datagram
  // after it arrives whole.
  ASSERT_EQ(a_.Send(&to, Bytes(5000, 0x5A)), 1);
  ASSERT_EQ(b_.WaitForData(2), 1);
  ASSERT_EQ(b_.Receive(&from, got), 1);
  EXPECT_EQ(got.size(), 5000u);

  {
    testing_support::TraceCapture trace;
    ASSERT_EQ(a_.Send(&to, Bytes(5001, 0x5B)), 1);
    ASSERT_EQ(a_.Send(&to, Bytes{1, 2, 3}), 1);
    ASSERT_EQ(b_.WaitForData(2), 1);
    EXPECT_EQ(b_.Receive(&from, got), -1);
    EXPECT_EQ(b_.systemError, EMSGSIZE);
    EXPECT_TRUE(got.empty());
    EXPECT_TRUE(trace.Contains("ERROR(KT_UDP::ReceiveData): datagram longer than 5000 bytes discarded\n"));
  }
  ASSERT_EQ(b_.WaitForData(2), 1);
  ASSERT_EQ(b_.Receive(&from, got), 1);
  EXPECT_EQ(got, (Bytes{1, 2, 3}));

  // A port anyone may send to drops such a datagram without a word or a record, and names its
  // sender; the datagram after it arrives whole.
  const size_t logged = testing_support::ReadFileBytes("error.dat").size();
  {
    testing_support::TraceCapture trace;
    ASSERT_EQ(a_.Send(&to, Bytes(6000, 0x5C)), 1);
    ASSERT_EQ(a_.Send(&to, Bytes{4, 5}), 1);
    ASSERT_EQ(b_.WaitForData(2), 1);
    EXPECT_EQ(b_.ReceiveBounded(&from, got), kUdpOversize);
    EXPECT_TRUE(got.empty());
    EXPECT_EQ(from.GetIpAddress(), Ip("127.0.0.1"));
    EXPECT_EQ(from.GetPort(), a_.GetPort());
    EXPECT_EQ(trace.Text(), "");
  }
  EXPECT_EQ(testing_support::ReadFileBytes("error.dat").size(), logged);
  ASSERT_EQ(b_.WaitForData(2), 1);
  ASSERT_EQ(b_.ReceiveBounded(&from, got), 1);
  EXPECT_EQ(got, (Bytes{4, 5}));
}

TEST_F(UdpTest, ReusedAddressForgetsThePreviousSendersName) {
  resolver_.reverse[Ip("127.0.0.1")] = "first-host";
  KT_UDP c;
  ASSERT_EQ(c.SetBindAddress("127.0.0.3"), 1);
  ASSERT_EQ(c.OpenChannel(0), 0);

  KT_Address to = To(b_);
  KT_Address from;
  Bytes got;
  ASSERT_EQ(a_.Send(&to, Bytes{1}), 1);
  ASSERT_EQ(b_.WaitForData(2), 1);
  ASSERT_EQ(b_.Receive(&from, got), 1);
  EXPECT_STREQ(from.GetHostName(), "first-host");

  ASSERT_EQ(c.Send(&to, Bytes{2}), 1);
  ASSERT_EQ(b_.WaitForData(2), 1);
  ASSERT_EQ(b_.Receive(&from, got), 1);
  EXPECT_EQ(from.GetIpAddress(), Ip("127.0.0.3"));
  EXPECT_STREQ(from.GetHostName(), "127.0.0.3");
}

TEST_F(UdpTest, SendFailures) {
  KT_Address to = To(b_);
  KT_UDP closed;
  // Not open: the base refuses (function 3, code 1) and nothing goes out.
  EXPECT_EQ(closed.Send(&to, Bytes{1}), -1);
  EXPECT_EQ(closed.errorClass, ERR_COMM_BASE);
  EXPECT_EQ(closed.function, 3);
  EXPECT_EQ(closed.code, 1);
  EXPECT_EQ(b_.WaitForData(0), 0);

  EXPECT_EQ(a_.Send(&to, nullptr, 3), -1);
  EXPECT_EQ(a_.code, 2);
  EXPECT_EQ(a_.Send(&to, Bytes{}), -1);
  EXPECT_EQ(a_.code, 2);

  // No destination: SendData records (8, 2, 3) in error.dat, the base answers code 4.
  KT_Address nowhere(ADDRESS_IP);
  EXPECT_EQ(a_.Send(&nowhere, Bytes{1}), -1);
  EXPECT_EQ(a_.errorClass, ERR_COMM_BASE);
  EXPECT_EQ(a_.code, 4);
  Bytes log = testing_support::ReadFileBytes("error.dat");
  ASSERT_EQ(log.size(), 20u);
  EXPECT_EQ(log[4], ERR_DATAGRAM);
  EXPECT_EQ(log[8], 2);
  EXPECT_EQ(log[12], 3);

  // Broadcast needs the option.
  KT_Address bcast(ADDRESS_IP);
  bcast.SetAddressString("127.255.255.255");
  bcast.SetPort(htons(9));
  EXPECT_EQ(a_.Send(&bcast, Bytes{1}), -1);
  EXPECT_EQ(a_.EnableBroadcast(), 0);
  EXPECT_EQ(a_.Send(&bcast, Bytes{1}), 1);
}

TEST_F(UdpTest, OpenBindsAsToldAndReplacesItsSocket) {
  // Port 0 lets the system choose; the local address reports it.
  EXPECT_NE(ntohs(a_.GetPort()), 0);

  // Bound to 0.0.0.0 the local address carries the computer's name.
  KT_UDP any;
  ASSERT_EQ(any.OpenChannel(0), 0);
  EXPECT_STREQ(any.GetHostName(), "testbox");
  EXPECT_EQ(any.LocalAddress().GetIpAddress(), 0u);

  // The process-wide bind address serves channels without one of their own.
  ASSERT_EQ(KT_UDP::SetDefaultBindAddress("127.0.0.2"), 1);
  KT_UDP second;
  const int opened = second.OpenChannel(0);
  ASSERT_EQ(KT_UDP::SetDefaultBindAddress(nullptr), 1);
  ASSERT_EQ(opened, 0);
  EXPECT_EQ(second.LocalAddress().GetIpAddress(), Ip("127.0.0.2"));
  EXPECT_EQ(KT_UDP::SetDefaultBindAddress("not-an-address"), -1);
  EXPECT_EQ(KT_UDP::DefaultBindAddress(), 0u);
  EXPECT_EQ(second.SetBindAddress("300.1.1.1"), -1);

  // Opening again releases the first socket.
  const int before = OpenFdCount();
  ASSERT_EQ(second.OpenChannel(0), 0);
  ASSERT_EQ(second.OpenChannel(0), 0);
  EXPECT_EQ(OpenFdCount(), before);

  // A port in use is a bind failure (code 3).
  KT_UDP clash;
  ASSERT_EQ(clash.SetBindAddress("127.0.0.1"), 1);
  EXPECT_EQ(clash.OpenChannel(ntohs(a_.GetPort())), -1);
  EXPECT_FALSE(clash.IsOpen());
  EXPECT_EQ(clash.GetSocket(), -1);
  Bytes log = testing_support::ReadFileBytes("error.dat");
  ASSERT_EQ(log.size(), 20u);
  EXPECT_EQ(log[12], 3);

  second.CloseChannel();
  EXPECT_FALSE(second.IsOpen());
  EXPECT_EQ(second.GetSocket(), -1);
}

// A refused bind leaves its reason in the channel's record after OpenChannel: the caller
// reports it (the agent's trace names it).
TEST_F(UdpTest, ARefusedBindKeepsItsSystemError) {
  const struct {
    const char* address;
    bool portInUse;
    int error;
  } cases[] = {
      {"192.0.2.10", false, EADDRNOTAVAIL},  // not an address of this computer
      {"127.0.0.1", true, EADDRINUSE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    KT_UDP channel;
    channel.systemError = 12345;  // a stale value from earlier is not reported
    ASSERT_EQ(channel.SetBindAddress(c.address), 1);
    EXPECT_EQ(channel.OpenChannel(c.portInUse ? ntohs(a_.GetPort()) : 0), -1);
    EXPECT_EQ(channel.code, 2);
    EXPECT_EQ(channel.systemError, c.error);
  }
  ASSERT_EQ(b_.OpenChannel(0), 0);
  EXPECT_EQ(b_.systemError, 0);
}

TEST(SocketLayer, CleanupEndsEveryStart) {
  CleanupWinsock();
  KT_UDP a, b;
  a.Initialize();
  a.Initialize();
  b.Initialize();
  EXPECT_EQ(SocketLayerStarts(), 3);
  EXPECT_EQ(CleanupWinsock(), 3);
  EXPECT_EQ(CleanupWinsock(), 0);
}

TEST(SnmpValue, KeepsCopiesAndRefusesBadInput) {
  KT_SnmpValue v;
  EXPECT_EQ(v.GetOid(), nullptr);
  EXPECT_EQ(v.GetOidCount(), 0);
  EXPECT_EQ(v.GetValue(), nullptr);
  EXPECT_EQ(v.GetValueLength(), 0);

  uint32_t oid[] = {1, 3, 6, 1, 2, 1, 33, 1, 1, 1, 0};
  ASSERT_EQ(v.SetOid(oid, 11), 1);
  oid[0] = 9;
  EXPECT_EQ(v.GetOidCount(), 11);
  EXPECT_EQ(v.GetOid()[0], 1u);
  EXPECT_EQ(v.SetOid(nullptr, 3), -1);
  EXPECT_EQ(v.SetOid(oid, 0), -1);
  EXPECT_EQ(v.errorClass, ERR_SNMP_VALUE);
  EXPECT_EQ(v.function, 1);
  EXPECT_EQ(v.code, 1);
  EXPECT_EQ(v.GetOidCount(), 11);

  const uint8_t text[] = {'U', 'P', 'S'};
  ASSERT_EQ(v.SetValue(text, 3), 1);
  EXPECT_EQ(v.GetValueLength(), 3);
  EXPECT_STREQ(reinterpret_cast<const char*>(v.GetValue()), "UPS");
  ASSERT_EQ(v.SetValue(text, 0), 1);
  EXPECT_EQ(v.GetValueLength(), 0);
  EXPECT_STREQ(reinterpret_cast<const char*>(v.GetValue()), "");
  EXPECT_EQ(v.SetValue(nullptr, 2), -1);
  EXPECT_EQ(v.SetValue(text, -1), -1);
  EXPECT_EQ(v.function, 2);
  v.SetType(0x04);
  EXPECT_EQ(v.GetType(), 0x04);
}

}  // namespace
