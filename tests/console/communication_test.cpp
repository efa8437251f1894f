// The communication worker against scripted UDP peers on loopback addresses (host 1 on
// 127.0.0.1, host 2 on 127.0.0.2), its steps driven from the test thread; and the worker's
// thread: idle and invalid modes, stopping under a flood, critical errors, the built-in list.
#include "console/comm/communication.h"

#include <QPointer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <set>
#include <thread>

#include "console/comm/comm_frame.h"
#include "console/comm/comm_settings.h"
#include "core/network/ipc.h"
#include "dialogs/frame/reply_routing.h"
#include "dialogs/frame/request_path.h"
#include "dialogs/network/net_settings.h"
#include "tests/console/comm_test_support.h"
#include "tests/dialogs/frame/probe_dialog.h"
#include "tests/support/test_support.h"

TREM_HARNESS_PRIVATE_NETWORK();

namespace {

using console_test::ContactTime;
using console_test::PumpEvents;
using console_test::PumpUntil;
using console_test::Queued;
using console_test::ScriptedPeer;
using console_test::TouchHosts;
using console_test::WorkerTest;

std::vector<uint8_t> Key(const KT_ScpMessage& m) {
  return m.key;
}

uint16_t WorkerPort() {
  return gDiscover.LocalAddress().GetPort();
}

TEST_F(WorkerTest, SendsOneRequestPerStepAndNoticesEachReplyWithTheKeyOfItsMessage) {
  agent.MarkAllFresh();
  CCommunication& w = Worker(0);
  ASSERT_EQ(w.Running(), 1);
  ASSERT_NE(w.CommFrame(), nullptr);
  RequestForHost(1, 4, 0, 0);
  RequestForHost(1, 4, 8, 0);
  RequestForHost(1, 4, 8, 1);
  size_t longest = 0;
  for (int step = 0; step < 4; ++step) {
    w.Step();
    std::vector<KT_ScpMessage> got = peer1.Drain(100);
    ASSERT_EQ(got.size(), step < 3 ? 1u : 0u) << "step " << step;
    if (got.empty()) break;
    std::vector<std::vector<uint8_t>> answers;
    ASSERT_TRUE(agent.Exchange(peer1.LastFrame(), 1, answers));
    for (const auto& a : answers) {
      longest = std::max(longest, a.size());
      ASSERT_TRUE(peer1.SendRaw(a));
    }
  }
  PumpEvents();
  // The whole block carries data: the frame's data length bytes stand where a longer key would
  // have branch and item, and must not be read as them.
  EXPECT_GT(longest, 8u);
  ASSERT_EQ(target.notices.size(), 3u);
  const uint32_t keys[] = {PackScpKey(1, 4, 0, 0), PackScpKey(2, 4, 8, 0), PackScpKey(3, 4, 8, 1)};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(target.notices[i].message, kNoticeReplyApplied);
    EXPECT_EQ(target.notices[i].wParam, 0);
    EXPECT_EQ(target.notices[i].key, keys[i]) << i;
    EXPECT_EQ(target.notices[i].status, SCP_GET_OK);
    EXPECT_EQ(target.notices[i].hostIndex, 1);
  }
  EXPECT_TRUE(Queued().empty());
  EXPECT_TRUE(peer2.Drain(20).empty());
}

TEST_F(WorkerTest, GetResendIsAskedAgainOfTheAnsweringHostWithTheSameKey) {
  CCommunication& w = Worker(0);
  const std::vector<std::vector<uint8_t>> keys = {{4}, {4, 8}, {4, 8, 1}};
  for (const auto& key : keys) {
    SCOPED_TRACE(key.size());
    gScp.requestTable.Clear();
    RequestForHost(2, key[0], key.size() > 1 ? key[1] : 0, key.size() > 2 ? key[2] : 0);
    w.Step();
    KT_ScpMessage request;
    ASSERT_TRUE(peer2.NextRequest(request));
    ASSERT_EQ(Key(request), key);
    ASSERT_TRUE(peer2.SendStatus(key, SCP_GET_RESEND));
    w.Step();  // applies the answer; the handler asks again
    PumpEvents();
    w.Step();  // sends the question again
    ASSERT_TRUE(peer2.NextRequest(request));
    EXPECT_EQ(request.type, SCP_GET);
    EXPECT_EQ(Key(request), key);
    EXPECT_TRUE(peer1.Drain(20).empty());
    ASSERT_FALSE(target.notices.empty());
    EXPECT_EQ(target.notices.back().status, SCP_GET_RESEND);
    EXPECT_EQ(target.notices.back().hostIndex, 2);
  }
}

