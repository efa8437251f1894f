// The meters dialog keeps following the real VigilNT, through the console's own communication
// worker, after a meter reply is lost on the way and after the agent was killed and started
// again: the list and an open gauge's needle show a change made at the simulated UPS afterwards
// within seconds, long before the worker would give the silent agent up (90 s).
//
// The worker reaches the agent through a relay on loopback that passes every datagram both
// ways and, when told, drops one meter reply.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTreeWidget>
#include <atomic>
#include <csignal>
#include <map>
#include <memory>
#include <thread>

#include "console/comm/communication.h"
#include "core/scp/scp_frame.h"
#include "dialogs/meters/meters.h"
#include "dialogs/widgets/gauge.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/console/comm_test_support.h"
#include "tests/support/simulated_ups.h"

namespace {

// Passes datagrams between the console (on its port) and the agent's port on 127.0.0.1; once
// armed, the next meter reply (the meter block's data) is dropped.
class DroppingRelay {
 public:
  ~DroppingRelay() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (front_ >= 0) ::close(front_);
    if (back_ >= 0) ::close(back_);
  }
  bool Open(uint16_t agentPort) {
    front_ = Bound();
    back_ = Bound();
    if (front_ < 0 || back_ < 0) return false;
    sockaddr_in agent{};
    agent.sin_family = AF_INET;
    agent.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    agent.sin_port = htons(agentPort);
    if (::connect(back_, reinterpret_cast<sockaddr*>(&agent), sizeof agent) != 0) return false;
    thread_ = std::thread([this] { Run(); });
    return true;
  }
  uint16_t Port() const {
    sockaddr_in a{};
    socklen_t n = sizeof a;
    ::getsockname(front_, reinterpret_cast<sockaddr*>(&a), &n);
    return ntohs(a.sin_port);
  }
  void DropNextMeterReply() { armed_ = true; }
  int Dropped() const { return dropped_.load(); }

 private:
  static int Bound() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      ::close(fd);
      return -1;
    }
    return fd;
  }
  void Run() {
    sockaddr_in console{};
    bool known = false;
    uint8_t buffer[65536];
    while (!stop_) {
      pollfd fds[2] = {{front_, POLLIN, 0}, {back_, POLLIN, 0}};
      if (::poll(fds, 2, 50) <= 0) continue;
      if ((fds[0].revents & POLLIN) != 0) {
        socklen_t n = sizeof console;
        const ssize_t got = ::recvfrom(front_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&console), &n);
        known = known || got >= 0;
        // While the agent is down a send fails (refused): the datagram is lost, as on a network.
        if (got > 0) ::send(back_, buffer, static_cast<size_t>(got), 0);
      }
      if ((fds[1].revents & (POLLIN | POLLERR)) != 0) {
        // A refused send (the agent is down) shows here as an error; nothing to pass on.
        const ssize_t got = ::recv(back_, buffer, sizeof buffer, 0);
        if (got <= 0 || !known) continue;
        KT_ScpMessage m;
        if (armed_ && DecodeScpFrame(buffer, static_cast<size_t>(got), m) >= 0 && m.type == SCP_DATA &&
            m.KeyLength() >= 1 && m.KeyByte(kScpKeyBlock) == BLOCK_METERS) {
          armed_ = false;
          ++dropped_;
          continue;
        }
        ::sendto(front_, buffer, static_cast<size_t>(got), 0, reinterpret_cast<sockaddr*>(&console), sizeof console);
      }
    }
  }

  int front_ = -1;
  int back_ = -1;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> armed_{false};
  std::atomic<int> dropped_{0};
};

class MetersFollowTest : public trem_harness::TremTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("meters"); }
  void SetUp() override {
    TremTest::SetUp();
    target.handler = &handler;
    relay.SetTarget(&target);
  }
  void TearDown() override {
    if (worker) worker->Stop(10000);
    worker.reset();
    gDiscover.Close();
    gnCommMode = 3;
    TremTest::TearDown();
  }
  void StartWorker() {
    gnCommMode = 0;
    worker = std::make_unique<CCommunication>(&relay);
    worker->start();
    ASSERT_TRUE(worker->WaitInitialised(10000));
    ASSERT_EQ(worker->Running(), 1);
  }
  static bool StartAgent(AgentProcess& vigil, const testing_support::SimulatedUps& ups) {
    return vigil.Start({"-b", "-d", ups.device()}) &&
           vigil.WaitForTrace({"Inside SERIAL thread", "NETWORK THREAD IS ALIVE"}, 120000);
  }

  console_test::RecordingTarget target;
  CScpHandler handler;
  CommNoticeRelay relay;
  std::unique_ptr<CCommunication> worker;
};

QString ValueOf(CMeters* d, const QString& label) {
  for (int r = 0; r < d->List()->topLevelItemCount(); ++r) {
    if (d->List()->topLevelItem(r)->text(0) == label) return d->List()->topLevelItem(r)->text(1);
  }
  return QString();
}

// The needle of a meter's gauge; -1 while it has no dial.
double Needle(int meter) {
  const KtGaugeDefinition* def = KtGaugeFind(CMeters::GaugeHandleOf(meter));
  return def != nullptr ? def->value : -1;
}
double TemperatureNeedle() {
  return Needle(10);
}

