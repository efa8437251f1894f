// Discovery against a responder on the real port 7010, through the loopback broadcast
// address, and (in a private network namespace) through 255.255.255.255.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "core/discovery/discover.h"
#include "core/scp/scp_frame.h"
#include "tests/core/net_fakes.h"
#include "tests/support/private_network.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using net_fakes::Ip;

const Bytes kRequest = {0xC0, 0x00, 0x09, 0x01, 0x00, 0x03, 0x02, 0x01, 0x00};
const Bytes kAdapterQuery = {0xAB, 0x01, 0x36, 0x1E};

// An agent stand-in on 0.0.0.0:7010: answers a discovery request with a DATA frame and the
// adapter query with an adapter's 0xAB answer; keeps what it received.
class Responder {
 public:
  Responder() {
    channel_.SetBindAddress(nullptr);
    // A test elsewhere on the machine that holds 7010 without the machine lock is waited for
    // (a minute at most) rather than counted as a failure here.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!(ok_ = channel_.Open(kScpUdpPort) == 0) && channel_.systemError == EADDRINUSE &&
           std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (ok_) thread_ = std::thread([this] { Run(); });
  }
  ~Responder() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  bool ok() const { return ok_; }
  std::vector<Bytes> Received() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }

 private:
  void Run() {
    while (!stop_) {
      if (channel_.WaitForData(1) <= 0) continue;
      KT_Address from;
      Bytes got;
      if (channel_.Receive(&from, got) <= 0) continue;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.push_back(got);
      }
      Bytes answer;
      if (got == kAdapterQuery) {
        answer = {0xAB, 0x02, 0x00, 0x00};
      } else {
        BuildScpFrame(KT_ScpMessage(SCP_DATA, {2, 1, 0}, {1, 2, 3}), answer);
      }
      channel_.Send(&from, answer);
    }
  }

  KT_UDP channel_;
  bool ok_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<Bytes> received_;
};

class DiscoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resolver_.reverse[Ip("127.0.0.1")] = "localhost";
    ASSERT_TRUE(responder_.ok()) << "port 7010 is taken";
    discover_.SetBindAddress("127.0.0.1");
    ASSERT_EQ(discover_.Initialize(), 1);
    ASSERT_EQ(discover_.OpenChannel(0), 0);
  }
  void TearDown() override { CleanupWinsock(); }

  // Other test runs on this machine may bind 7010 too.
  testing_support::MachineResourceLock port_{"udp_port_7010"};
  testing_support::TempDir dir_;
  net_fakes::FakeResolver resolver_;
  Responder responder_;
  KT_Discover discover_;
};

TEST_F(DiscoveryTest, FindsTheResponderThroughTheLoopbackBroadcast) {
  discover_.AddSubnet("127.255.255.255");
  ASSERT_EQ(discover_.SendDiscoveryRequest(1, 1, 0), 1);

  std::vector<KT_Address> found;
  ASSERT_EQ(discover_.CollectReplies([&](KT_Address& a) { found.push_back(a); }, 1, 0), 1);
  EXPECT_EQ(responder_.Received(), (std::vector<Bytes>{kRequest, kAdapterQuery}));

  std::string host;
  discover_.ResetHostCursor();
  ASSERT_TRUE(discover_.GetNextHost(host));
  EXPECT_EQ(host, "localhost");
  EXPECT_FALSE(discover_.GetNextHost(host));
  ASSERT_EQ(found.size(), 2u);  // both answers, one host
  for (auto& a : found) {
    EXPECT_EQ(a.GetType(), ADDRESS_IP);
    EXPECT_EQ(a.GetIpAddress(), Ip("127.0.0.1"));
    EXPECT_EQ(a.GetPort(), htons(kScpUdpPort));
    EXPECT_STREQ(a.StoredHostName(), "localhost");
  }
}