// An answer that does not read in the widths this console learnt (an agent started again serves
// its first ones until asked for its UPS information) changes nothing and is not noticed; the
// UPS information is asked for again of that host, and the unanswered request stays.
TEST_F(WorkerTest, AnUnreadableAnswerAsksForTheUpsInformationAgain) {
  CCommunication& w = Worker(0);
  RequestForHost(2, 3, 0, 0);
  w.Step();
  KT_ScpMessage request;
  ASSERT_TRUE(peer2.NextRequest(request));
  ASSERT_EQ(Key(request), std::vector<uint8_t>{3});
  ASSERT_TRUE(peer2.SendMessage(KT_ScpMessage(SCP_DATA, {3}, {1, 2, 3})));
  w.Step();
  PumpEvents();
  EXPECT_TRUE(target.notices.empty());
  const auto queued = Queued();
  EXPECT_EQ(queued, (std::vector<std::pair<std::vector<uint8_t>, int>>{{{2}, 2}}));
  w.Step();
  ASSERT_TRUE(peer2.NextRequest(request));
  EXPECT_EQ(request.type, SCP_GET);
  EXPECT_EQ(Key(request), std::vector<uint8_t>{2});
  {
    // The meter request is still in flight: the dialog that asked for it asks again.
    ScpQueueLock lock;
    const uint8_t meters[] = {3};
    EXPECT_GE(gScp.requestTable.Find(meters, 1, 2), 0);
  }
}

TEST_F(WorkerTest, TwoRepliesForOneBlockInOnePassAreEachHandledOnTheirOwnStatus) {
  agent.MarkAllFresh();
  auto* eventLog = new ProbeDialog(0, DialogSlot::EventLogConfig);  // (4, 5)
  CCommunication& w = Worker(0);
  RequestForHost(1, 4, 8, 1);
  RequestForHost(1, 4, 5, 0);
  w.Step();
  w.Step();
  std::vector<KT_ScpMessage> got = peer1.Drain(100);
  ASSERT_EQ(got.size(), 2u);
  // Both answers wait before the next pass: a Get Resend for (4, 8, 1), then the data of (4, 5).
  ASSERT_TRUE(peer1.SendStatus({4, 8, 1}, SCP_GET_RESEND));
  std::vector<std::vector<uint8_t>> answers;
  ASSERT_TRUE(agent.Exchange(std::vector<uint8_t>{0xC0, 0x00, 0x08, 0x01, 0x00, 0x02, 4, 5}, 1, answers));
  ASSERT_EQ(answers.size(), 1u);
  ASSERT_TRUE(peer1.SendRaw(answers[0]));
  w.Step();
  PumpEvents();
  ASSERT_EQ(target.notices.size(), 2u);
  EXPECT_EQ(target.notices[0].status, SCP_GET_RESEND);
  EXPECT_EQ(target.notices[1].status, SCP_GET_OK);
  ASSERT_EQ(eventLog->replies.size(), 1u);
  EXPECT_EQ(eventLog->replies[0].branch, 5u);
  const auto queued = Queued();
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_EQ(queued[0].first, (std::vector<uint8_t>{4, 8, 1}));
  EXPECT_EQ(queued[0].second, 1);
}

TEST_F(WorkerTest, FailureAnswersReachTheUserAsBoxesUnlessTheirDialogIsOpen) {
  CCommunication& w = Worker(0);
  QWidget main;
  handler.SetBoxOwner(&main);
  struct Case {
    std::vector<uint8_t> key;
    uint8_t code;
    bool adapterDialog;
    const char* box;  // null: none
  };
  const Case cases[] = {
      {{4, 8, 1}, SCP_SET_FAILED, false, "SCP Status: FieldAddress=4,8,1 - Set Failed"},
      {{4, 12}, SCP_NOT_AVAILABLE, false, "SCP Status: FieldAddress=4,12,0 - Not Available"},
      {{4, 12}, SCP_NOT_AVAILABLE, true, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.box != nullptr ? c.box : "adapter dialog open");
    boxes.Clear();
    QPointer<ProbeDialog> dialog =
        c.adapterDialog ? new ProbeDialog(0, DialogSlot::NetworkAdapterConfig) : nullptr;
    RequestForHost(2, c.key[0], c.key[1], c.key.size() > 2 ? c.key[2] : 0);
    w.Step();
    KT_ScpMessage request;
    ASSERT_TRUE(peer2.NextRequest(request));
    ASSERT_TRUE(peer2.SendStatus(c.key, c.code));
    w.Step();
    PumpEvents();
    if (c.box != nullptr) {
      ASSERT_EQ(boxes.Count(), 1);
      EXPECT_EQ(boxes.Boxes()[0].text.toStdString(), c.box);
    } else {
      EXPECT_EQ(boxes.Count(), 0);
      ASSERT_FALSE(dialog.isNull());
      ASSERT_EQ(dialog->replies.size(), 1u);
      EXPECT_EQ(dialog->replies[0].status, unsigned{SCP_NOT_AVAILABLE});
      delete dialog.data();
    }
    ScpQueueLock lock;
    EXPECT_EQ(gScp.requestTable.GetCount(), 0);
  }
}

