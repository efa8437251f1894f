// The page action: which recipients an action pages, how tries and results turn into the
// pager-test status, and pages through a modem to the simulated paging company.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/mail_paging/page_link.h"
#include "agent/engine/pager_dispatch.h"
#include "core/mail_paging/serial_port.h"
#include "core/scp/command_block.h"
#include "core/scp/scp.h"
#include "tests/support/simulated_ups.h"
#include "tests/support/test_support.h"

using testing_support::SimulatedUps;
using testing_support::TempDir;

namespace {

constexpr int kBoundMs = 10000;

KT_PagerConfig Recipient(const std::string& name, const std::string& number, bool tap,
                         const std::string& port = "/dev/null") {
  KT_PagerConfig r;
  r.SetName(name.c_str());
  r.SetAccessNumber(number.c_str());
  r.SetPin("123456");
  r.SetMaxCharacters("80");
  r.SetDelaySeconds("4");
  r.SetDialString("ATDT");
  r.SetInitString("ATZ");
  r.SetTermination("#");
  r.SetTap(tap ? 1 : 0);
  r.SetPortName(port.c_str());
  return r;
}

KT_ActionEntry PageAction(uint8_t alias, uint8_t retries, uint8_t pause, const char* text = "Power failure 42") {
  KT_ActionEntry a(3, ACTION_PAGE);
  a.alias = alias;
  a.retries = retries;
  a.option = pause;
  a.SetMessage(text);
  return a;
}

// A dispatcher whose page link, pauses and status writes are recorded.
class PagerDispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pager_.SetSleeper([this](int ms) {
      std::lock_guard<std::mutex> lock(mutex_);
      sleeps_.push_back(ms);
    });
    pager_.SetStatusSink([this](uint8_t s) {
      std::lock_guard<std::mutex> lock(mutex_);
      statuses_.push_back(s);
    });
  }
  void TearDown() override { EXPECT_TRUE(pager_.WaitIdle(kBoundMs)); }

  // Every call answers with the next result of `results` (the last one repeats).
  void Answer(std::vector<int> results) {
    pager_.SetSender([this, results](const KT_PageCall& call, std::string* text) {
      std::lock_guard<std::mutex> lock(mutex_);
      calls_.push_back(call);
      *text = "fake";
      const size_t i = std::min(calls_.size() - 1, results.size() - 1);
      return results[i];
    });
  }
  void AddRecipients(int n) {
    for (int i = 0; i < n; ++i) {
      scp_.notify.PagerRecipients().Add(Recipient("r" + std::to_string(i), "55500" + std::to_string(i), true));
    }
  }
  std::vector<std::string> CalledNumbers() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> v;
    for (const auto& c : calls_) v.push_back(c.accessNumber);
    std::sort(v.begin(), v.end());
    return v;
  }

  KT_SCP scp_;
  KT_PagerDispatch pager_{scp_};
  std::mutex mutex_;
  std::vector<KT_PageCall> calls_;
  std::vector<int> sleeps_;
  std::vector<uint8_t> statuses_;
};

TEST_F(PagerDispatchTest, AliasBitsPickRecipientsAndAMissingOneSets246) {
  AddRecipients(2);
  Answer({PAGE_SENT});
  EXPECT_EQ(pager_.SendPage(PageAction(0x05, 0, 0)), 1);
  ASSERT_TRUE(pager_.WaitIdle(kBoundMs));
  EXPECT_EQ(CalledNumbers(), std::vector<std::string>{"555000"});
  // Recipient 0's success does not hide that recipient 2 was missing.
  EXPECT_EQ(statuses_, std::vector<uint8_t>{kPagerStatusNoRecipient});

  statuses_.clear();
  calls_.clear();
  AddRecipients(3);  // r0 and r1 are listed already; r2 joins
  EXPECT_EQ(pager_.SendPage(PageAction(0x05, 0, 0)), 2);
  ASSERT_TRUE(pager_.WaitIdle(kBoundMs));
  EXPECT_EQ(CalledNumbers(), (std::vector<std::string>{"555000", "555002"}));
  EXPECT_EQ(statuses_, std::vector<uint8_t>{0});
}

TEST_F(PagerDispatchTest, AliasZeroMeansNoPageAction) {
  AddRecipients(1);
  Answer({PAGE_SENT});
  EXPECT_EQ(pager_.SendPage(PageAction(0, 0, 0)), 0);
  EXPECT_TRUE(calls_.empty());
  EXPECT_EQ(statuses_, std::vector<uint8_t>{kPagerTestNoPageAction});
}