TEST_F(DiscoveryTest, AdapterAnswerReadsAsAnAgentsAnswer) {
  KT_Address adapter(ADDRESS_IP);
  adapter.SetAddressString("127.0.0.1");
  adapter.SetPort(htons(kScpUdpPort));
  discover_.SendAdapterQuery(&adapter);
  ASSERT_EQ(discover_.WaitForData(2), 1);
  KT_Address from;
  Bytes answer;
  ASSERT_EQ(discover_.Receive(&from, answer), 1);
  KT_ScpMessage message;
  ASSERT_EQ(TranslateAdapterReply(answer.data(), answer.size(), message), 1);
  Bytes frame;
  ASSERT_EQ(BuildScpFrame(message, frame), 1);
  KT_ScpMessage decoded;
  EXPECT_EQ(DecodeScpFrame(frame.data(), frame.size(), decoded), 0);
  EXPECT_EQ(decoded.key, (Bytes{2, 1, 0}));
}

TEST_F(DiscoveryTest, AFailedSendSkipsThatSubnetAndGoesOn) {
  discover_.AddSubnet("127.0.0.1");  // asked last: newest first
  discover_.AddSubnet("no-such-subnet");
  EXPECT_EQ(discover_.SendDiscoveryRequest(0, 1, 0), 1);
  EXPECT_EQ(discover_.FailedSubnets(), (std::vector<std::string>{"no-such-subnet"}));
  ASSERT_EQ(discover_.CollectReplies(nullptr, 1, 0), 1);
  EXPECT_EQ(responder_.Received(), (std::vector<Bytes>{kRequest}));
  EXPECT_EQ(discover_.GetHostCount(), 1);

  // Nothing sent at all: -1.
  KT_Discover onlyBad;
  ASSERT_GE(onlyBad.OpenChannel(0), 0);
  onlyBad.AddSubnet("no-such-subnet");
  EXPECT_EQ(onlyBad.SendDiscoveryRequest(0, 1, 0), -1);

  // Without an open channel nothing can be sent.
  KT_Discover closed;
  closed.AddSubnet("127.0.0.1");
  EXPECT_EQ(closed.SendDiscoveryRequest(0, 1, 0), -1);
}

// Runs `body` in a child process inside a new network namespace with only its loopback
// interface up: a broadcast to 255.255.255.255 cannot leave the machine there. The child's
// exit status: 0 passed, 77 namespaces not permitted, anything else the failing step.
int InPrivateNetwork(int (*body)()) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::string error;
    if (!testing_support::EnterPrivateNetwork(error)) ::_exit(77);
    ::_exit(body());
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int SearchWithEmptySubnetList() {
  net_fakes::FakeResolver resolver;
  resolver.reverse[Ip("127.0.0.1")] = "localhost";
  KT_UDP agent;
  if (agent.OpenChannel(kScpUdpPort) != 0) return 10;
  KT_Discover discover;
  discover.SetBindAddress("127.0.0.1");  // a source address the answer can go back to
  if (discover.OpenChannel(0) != 0) return 11;
  // The namespace has no route for the limited broadcast; the loopback device carries it.
  if (::setsockopt(discover.GetSocket(), SOL_SOCKET, SO_BINDTODEVICE, "lo", 3) != 0) return 12;
  if (discover.SendDiscoveryRequest(0, 1, 0) != 1) return 13;
  std::string subnet;
  discover.ResetSubnetCursor();
  if (!discover.GetNextSubnet(subnet) || subnet != "255.255.255.255" || discover.GetSubnetCount() != 1) return 14;
  if (agent.WaitForData(2) != 1) return 15;
  KT_Address from;
  Bytes got;
  if (agent.Receive(&from, got) != 1 || got != kRequest) return 16;
  if (agent.Send(&from, Bytes{0xC0}) != 1) return 17;
  discover.CollectReplies(nullptr, 1, 0);
  return discover.GetHostCount() == 1 ? 0 : 18;
}

TEST(DiscoveryDefault, EmptySubnetListBroadcastsToAllOnes) {
  testing_support::TempDir dir;
  const int result = InPrivateNetwork(SearchWithEmptySubnetList);
  if (result == 77) GTEST_SKIP() << "network namespaces are not permitted here";
  EXPECT_EQ(result, 0);
}

}  // namespace