TEST_F(WorkerTest, OnlyListedSendersChangeTheImageAndOnlyTheirOwnHostIsStamped) {
  testing_support::ScopedManualClock clock;
  TouchHosts({1, 2});
  const int64_t before = clock->Now();
  agent.MarkAllFresh();
  CCommunication& w = Worker(0);
  ScriptedPeer stranger;
  ASSERT_TRUE(stranger.Open("127.0.0.3"));
  std::vector<std::vector<uint8_t>> block1;
  ASSERT_TRUE(agent.Exchange(std::vector<uint8_t>{0xC0, 0x00, 0x07, 0x01, 0x00, 0x01, 1}, 1, block1));
  ASSERT_EQ(block1.size(), 1u);
  const std::vector<uint8_t> adapter = {0xAB, 0x01, 0x36, 0x1E};
  struct Case {
    const char* what;
    ScriptedPeer* from;
    std::vector<uint8_t> bytes;
    uint32_t key;  // 0: no notice
    int host;      // the host whose contact time moves (0: none)
  };
  const Case cases[] = {
      {"a frame cut after five bytes", &peer1, {0xC0, 0x00, 0x09, 0x03, 0x01}, 0, 0},
      {"a request from a peer", &peer1, {0xC0, 0x00, 0x07, 0x01, 0x00, 0x01, 1}, 0, 0},
      {"not a frame at all", &peer1, {0x55, 0xAA, 0x00}, 0, 0},
      {"status from a stranger", &stranger, block1[0], 0, 0},
      {"status from host 2", &peer2, block1[0], PackScpKey(1, 1, 0, 0), 2},
      {"an adapter answer from host 1", &peer1, adapter, PackScpKey(3, 2, 1, 0), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    target.notices.clear();
    clock->AdvanceSeconds(5);
    c.from->AimAt(WorkerPort());
    ASSERT_TRUE(c.from->SendRaw(c.bytes));
    w.Step();
    PumpEvents();
    if (c.key == 0) {
      EXPECT_TRUE(target.notices.empty());
    } else {
      ASSERT_EQ(target.notices.size(), 1u);
      EXPECT_EQ(target.notices[0].key, c.key);
      EXPECT_EQ(target.notices[0].hostIndex, c.host);
    }
    for (int host = 1; host <= 2; ++host) {
      if (host == c.host) {
        EXPECT_EQ(ContactTime(host), clock->Now()) << host;
      } else {
        EXPECT_LT(ContactTime(host), clock->Now()) << host;
      }
    }
  }
  EXPECT_GE(ContactTime(1), before);
  EXPECT_EQ(boxes.Count(), 0);
}

TEST_F(WorkerTest, AHostEnteredByNameIsMatchedByItsAddress) {
  {
    KT_HostControl writer;
    gHosts.ResetHosts();
    KT_Address named(ADDRESS_IP);
    named.SetHostName("localhost");
    gHosts.AddHost(named);
  }
  CCommunication& w = Worker(0);
  peer1.AimAt(WorkerPort());
  ASSERT_TRUE(peer1.SendStatus({4, 8, 1}, SCP_SET_OK));
  w.Step();
  PumpEvents();
  ASSERT_EQ(target.notices.size(), 1u);
  EXPECT_EQ(target.notices[0].hostIndex, 1);
  EXPECT_EQ(target.notices[0].status, SCP_SET_OK);
}

TEST_F(WorkerTest, AFailedSendIsRepeatedUntilTheAgentIsKnownLost) {
  {
    KT_HostControl writer;
    gHosts.GetHostByIndex(2)->Address().SetType(ADDRESS_IPX);  // no IPX here: the send fails
  }
  CCommunication& w = Worker(0);
  RequestForHost(2, 4, 8, 0);
  EXPECT_EQ(w.Send(), 0);
  EXPECT_EQ(w.Send(), 0);
  {
    ScpQueueLock lock;
    ScpQueueEntry e;
    gScp.requestTable.ResetCursor();
    EXPECT_GE(gScp.requestTable.Next(e), 0) << "still to send";
  }
  {
    auto lock = gScp.Lock();
    gScp.upsStatus.SetAlarm(ALARM_LOST_DAEMON_COMM);
  }
  EXPECT_EQ(w.Send(), 1);
  ScpQueueLock lock;
  ScpQueueEntry e;
  gScp.requestTable.ResetCursor();
  EXPECT_LT(gScp.requestTable.Next(e), 0) << "marked sent";
  EXPECT_EQ(gScp.requestTable.GetCount(), 1);
}

TEST_F(WorkerTest, HeartbeatEvery30SecondsAndASilentHostIsLostOncePerTimeOut) {
  testing_support::ScopedManualClock clock;
  TouchHosts({1, 2});
  ASSERT_EQ(CommTimeoutSeconds(), 90);
  Worker(0);
  auto lostNotices = [&](int host) {
    int n = 0;
    for (const CommNotice& c : target.notices) {
      n += (c.message == kNoticeReplyApplied && c.key == PackScpKey(1, 1, 0, 0) && c.hostIndex == host) ? 1
                                                                                                        : 0;
    }
    return n;
  };
  Steps(2);
  EXPECT_TRUE(peer1.Drain(20).empty());
  clock->AdvanceSeconds(31);
  Steps(3);
  Steps(3);  // no second heartbeat within the 30 s
  auto got = peer1.Drain(50);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(Key(got[0]), (std::vector<uint8_t>{1}));
  EXPECT_EQ(got[0].extraCode, 1);
  EXPECT_EQ(peer2.Drain(50).size(), 1u);
  EXPECT_EQ(lostNotices(1), 0);

  clock->AdvanceSeconds(60);  // 91 s of silence
  Steps(6);
  EXPECT_EQ(lostNotices(1), 1);
  EXPECT_EQ(lostNotices(2), 1);
  {
    auto lock = gScp.Lock();
    EXPECT_EQ(gScp.upsStatus.IsAlarmSet(ALARM_LOST_DAEMON_COMM), 1);
  }
  got = peer1.Drain(50);
  std::set<std::vector<uint8_t>> asked;
  for (const auto& m : got) asked.insert(m.key);
  EXPECT_EQ(asked, (std::set<std::vector<uint8_t>>{{1}, {2}}));

  clock->AdvanceSeconds(89);
  Steps(2);
  EXPECT_EQ(lostNotices(1), 1);
  clock->AdvanceSeconds(2);
  Steps(2);
  EXPECT_EQ(lostNotices(1), 2);
  EXPECT_EQ(lostNotices(2), 2);
}

TEST_F(WorkerTest, TheNetworkingTimeOutDecidesWhenASilentHostIsLost) {
  testing_support::ScopedManualClock clock;
  SetCommTimeoutSeconds(240);  // as cfgnet.dat gives it at start-up
  TouchHosts({1, 2});
  Worker(0);
  auto lost = [&] {
    int n = 0;
    for (const CommNotice& c : target.notices) {
      n += (c.message == kNoticeReplyApplied && c.key == PackScpKey(1, 1, 0, 0) && c.hostIndex == 1) ? 1 : 0;
    }
    return n;
  };
  clock->AdvanceSeconds(100);
  Steps(6);
  EXPECT_EQ(lost(), 0) << "100 s of silence is within 240";
  clock->AdvanceSeconds(141);
  Steps(6);
  EXPECT_EQ(lost(), 1);
  SetCommTimeoutSeconds(kDefaultCommTimeoutSeconds);
}

TEST_F(WorkerTest, EndingUnregistersFromEveryHostAlsoWithRequestsInFlight) {
  CCommunication& w = Worker(0);
  // A request in flight when the worker ends: the table's cursor stands past its first slot.
  RequestForHost(1, 4, 8, 0);
  RequestForHost(2, 4, 8, 0);
  EXPECT_EQ(w.Send(), 1);
  ASSERT_EQ(peer1.Drain(100).size(), 1u);
  w.ExitInstance();
  initialised_here_ = false;
  for (ScriptedPeer* peer : {&peer1, &peer2}) {
    const auto got = peer->Drain(100);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].type, SCP_SET);
    EXPECT_EQ(Key(got[0]), (std::vector<uint8_t>{BLOCK_COMMAND, 6}));
  }
}