TEST_F(PagerDispatchTest, ResultGroupsEndTheTries) {
  AddRecipients(1);
  struct Case {
    int result;
    uint8_t retries;
    size_t calls;
    uint8_t status;
    std::vector<int> sleeps;
  };
  const Case cases[] = {
      {PAGE_SENT, 5, 1, 0, {}},
      {PAGE_DISCONNECTED, 5, 1, kPagerStatusRefused, {}},           // 31
      {36, 5, 1, kPagerStatusRefused, {}},
      {PAGE_PORT_UNAVAILABLE, 5, 1, kPagerStatusSetupFault, {1000}},  // 4: a pause, then done
      {PAGE_BAD_SETTINGS, 5, 1, kPagerStatusSetupFault, {1000}},      // 29
      {PAGE_BUSY, 2, 3, kPagerStatusTriesUsed, {7000, 7000}},         // pauses between tries only
      {37, 0, 1, kPagerStatusTriesUsed, {}},
  };
  for (const Case& c : cases) {
    calls_.clear();
    sleeps_.clear();
    statuses_.clear();
    Answer({c.result});
    EXPECT_EQ(pager_.SendPage(PageAction(0x01, c.retries, 7)), 1);
    ASSERT_TRUE(pager_.WaitIdle(kBoundMs));
    EXPECT_EQ(calls_.size(), c.calls) << "result " << c.result;
    EXPECT_EQ(statuses_, std::vector<uint8_t>{c.status}) << "result " << c.result;
    EXPECT_EQ(sleeps_, c.sleeps) << "result " << c.result;
  }
}

TEST_F(PagerDispatchTest, RetryThenSuccess) {
  AddRecipients(1);
  Answer({PAGE_NO_CARRIER, PAGE_BUSY, PAGE_SENT});
  pager_.SendPage(PageAction(0x01, 4, 2));
  ASSERT_TRUE(pager_.WaitIdle(kBoundMs));
  EXPECT_EQ(calls_.size(), 3u);
  EXPECT_EQ(statuses_, std::vector<uint8_t>{0});
}

TEST_F(PagerDispatchTest, OneFailedRecipientIsNotOverwrittenByAnotherOnesSuccess) {
  AddRecipients(2);
  // The first call (whichever recipient) fails for good, the second succeeds.
  Answer({PAGE_REJECTED, PAGE_SENT});
  EXPECT_EQ(pager_.SendPage(PageAction(0x03, 0, 0)), 2);
  ASSERT_TRUE(pager_.WaitIdle(kBoundMs));
  EXPECT_EQ(statuses_, std::vector<uint8_t>{kPagerStatusRefused});
}

TEST_F(PagerDispatchTest, PagesOfSeveralThreadsGoThroughTheModemOneAtATime) {
  AddRecipients(4);
  std::atomic<int> inside{0};
  std::atomic<int> most{0};
  std::atomic<int> calls{0};
  pager_.SetSender([&](const KT_PageCall&, std::string*) {
    const int now = ++inside;
    int seen = most.load();
    while (now > seen && !most.compare_exchange_weak(seen, now)) {
    }
    // Long enough for any other thread that is not held back to arrive meanwhile.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    --inside;
    ++calls;
    return static_cast<int>(PAGE_SENT);
  });
  // Two actions at once, four recipients each time: each recipient is paged once or twice (a
  // second page that still waited when it came replaces the first).
  EXPECT_EQ(pager_.SendPage(PageAction(0x0F, 0, 0)), 4);
  EXPECT_EQ(pager_.SendPage(PageAction(0x0F, 0, 0)), 4);
  ASSERT_TRUE(pager_.WaitIdle(kBoundMs));
  EXPECT_GE(calls.load(), 4);
  EXPECT_LE(calls.load(), 8);
  EXPECT_EQ(most.load(), 1);
}