// What the open gauges and their rows may show, by meter: the texts and needles of the
// readings the agent held. Anything else they show is noted in `seen`.
struct HeldReadings {
  std::map<int, std::pair<QStringList, QList<double>>> held;
  QStringList seen = {};
  void Allow(CMeters* d) {
    for (auto& [meter, h] : held) {
      h.first << ValueOf(d, CMeters::MeterLabel(meter));
      h.second << Needle(meter);
    }
  }
  void Check(CMeters* d) {
    for (const auto& [meter, h] : held) {
      const QString text = ValueOf(d, CMeters::MeterLabel(meter));
      const double needle = Needle(meter);
      const QString what = CMeters::MeterLabel(meter) + ": " + text + ", needle " + QString::number(needle);
      const bool known =
          (text.isEmpty() || h.first.contains(text)) && (needle == -1 || h.second.contains(needle));
      if (!known && !seen.contains(what)) seen << what;
    }
  }
};

// How long after `since` the list and the needle show the temperature; -1 when not within the
// bound. Every step on the way is checked against `held` when given.
qint64 FollowsTo(CMeters* d, int celsius, const QElapsedTimer& since, int boundMs,
                 HeldReadings* held = nullptr) {
  const QString text = QString::number(celsius) + "C";
  const bool shown = console_test::PumpUntil(
      [&] {
        if (held != nullptr) held->Check(d);
        return ValueOf(d, "Temperature") == text && TemperatureNeedle() == celsius;
      },
      boundMs);
  return shown ? since.elapsed() : -1;
}

TEST_F(MetersFollowTest, ListAndNeedleFollowALostReplyAndARestartedAgent) {
  if (!trem_harness::HarnessInPrivateNetwork()) GTEST_SKIP() << "needs a network of its own";
  testing_support::SimulatedUps ups("apc");
  ASSERT_TRUE(ups.ok()) << ups.error();
  ASSERT_TRUE(ups.Do("set temperature 030.0"));
  auto vigil = std::make_unique<AgentProcess>();
  ASSERT_TRUE(StartAgent(*vigil, ups)) << vigil->Stderr();
  DroppingRelay udpRelay;
  ASSERT_TRUE(udpRelay.Open(kScpUdpPort));
  trem_harness::ResetToLocalHost(udpRelay.Port());  // "localhost" at the relay's port
  StartWorker();

  QPointer<CMeters> d = new CMeters(nullptr, "localhost");
  QElapsedTimer clock;
  clock.start();
  ASSERT_TRUE(console_test::PumpUntil([&] { return d->IsFilled() && ValueOf(d, "Temperature") == "30C"; }, 60000))
      << vigil->Stderr();
  // Battery capacity, input and output voltage, temperature.
  HeldReadings held{{{4, {}}, {11, {}}, {12, {}}, {10, {}}}};
  for (const auto& [meter, h] : held.held) d->CreatePages(CMeters::MeterLabel(meter));
  ASSERT_GE(FollowsTo(d, 30, clock, 30000), 0);

  // One meter reply lost on the way: the request is asked again after the dialog's short wait.
  udpRelay.DropNextMeterReply();
  ASSERT_TRUE(console_test::PumpUntil([&] { return udpRelay.Dropped() == 1; }, 30000));
  ASSERT_TRUE(ups.Do("set temperature 041.0"));
  clock.restart();
  const qint64 afterLoss = FollowsTo(d, 41, clock, 30000);
  EXPECT_GE(afterLoss, 0) << "Temperature " << ValueOf(d, "Temperature").toStdString() << ", needle "
                          << TemperatureNeedle();

  // The agent killed and started again: its first meter answer moves the list and the needle,
  // long before the worker's own time-out would ask again, and no gauge or row ever shows a
  // reading the agent did not hold (the UPS's other readings stay as they were).
  held.Allow(d);
  for (const auto& [meter, h] : held.held) ASSERT_NE(h.second.front(), -1) << meter;
  held.held[10].first << "35C";
  held.held[10].second << 35;
  QElapsedTimer sinceKill;
  sinceKill.start();
  vigil->Signal(SIGKILL);
  vigil->Wait(30000);
  vigil = std::make_unique<AgentProcess>();
  ASSERT_TRUE(ups.Do("set temperature 035.0"));
  ASSERT_TRUE(StartAgent(*vigil, ups)) << vigil->Stderr();
  // Without asking again the dialog would stay as it is for good (the worker hears the agent's
  // heartbeat answers, so it never gives it up); by itself the worker would ask again only
  // after 90 s of silence. The agent must be back with time to spare for the check to mean
  // anything.
  const int bound = static_cast<int>(80000 - sinceKill.elapsed());
  ASSERT_GT(bound, 20000) << "the agent took " << sinceKill.elapsed() << " ms to come back";
  clock.restart();
  const qint64 afterRestart = FollowsTo(d, 35, clock, bound, &held);
  EXPECT_GE(afterRestart, 0) << "Temperature " << ValueOf(d, "Temperature").toStdString() << ", needle "
                             << TemperatureNeedle() << ", " << sinceKill.elapsed() << " ms after the kill\n"
                             << vigil->TraceDump(20, 6000);
  // A few more replies of the restarted agent.
  console_test::PumpUntil([&] { return held.Check(d), false; }, 4000);
  EXPECT_TRUE(held.seen.isEmpty()) << held.seen.join("; ").toStdString();
  ASSERT_FALSE(d.isNull());
  Screenshot(d, "meters_after_agent_restart");
  Screenshot(CMeters::GaugeWindowOf(10), "gauge_temperature_after_agent_restart");
  EXPECT_EQ(boxes.Count(), 0);
  delete d.data();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  vigil->Signal(SIGTERM);
  vigil->Wait(60000);
}

}  // namespace