// Over the local channel the agent takes one message a turn, and hands over its own reply before
// it takes the next: a worker that ends while the agent waits for the console's block to be
// emptied, the worker's last request still in the agent's block, gets its unregister through.
TEST_F(WorkerTest, EndingOverTheLocalChannelReachesAnAgentStillHandingOverAReply) {
  KT_IPC agent;
  ASSERT_EQ(agent.OpenChannel(kIpcAgentRole), 0);
  CCommunication& w = Worker(3);
  RequestForHost(1, 4, 8, 0);
  EXPECT_EQ(w.Send(), 1);
  std::vector<uint8_t> reply;
  ASSERT_EQ(BuildScpFrame(KT_ScpMessage(SCP_STATUS, {3, 1}, {SCP_SET_OK}), reply), 1);
  ASSERT_EQ(agent.SendData(nullptr, reply.data(), reply.size()), 0);

  std::vector<KT_ScpMessage> taken;
  std::thread agentTurns([&] {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    bool handed = false;
    while (!handed && std::chrono::steady_clock::now() < end)
      handed = agent.SendData(nullptr, reply.data(), reply.size()) == 0;
    while (std::chrono::steady_clock::now() < end) {
      std::vector<uint8_t> bytes;
      KT_ScpMessage m;
      if (!agent.MessageWaiting() || agent.ReceiveData(nullptr, bytes) != 1) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      } else if (DecodeScpFrame(bytes.data(), bytes.size(), m) >= 0) {
        taken.push_back(m);
        if (m.type == SCP_SET && m.key == std::vector<uint8_t>{BLOCK_COMMAND, 6}) return;
      }
    }
  });
  w.ExitInstance();
  initialised_here_ = false;
  agentTurns.join();
  ASSERT_EQ(taken.size(), 2u);
  EXPECT_EQ(Key(taken[0]), (std::vector<uint8_t>{4, 8}));
  EXPECT_EQ(taken[1].type, SCP_SET);
  EXPECT_EQ(Key(taken[1]), (std::vector<uint8_t>{BLOCK_COMMAND, 6}));
}