// Pages that come faster than a page takes (a modem that does not answer): the page under way
// goes on, every newer one replaces the one that waits, so the recipient gets the first and the
// newest; every action's status still comes.
TEST_F(PagerDispatchTest, APageThatWaitsIsReplacedByANewerOne) {
  AddRecipients(2);
  std::mutex gateMutex;
  std::condition_variable gate;
  bool open = false;
  std::vector<std::string> texts;
  pager_.SetSender([&](const KT_PageCall& call, std::string*) {
    std::unique_lock<std::mutex> lock(gateMutex);
    texts.push_back(call.accessNumber + ":" + call.message);
    gate.notify_all();
    gate.wait(lock, [&] { return open; });
    return static_cast<int>(PAGE_SENT);
  });
  EXPECT_EQ(pager_.SendPage(PageAction(0x01, 0, 0, "page 0")), 1);
  {
    std::unique_lock<std::mutex> lock(gateMutex);
    ASSERT_TRUE(gate.wait_for(lock, std::chrono::milliseconds(kBoundMs), [&] { return !texts.empty(); }));
  }
  for (int i = 1; i <= 9; ++i) {
    const std::string text = "page " + std::to_string(i);
    // Recipient 1 waits behind recipient 0's page on the one modem: its pages are replaced too.
    EXPECT_EQ(pager_.SendPage(PageAction(0x03, 0, 0, text.c_str())), 2);
  }
  {
    std::lock_guard<std::mutex> lock(gateMutex);
    open = true;
    gate.notify_all();
  }
  ASSERT_TRUE(pager_.WaitIdle(kBoundMs));
  std::sort(texts.begin(), texts.end());
  EXPECT_EQ(texts, (std::vector<std::string>{"555000:page 0", "555000:page 9", "555001:page 9"}));
  std::lock_guard<std::mutex> lock(mutex_);
  EXPECT_EQ(statuses_, std::vector<uint8_t>(10, 0));
}

TEST_F(PagerDispatchTest, StatusReachesTheCommandBlockByDefault) {
  AddRecipients(1);
  pager_.SetStatusSink(nullptr);
  Answer({PAGE_REJECTED});
  scp_.commandBlock.SetValue(COMMAND_PAGER_TEST, kPagerTestInProgress);
  pager_.SendPage(PageAction(0x01, 0, 0));
  ASSERT_TRUE(pager_.WaitIdle(kBoundMs));
  EXPECT_EQ(scp_.commandBlock.GetValue(COMMAND_PAGER_TEST), kPagerStatusRefused);
}

TEST(PagerCall, TapAndNumericRecipientsMakeTheirCalls) {
  KT_PagerConfig tap = Recipient("a", "5551", true);
  tap.SetBaudIndex(2);
  const KT_PageCall t = KT_PagerDispatch::MakeCall(tap, PageAction(1, 0, 0, "hello"));
  EXPECT_TRUE(t.tap);
  EXPECT_EQ(t.lineText, "");
  EXPECT_EQ(t.pin, "123456");
  EXPECT_EQ(t.maxCharacters, "80");
  EXPECT_EQ(t.message, "hello");

  KT_PagerConfig num = Recipient("b", "5552", false);
  for (int i = 0; i <= 10; ++i) {
    num.SetBaudIndex(i <= 9 ? i : 0);
    const KT_PageCall n = KT_PagerDispatch::MakeCall(num, PageAction(1, 0, 0));
    EXPECT_FALSE(n.tap);
    EXPECT_EQ(n.lineText, std::string("B") + PagerBaudText(i <= 9 ? i : 0));
    EXPECT_EQ(n.delaySeconds, "4");
    EXPECT_EQ(n.pin, "");
  }
  EXPECT_STREQ(PagerBaudText(8), "14400");
  EXPECT_STREQ(PagerBaudText(0), "300");
  EXPECT_STREQ(PagerBaudText(200), "300");
}

TEST(PagerReplies, TapRepliesAreFoundPastTextAndWaitForTheirEnd) {
  size_t used = 0;
  EXPECT_EQ(ScanTapReply("\r\x06\r\x1b[p\r", &used), TapReply::kAck);
  EXPECT_EQ(used, 2u);
  EXPECT_EQ(ScanTapReply("\r\x1b[p\r", &used), TapReply::kGoAhead);
  EXPECT_EQ(ScanTapReply("211 Page accepted\r\x06\r", &used), TapReply::kAck);
  EXPECT_EQ(ScanTapReply("\r\x1b", &used), TapReply::kNone);    // ESC what?
  EXPECT_EQ(ScanTapReply("\r\x1b[", &used), TapReply::kNone);
  EXPECT_EQ(ScanTapReply("\r\x1b\x04\r", &used), TapReply::kDisconnect);
  EXPECT_EQ(ScanTapReply("\r\x1e\r", &used), TapReply::kRs);
  EXPECT_EQ(ScanTapReply("\r\x95\r", &used), TapReply::kNak);  // NAK with the parity bit set
  EXPECT_EQ(ScanTapReply("ID=", &used), TapReply::kIdPrompt);
  EXPECT_EQ(ScanTapReply("\r\nNO CARRIER\r\n", &used), TapReply::kNoCarrier);
  EXPECT_EQ(ScanTapReply("ID", &used), TapReply::kNone);

  EXPECT_EQ(ScanModemReply("ATZ\r\r\nOK\r\n", &used), ModemReply::kOk);
  EXPECT_EQ(used, 9u);
  EXPECT_EQ(ScanModemReply("ATDT555\r\r\nCONNECT 2400\r\n", &used), ModemReply::kConnect);
  EXPECT_EQ(ScanModemReply("\r\nNO DIAL TONE\r\n", &used), ModemReply::kNoDialtone);
  EXPECT_EQ(ScanModemReply("\r\nOK", &used), ModemReply::kNone);  // the line has not ended
}