// The local channel serves one console after another: the worker takes only the replies to
// its own requests (a GET's data or a GET's status, a SET's status) and the agent's status
// pushes; what waits in the channel when it opens was left by an earlier console.
TEST_F(WorkerTest, OnTheLocalChannelOnlyRepliesToItsOwnRequestsAndPushesAreTaken) {
  agent.MarkAllFresh();
  auto answerTo = [&](const std::vector<uint8_t>& key) {
    KT_ScpMessage get(SCP_GET, key);
    std::vector<uint8_t> frame;
    std::vector<std::vector<uint8_t>> answers;
    EXPECT_EQ(BuildScpFrame(get, frame), 1);
    EXPECT_TRUE(agent.Exchange(frame, 1, answers));
    return answers.empty() ? std::vector<uint8_t>{} : answers.front();
  };
  auto status = [](std::vector<uint8_t> key, uint8_t code) {
    std::vector<uint8_t> frame;
    EXPECT_EQ(BuildScpFrame(KT_ScpMessage(SCP_STATUS, std::move(key), {code}), frame), 1);
    return frame;
  };
  const std::vector<uint8_t> item = {4, 8};
  KT_IPC daemon;
  ASSERT_EQ(daemon.Open(kIpcAgentRole), 1);
  ASSERT_EQ(daemon.Send(nullptr, status(item, SCP_SET_OK)), 1);  // an earlier console's answer
  CCommunication& w = Worker(3);
  ASSERT_EQ(w.Running(), 1);
  {
    KT_IPC look;
    ASSERT_EQ(look.Open(kIpcConsoleRole), 1);
    EXPECT_FALSE(look.IsDataReady());  // dropped when the worker's channel opened
  }

  enum Request { kNone, kGet, kSet };
  struct Row {
    const char* name;
    Request request;
    std::vector<uint8_t> reply;
    bool taken;
    bool answeredSet;
  };
  const std::vector<Row> rows = {
      {"a GET's data", kGet, answerTo(item), true, false},
      {"a GET's failure", kGet, status(item, SCP_GET_FAILED), true, false},
      {"a SET's status for a GET", kGet, status(item, SCP_SET_OK), false, false},
      {"a SET taken", kSet, status(item, SCP_SET_OK), true, true},
      {"a SET refused", kSet, status(item, SCP_SET_FAILED), true, true},
      {"data for a SET", kSet, answerTo(item), false, false},
      {"data asked by nobody", kNone, answerTo(item), false, false},
      {"a status push", kNone, answerTo({1}), true, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    gScp.requestTable.Clear();
    target.notices.clear();
    if (row.request == kGet) RequestForHost(1, 4, 8, 0);
    if (row.request == kSet) {
      ScpQueueLock queue;
      {
        auto lock = gScp.Lock();
        gScp.config.Branches().Touch(8);
      }
      ASSERT_EQ(gScp.QueueRequest(4, 8, 0, 1), 1);
    }
    if (row.request != kNone) {
      ASSERT_EQ(w.Send(), 1);
      std::vector<uint8_t> sent;
      KT_Address none;
      ASSERT_TRUE(daemon.IsDataReady());
      ASSERT_EQ(daemon.Receive(&none, sent), 1);
    }
    ASSERT_FALSE(row.reply.empty());
    ASSERT_EQ(daemon.Send(nullptr, row.reply), 1);
    w.Step();
    PumpEvents();
    ASSERT_EQ(target.notices.size(), row.taken ? 1u : 0u);
    if (row.taken) {
      EXPECT_EQ(target.notices[0].answeredSet, row.answeredSet);
    }
    // A reply not taken leaves the request waiting for its own.
    EXPECT_EQ(gScp.requestTable.GetCount(), row.request != kNone && !row.taken ? 1 : 0);
  }
}

TEST_F(WorkerTest, BuiltInListNamesSixHostsOnEveryStep) {
  CCommunication& w = Worker(5);
  const int before = gHosts.GetHostCount();
  w.Step();
  PumpEvents();
  EXPECT_EQ(gHosts.GetHostCount(), before + 6);
  ASSERT_EQ(target.notices.size(), 6u);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(target.notices[i].message, kNoticeHostChanged);
    EXPECT_EQ(target.notices[i].wParam, i);
    EXPECT_EQ(target.notices[i].key, PackScpKey(1, 2, 0, 0));
  }
  w.Step();
  PumpEvents();
  EXPECT_EQ(gHosts.GetHostCount(), before + 6);
  EXPECT_EQ(target.notices.size(), 12u);
  EXPECT_EQ(gHosts.FindHostByName(kBuiltInHostNames[3]), before + 4);
}