TEST(PagerReplies, ChecksumIsTheLow12BitsOfThe7BitSum) {
  // STX "1234" CR "ab" CR ETX: 2 + 202 + 13 + 195 + 13 + 3 = 428 = 0x1AC.
  EXPECT_EQ(TapChecksum(std::string("\x02" "1234\rab\r\x03")), "1:<");
  // The parity bit does not count; the sum wraps at 12 bits.
  EXPECT_EQ(TapChecksum(std::string(1, static_cast<char>(0x82))), "002");
  EXPECT_EQ(TapChecksum(std::string(40, '\x7f')), "3=8");  // 5080 = 0x13D8 -> 0x3D8
}

// Pages through the simulated modem and paging company.
class PageThroughModem : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_ = std::make_unique<SimulatedUps>("pager");
    ASSERT_TRUE(sim_->ok()) << sim_->error();
  }
  KT_PageCall Call(bool tap, const std::string& message = "Power failure 42") {
    KT_PageCall c = KT_PagerDispatch::MakeCall(Recipient("ops", "555-0100", tap, sim_->device()),
                                               PageAction(1, 0, 0, message.c_str()));
    return c;
  }
  int Send(const KT_PageCall& call, KT_PageLink::Timing timing = {}) {
    KT_PageLink link(timing);
    return link.Send(call, &text_);
  }
  static KT_PageLink::Timing Short() {
    KT_PageLink::Timing t;
    t.commandMs = 300;
    t.connectMs = 1500;
    t.idPromptMs = 300;
    t.idTries = 2;
    t.replyMs = 1500;
    return t;
  }

  TempDir dir_;
  std::unique_ptr<SimulatedUps> sim_;
  std::string text_;
};

TEST_F(PageThroughModem, AlphanumericPageReachesThePagingTerminal) {
  EXPECT_EQ(Send(Call(true)), PAGE_SENT) << text_;
  EXPECT_EQ(sim_->Entries("DIAL"), std::vector<std::string>{"5550100"});
  EXPECT_EQ(sim_->Entries("PAGE"), std::vector<std::string>{"TAP 123456 Power\\x20failure\\x2042"});
  EXPECT_TRUE(sim_->WaitForLog("ACTION hangup"));
}

TEST_F(PageThroughModem, LongTextTravelsInSeveralBlocks) {
  KT_PageCall call = Call(true, "The UPS is on battery; shutdown in 5 minutes.\nSave your work.");
  call.maxCharacters = "10";
  EXPECT_EQ(Send(call), PAGE_SENT) << text_;
  EXPECT_EQ(sim_->Entries("PAGE"),
            std::vector<std::string>{"TAP 123456 The\\x20UPS\\x20is\\x20on\\x20battery;\\x20shutdown\\x20in\\x205"
                                     "\\x20minutes.\\x20Save\\x20your\\x20work."});
}

TEST_F(PageThroughModem, ABlockRefusedOnceIsSentAgain) {
  ASSERT_TRUE(sim_->Do("nak 2"));
  EXPECT_EQ(Send(Call(true)), PAGE_SENT) << text_;
  EXPECT_EQ(sim_->Entries("PAGE").size(), 1u);
  ASSERT_TRUE(sim_->Do("nak 3"));
  EXPECT_EQ(Send(Call(true)), PAGE_BLOCK_REFUSED) << text_;
}