TEST_F(WorkerTest, ACriticalErrorShowsItsBoxAndClosesTheMainWindow) {
  testing_support::ScopedManualClock clock;
  TouchHosts({1, 2});
  clock->AdvanceSeconds(91);  // both hosts silent: the time-out check takes the mutex
  struct Case {
    std::function<void(CCommunication&)> run;
    const char* text;
  };
  const Case cases[] = {
      {[](CCommunication& w) { w.Step(); }, "(CCommunication::Heartbeat): Could not open SCP mutex."},
      {[](CCommunication& w) { w.Send(); }, "(CCommunication::Send): Could not open SCP mutex."},
      {[](CCommunication& w) { w.CheckForTimeout(); },
       "(CCommunication::CheckForTimeout): Could not open SCP mutex."},
  };
  scp_mutex_.Close();  // the console's queue mutex is gone
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    boxes.Clear();
    QWidget main;
    main.show();
    relay.SetMainWindow(&main);
    CCommunication& w = Worker(0);
    c.run(w);
    PumpEvents();
    ASSERT_EQ(boxes.Count(), 1);
    EXPECT_EQ(boxes.Boxes()[0].text, QString::fromUtf8(c.text));
    EXPECT_EQ(boxes.Boxes()[0].caption, QStringLiteral("CRITICAL ERROR"));
    EXPECT_EQ(boxes.Boxes()[0].flags & MB_ICONMASK, MB_ICONERROR);
    EXPECT_FALSE(main.isVisible());
    EXPECT_EQ(w.Stopped(), 1);
    EXPECT_EQ(w.Running(), 0);
    w.Step();  // a stopped worker does nothing more
    PumpEvents();
    EXPECT_EQ(boxes.Count(), 1);
    w.ExitInstance();
    relay.SetMainWindow(nullptr);
  }
  worker.reset();
}

TEST_F(WorkerTest, AllNetworksModeKeepsEachHostsImageAndRemovesOnlyTheAnsweredRequest) {
  testing_support::ScopedManualClock clock;
  TouchHosts({1, 2});
  {
    auto lock = agent.scp().Lock();
    agent.scp().upsStatus.SetAlarm(ALARM_ON_BATTERY);
  }
  agent.MarkAllFresh();
  CCommunication& w = Worker(4);
  ASSERT_EQ(w.Running(), 1);
  EXPECT_TRUE(gScp.TestFlag(SCP_FLAG_UDP_OPEN));
  RequestForHost(1, 4, 8, 1);
  RequestForHost(2, 4, 8, 1);
  RequestForHost(1, 4, 8, 0);
  RequestForHost(1, 1, 0, 0);
  Steps(4);
  ASSERT_EQ(peer1.Drain(100).size(), 3u);
  ASSERT_EQ(peer2.Drain(100).size(), 1u);
  // Host 1 answers (4, 8, 1) and sends its status block.
  ASSERT_TRUE(peer1.SendStatus({4, 8, 1}, SCP_SET_OK));
  std::vector<std::vector<uint8_t>> status;
  ASSERT_TRUE(agent.Exchange(std::vector<uint8_t>{0xC0, 0x00, 0x07, 0x01, 0x00, 0x01, 1}, 1, status));
  ASSERT_TRUE(peer1.SendRaw(status.at(0)));
  clock->AdvanceSeconds(5);
  Steps(1);
  {
    const uint8_t item[] = {4, 8, 1};
    ScpQueueLock lock;
    EXPECT_EQ(gScp.requestTable.GetCount(), 2);
    EXPECT_LT(gScp.requestTable.Find(item, 3, 1), 0);
    EXPECT_GE(gScp.requestTable.Find(item, 3, 2), 0);
    EXPECT_GE(gScp.requestTable.Find(item, 2, 1), 0);
  }
  ASSERT_EQ(target.notices.size(), 2u);
  EXPECT_EQ(target.notices[0].message, kNoticeReplyApplied);
  EXPECT_EQ(target.notices[0].hostIndex, 1);
  EXPECT_EQ(target.notices[1].message, kNoticeHostChanged);
  // A sender that is not listed (and sends no status that would list it) changes nothing.
  {
    ScriptedPeer stranger;
    ASSERT_TRUE(stranger.Open("127.0.0.3"));
    stranger.AimAt(WorkerPort());
    ASSERT_TRUE(stranger.SendStatus({4, 8}, SCP_SET_OK));
    const size_t before = target.notices.size();
    Steps(1);
    EXPECT_EQ(target.notices.size(), before);
    ScpQueueLock lock;
    EXPECT_EQ(gScp.requestTable.GetCount(), 2);
  }
  EXPECT_EQ(target.notices[1].wParam, 1);
  EXPECT_EQ(target.notices[1].key, PackScpKey(1, 1, 0, 0));
  {
    KT_HostControl reader(0);
    HostEntry* host1 = gHosts.GetHostByIndex(1);
    auto lock = host1->Lock();
    EXPECT_EQ(host1->upsStatus.IsAlarmSet(ALARM_ON_BATTERY), 1);
    EXPECT_EQ(host1->GetCommTime(), clock->Now());
  }
  {
    auto lock = gScp.Lock();
    EXPECT_EQ(gScp.upsStatus.IsAlarmSet(ALARM_ON_BATTERY), 0);
  }
  // Host 2 stays silent: lost in its own image, its question goes out again.
  target.notices.clear();
  clock->AdvanceSeconds(88);
  Steps(3);
  ASSERT_EQ(target.notices.size(), 1u);
  EXPECT_EQ(target.notices[0].message, kNoticeHostChanged);
  EXPECT_EQ(target.notices[0].wParam, 2);
  EXPECT_EQ(target.notices[0].key, PackScpKey(1, 1, 0, 0));
  {
    KT_HostControl reader(0);
    HostEntry* host2 = gHosts.GetHostByIndex(2);
    auto lock = host2->Lock();
    EXPECT_EQ(host2->upsStatus.IsAlarmSet(ALARM_LOST_DAEMON_COMM), 1);
  }
  bool askedAgain = false;
  for (const auto& m : peer2.Drain(100)) askedAgain |= m.key == std::vector<uint8_t>{4, 8, 1};
  EXPECT_TRUE(askedAgain);
}