TEST_F(PageThroughModem, NumericPageDialsTheDigits) {
  EXPECT_EQ(Send(Call(false, "Event 3, load 42%")), PAGE_SENT) << text_;
  EXPECT_EQ(sim_->Entries("DIAL"), std::vector<std::string>{"5550100,,342#;"});
  EXPECT_EQ(sim_->Entries("PAGE"), std::vector<std::string>{"NUMERIC 5550100 342"});
}

TEST_F(PageThroughModem, RefusalsAndLineTroubleGiveTheirResults) {
  struct Case {
    const char* command;
    const char* undo;
    bool tap;
    int result;
  };
  const Case cases[] = {
      {"busy on", "busy off", true, PAGE_BUSY},
      {"busy on", "busy off", false, PAGE_BUSY},
      {"carrier off", "carrier on", true, PAGE_NO_CARRIER},
      {"reject on", "reject off", true, PAGE_REJECTED},
      {"logon refuse", "logon accept", true, PAGE_DISCONNECTED},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(sim_->Do(c.command));
    EXPECT_EQ(Send(Call(c.tap)), c.result) << c.command << ": " << text_;
    ASSERT_TRUE(sim_->Do(c.undo));
  }
  EXPECT_TRUE(sim_->Entries("PAGE").empty());
  // The modem is fine again afterwards.
  EXPECT_EQ(Send(Call(true)), PAGE_SENT) << text_;
}

TEST_F(PageThroughModem, SilentModemIsASetupFault) {
  ASSERT_TRUE(sim_->Do("silence on"));
  EXPECT_EQ(Send(Call(true), Short()), PAGE_MODEM_SILENT) << text_;
  EXPECT_EQ(KT_PagerDispatch::StatusOfResult(PAGE_MODEM_SILENT), kPagerStatusSetupFault);
}

TEST_F(PageThroughModem, BadPageDataNeverReachesTheModem) {
  KT_PageCall call = Call(true);
  call.accessNumber = "555;ATH";
  EXPECT_EQ(Send(call), PAGE_BAD_NUMBER);
  call = Call(true);
  call.pin = "12\r34";
  EXPECT_EQ(Send(call), PAGE_BAD_PIN);
  call = Call(true);
  call.maxCharacters = "x";
  EXPECT_EQ(Send(call), PAGE_BAD_SETTINGS);
  call = Call(false, "no digits here");
  EXPECT_EQ(Send(call), PAGE_BAD_MESSAGE);
  call = Call(false);
  call.lineText = "B1234";
  EXPECT_EQ(Send(call), PAGE_BAD_SETTINGS);
  call = Call(true);
  call.dialString = "ATH;D";
  EXPECT_EQ(Send(call), PAGE_BAD_SETTINGS);
  EXPECT_TRUE(sim_->Entries("REQ").empty());

  call = Call(true);
  call.port.SetPortName((dir_.path() / "no-such-port").c_str());
  EXPECT_EQ(Send(call), PAGE_PORT_UNAVAILABLE);
}

TEST_F(PageThroughModem, PageActionEndToEnd) {
  KT_SCP scp;
  scp.notify.PagerRecipients().Add(Recipient("ops", "5550100", true, sim_->device()));
  scp.notify.PagerRecipients().Add(Recipient("oncall", "5550199", false, sim_->device()));
  KT_PagerDispatch pager(scp);
  scp.commandBlock.SetValue(COMMAND_PAGER_TEST, kPagerTestInProgress);
  EXPECT_EQ(pager.SendPage(PageAction(0x03, 1, 0, "UPS 7 on battery")), 2);
  ASSERT_TRUE(pager.WaitIdle(60000));
  EXPECT_EQ(scp.commandBlock.GetValue(COMMAND_PAGER_TEST), 0);
  auto pages = sim_->Entries("PAGE");
  std::sort(pages.begin(), pages.end());
  EXPECT_EQ(pages, (std::vector<std::string>{"NUMERIC 5550199 7", "TAP 123456 UPS\\x207\\x20on\\x20battery"}));
}

}  // namespace

TEST_F(PageThroughModem, AStopFlagEndsTheCallBeforeTheModemIsDialled) {
  std::atomic<bool> stop{true};
  KT_PageLink link(Short());
  link.SetStopFlag(&stop);
  EXPECT_EQ(link.Send(Call(true), &text_), PAGE_INTERRUPTED) << text_;
  EXPECT_TRUE(sim_->Entries("DIAL").empty());
  // Lowered again, the same link pages.
  stop = false;
  EXPECT_EQ(link.Send(Call(true), &text_), PAGE_SENT) << text_;
}