TEST_F(WorkerTest, SnmpModeWithoutTheMibFileSaysSoAndSendsNothing) {
  gScp.ClearFlag(SCP_FLAG_SNMP);
  CCommunication& w = Worker(2);
  PumpEvents();
  ASSERT_EQ(boxes.Count(), 1);
  EXPECT_EQ(boxes.Boxes()[0].text, QStringLiteral("Unable to locate <mib.txt> file.\nSNMP Disabled"));
  EXPECT_EQ(boxes.Boxes()[0].caption, QStringLiteral("Tremona"));
  EXPECT_EQ(w.Running(), 1);
  RequestForHost(1, 1, 0, 0);
  EXPECT_EQ(w.Send(), 0);  // the entry waits: no SNMP, and the agent is not known lost
  ScpQueueLock lock;
  ScpQueueEntry e;
  gScp.requestTable.ResetCursor();
  EXPECT_GE(gScp.requestTable.Next(e), 0);
}

// ---- the thread ----

class WorkerThreadTest : public WorkerTest {
 protected:
  CCommunication& Start(int mode, int udpWaitMs = 50) {
    gnCommMode = mode;
    worker = std::make_unique<CCommunication>(&relay);
    worker->SetReceiveWaits(udpWaitMs, udpWaitMs);
    worker->start();
    EXPECT_TRUE(worker->WaitInitialised(5000));
    return *worker;
  }
};

TEST_F(WorkerThreadTest, IpxModeStaysIdleAndAModeOutsideTheListEndsTheThread) {
  CCommunication& idle = Start(1);
  EXPECT_EQ(idle.Running(), 0);
  EXPECT_TRUE(idle.isRunning());
  EXPECT_NE(idle.CommFrame(), nullptr);
  EXPECT_EQ(idle.StepCount(), 0);
  EXPECT_TRUE(idle.Stop(5000));
  EXPECT_EQ(idle.CommFrame(), nullptr);

  CCommunication& bad = Start(9);
  EXPECT_TRUE(bad.wait(QDeadlineTimer(5000)));
  EXPECT_EQ(bad.CommFrame(), nullptr);
  EXPECT_EQ(bad.StepCount(), 0);
}

TEST_F(WorkerThreadTest, StopEndsTheWorkerDuringAFlood) {
  CCommunication& w = Start(0, 2000);
  ASSERT_TRUE(PumpUntil([&] { return w.StepCount() > 0; }));
  peer1.AimAt(WorkerPort());
  std::atomic<bool> flooding{true};
  std::atomic<int> sent{0};
  std::thread flood([&] {
    // Bounded: at most 20000 datagrams or 20 s.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (flooding.load() && sent.load() < 20000 && std::chrono::steady_clock::now() < end) {
      if (peer1.SendStatus({3, 1}, SCP_SET_OK)) ++sent;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  PumpUntil([&] { return target.notices.size() > 50; });
  const bool stopped = w.Stop(5000);
  const bool stillFlooding = flooding.load() && sent.load() < 20000;
  flooding.store(false);
  flood.join();
  EXPECT_TRUE(stopped);
  EXPECT_TRUE(stillFlooding);
}

TEST_F(WorkerThreadTest, TheCommunicationWindowStartsADiscoveryOnTheWorkerThread) {
  if (!trem_harness::HarnessInPrivateNetwork()) GTEST_SKIP() << "needs a network of its own";
  // An agent's port in the test's own network hears the search.
  ScriptedPeer agentPort;
  ASSERT_TRUE(agentPort.Open("127.0.0.1", kScpUdpPort));
  gDiscover.ClearSubnets();
  gDiscover.AddSubnet("127.0.0.1");
  CCommunication& w = Start(0);
  ASSERT_NE(w.CommFrame(), nullptr);
  w.RequestDiscovery();
  ASSERT_TRUE(PumpUntil([&] { return w.CommFrame()->DiscoveriesSent() == 1; }));
  gDiscover.ClearSubnets();
  // The discovery request (a GET of key 2, 1, 0), then the network adapter query.
  std::vector<uint8_t> bytes;
  KT_Address from;
  ASSERT_TRUE(agentPort.Receive(bytes, from));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0xC0, 0x00, 0x09, 0x01, 0x00, 0x03, 0x02, 0x01, 0x00}));
  EXPECT_EQ(from.GetPort(), WorkerPort());
  ASSERT_TRUE(agentPort.Receive(bytes, from));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0xAB, 0x01, 0x36, 0x1E}));
}

}  // namespace
