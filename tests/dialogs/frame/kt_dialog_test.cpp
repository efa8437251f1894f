// The base dialog: busy state and reply deadline, the key filter, the request path, captions,
// the modeless life and the reply event.
#include "dialogs/frame/kt_dialog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <filesystem>
#include <functional>

#include "dialogs/frame/event_pump.h"
#include "dialogs/frame/host_control.h"
#include "dialogs/frame/request_path.h"
#include "dialogs/frame/string_table.h"
#include "dialogs/frame/trem_globals.h"
#include "tests/dialogs/frame/probe_dialog.h"
#include "tests/dialogs/harness/trem_fixture.h"

namespace {

using trem_harness::TremTest;

class KTDialogTest : public TremTest {
 protected:
  // Posts a reply as the console's reply handler does.
  static void Reply(KTDialog* d, unsigned status, unsigned block, unsigned branch = 0, unsigned item = 0) {
    PostScpReply(d, status, PackScpKey(branch == 0 ? 1 : (item == 0 ? 2 : 3), block, branch, item));
  }
  void Events() { link.PumpFor(20); }
  int Queued() {
    ScpQueueLock lock;
    return gScp.requestTable.GetCount();
  }
  // Adds a host named `name` with its own address whose function map holds just these
  // (byte, bit) pairs.
  int AddHost(const char* name, uint32_t ip, std::vector<std::pair<int, int>> functions) {
    KT_HostControl writer;
    KT_Address a(ADDRESS_IP);
    a.SetIpAddress(ip);
    a.SetHostName(name);
    gHosts.AddHost(a);
    HostEntry* e = gHosts.GetHostByIndex(gHosts.GetNextIndex() - 1);
    auto lock = e->Lock();
    for (int n = 0; n < e->upsInfo.GetFunctionMapSize(); ++n) {
      for (int b = 0; b < 8; ++b) e->upsInfo.ClearFunctionSupported(n, b);
    }
    for (auto [n, b] : functions) e->upsInfo.SetFunctionSupported(n, b);
    return e->GetHostIndex();
  }
};

TEST_F(KTDialogTest, WaitCountZeroNeverBusyNorTimesOut) {
  KTDialog::SetReplyDeadlineMs(30);
  QPointer<ProbeDialog> d = new ProbeDialog(0);
  EXPECT_FALSE(d->IsBusy());
  EXPECT_FALSE(d->ShowsWaitCursor());
  EXPECT_FALSE(d->HasTimer(KTDialog::kReplyTimerId));
  link.PumpFor(120);
  ASSERT_FALSE(d.isNull());
  EXPECT_EQ(boxes.Count(), 0);
}

TEST_F(KTDialogTest, RepliesLowerTheCountAndLateRepliesStillArrive) {
  QPointer<ProbeDialog> d = new ProbeDialog(2);
  EXPECT_TRUE(d->ShowsWaitCursor());
  EXPECT_TRUE(d->HasTimer(KTDialog::kReplyTimerId));
  Screenshot(d, "busy_probe");

  Reply(d, 4, 4, 8, 1);
  Events();
  EXPECT_EQ(d->GetWaitCount(), 1);  // still busy, deadline still running
  EXPECT_TRUE(d->HasTimer(KTDialog::kReplyTimerId));
  EXPECT_EQ(d->LastReplyAddress(), PackScpKey(3, 4, 8, 1));

  Reply(d, 4, 3);
  Events();
  EXPECT_FALSE(d->IsBusy());
  EXPECT_FALSE(d->ShowsWaitCursor());
  EXPECT_FALSE(d->HasTimer(KTDialog::kReplyTimerId));

  Reply(d, 0, 5, 2);  // a late reply: count stays 0, OnNewData still runs
  Events();
  EXPECT_EQ(d->GetWaitCount(), 0);
  ASSERT_EQ(d->replies.size(), 3u);
  EXPECT_EQ(d->replies[0].branch, 8u);
  EXPECT_EQ(d->replies[0].item, 1u);
  EXPECT_EQ(d->replies[2].block, 5u);
  EXPECT_EQ(d->replies[2].status, 0u);
}

TEST_F(KTDialogTest, DeadlineShowsTheFailureAndClosesTheDialog) {
  KTDialog::SetReplyDeadlineMs(40);
  QPointer<ProbeDialog> d = new ProbeDialog(1, DialogSlot::Meters);
  EXPECT_EQ(DialogInSlot(DialogSlot::Meters), d.data());
  ASSERT_TRUE(link.PumpUntil([&] { return d.isNull(); }, 3000));
  ASSERT_EQ(boxes.Count(), 1);
  EXPECT_EQ(boxes.Boxes()[0].text, "Unable to retrieve data from the Agent");
  EXPECT_EQ(boxes.Boxes()[0].caption, "Tremona");
  EXPECT_EQ(DialogInSlot(DialogSlot::Meters), nullptr);
}

TEST_F(KTDialogTest, BusyDialogSwallowsTypingAndOkButNotEscapeOrTheMouse) {
  QPointer<ProbeDialog> d = new ProbeDialog(1);
  auto* edit = d->Control<QLineEdit>(ProbeDialog::IDC_EDIT);
  edit->setFocus();
  QTest::keyClicks(edit, "abc");
  QTest::keyClick(edit, Qt::Key_Backspace);
  EXPECT_EQ(edit->text(), "");
  QTest::mouseClick(d->Control<QPushButton>(IDOK), Qt::LeftButton);
  QTest::keyClick(edit, Qt::Key_Return);
  Events();
  ASSERT_FALSE(d.isNull());
  EXPECT_EQ(d->ok_count, 0);

  Reply(d, 4, 4);
  Events();
  QTest::keyClicks(edit, "ok");
  EXPECT_EQ(edit->text(), "ok");

  // Escape closes a busy dialog too.
  QPointer<ProbeDialog> busy = new ProbeDialog(1);
  QTest::keyClick(busy->Control<QLineEdit>(ProbeDialog::IDC_EDIT), Qt::Key_Escape);
  link.PumpUntil([&] { return busy.isNull(); }, 2000);
  EXPECT_TRUE(busy.isNull());
  QTest::mouseClick(d->Control<QPushButton>(IDOK), Qt::LeftButton);
  EXPECT_EQ(d->ok_count, 1);
}

TEST_F(KTDialogTest, SingleHostRequestsGoToTheFirstHost) {
  AddHost("second", 0x0A000002, {});
  agent.MarkAllFresh();
  ProbeDialog* d = new ProbeDialog(0, DialogSlot::Count, QStringLiteral("second"));
  EXPECT_EQ(d->RequestData(4, 8, 1), 1);
  {
    auto lock = gScp.Lock();
    gScp.commandBlock.Branches().Touch(5);
  }
  EXPECT_EQ(d->SendCommand(27, 5, 0), 1);
  link.PumpIdle();
  ASSERT_EQ(agent.Hosts().size(), 2u);
  EXPECT_EQ(agent.Hosts()[0], 1);
  EXPECT_EQ(agent.Hosts()[1], 1);
  EXPECT_EQ(agent.Received()[0].key, (std::vector<uint8_t>{4, 8, 1}));
  EXPECT_EQ(agent.Received()[1].type, SCP_SET);
}

TEST_F(KTDialogTest, EmptyTableOrMissingMutexQueuesNothing) {
  ProbeDialog* d = new ProbeDialog(0);
  {
    KT_HostControl writer;
    gHosts.ClearHosts();
  }
  EXPECT_EQ(d->RequestData(4, 8, 0), 1);
  EXPECT_EQ(d->SendCommand(27, 5, 0), 0);
  EXPECT_EQ(Queued(), 0);

  ProbeDialog* named = new ProbeDialog(0, DialogSlot::Count, "localhost", "Selected", {"localhost"});
  // The console's mutex is its own: no file in /dev/shm stands for it.
  EXPECT_FALSE(std::filesystem::exists("/dev/shm" + platform::SharedObjectName(kScpQueueMutexName)));
  scp_mutex_.Close();  // as if the console had never created it
  EXPECT_EQ(named->RequestData(4, 8, 0), 0);
  EXPECT_EQ(named->SendCommand(27, 5, 0), 0);
  EXPECT_EQ(boxes.Count(), 0);
}

TEST_F(KTDialogTest, SelectedHostsGetTheCommandWhenCapable) {
  AddHost("alpha", 0x0A000001, {{0, 2}});  // notification capable
  AddHost("beta", 0x0A000002, {});
  ProbeDialog* d = new ProbeDialog(0, DialogSlot::Count, "", "Selected Hosts", {"alpha", "nobody", "beta"});
  {
    auto lock = gScp.Lock();
    gScp.notify.Branches().Touch(0);
    gScp.receptacles.Branches().Touch(0);
  }
  EXPECT_EQ(d->SendCommand(5, 0, 0), 1);  // alpha only; "nobody" is skipped quietly
  ASSERT_EQ(boxes.Count(), 1);
  EXPECT_EQ(boxes.Boxes()[0].text, "Host <beta> is not capable of performing this function.");
  EXPECT_EQ(boxes.Boxes()[0].flags, MB_OK | MB_ICONEXCLAMATION);

  boxes.Clear();
  EXPECT_EQ(d->SendCommand(28, 0, 0), 0);  // receptacles: no host is capable
  EXPECT_EQ(boxes.Count(), 2);
  EXPECT_TRUE(boxes.Saw("Host <alpha>"));
}

TEST_F(KTDialogTest, CaptionNamesTheLabelOrTheHost) {
  struct Case {
    QString host, label, caption;
  } cases[] = {
      {"", "", "Manage Diagnostic Test"},
      {"ups-7", "", "Manage Diagnostic Test (ups-7)"},
      {"ups-7", "All", "Manage Diagnostic Test (All)"},
  };
  for (const Case& c : cases) {
    ProbeDialog* d = new ProbeDialog(0, DialogSlot::Count, c.host, c.label, {});
    d->SetHostCaption(IDS_MANAGE_DIAG_TEST);
    EXPECT_EQ(d->windowTitle(), c.caption);
  }
}

TEST_F(KTDialogTest, ReplyNeverReachesAClosingDialog) {
  // Replies posted, then the dialog closes before they are delivered: none arrives, and the
  // replies that would reach its slot afterwards are not posted at all.
  for (int round = 0; round < 20; ++round) {
    QPointer<ProbeDialog> d = new ProbeDialog(3, DialogSlot::AlarmHistory);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(RouteScpReply(4, PackScpKey(2, 8, 1, 0)), 1);
    d->DestroyWindow();
    EXPECT_EQ(RouteScpReply(4, PackScpKey(2, 8, 1, 0)), 0);
    // The posted replies are delivered now, before the deferred delete: the closed window
    // drops them.
    ProbeDialog* raw = d.data();
    QCoreApplication::sendPostedEvents(raw, kScpReplyEventType);
    EXPECT_TRUE(raw->replies.empty());
    EXPECT_FALSE(d.isNull());
    link.PumpUntil([&] { return d.isNull(); }, 2000);
    EXPECT_TRUE(d.isNull());
  }
}

TEST_F(KTDialogTest, HelpButtonAndF1OpenTheDialogsTopic) {
  ProbeDialog* d = new ProbeDialog(0);
  d->SetHelpContextId(77);
  QTest::mouseClick(d->Control<QPushButton>(ID_HELP), Qt::LeftButton);
  d->activateWindow();
  QTest::keyClick(d->Control<QLineEdit>(ProbeDialog::IDC_EDIT), Qt::Key_F1);
  ASSERT_EQ(help.Count(), 2);
  for (const auto& r : help.Requests()) {
    EXPECT_EQ(r.file, "hpanel.hlp");
    EXPECT_EQ(r.command, HELP_CONTEXT);
    EXPECT_EQ(r.context, 77);
  }
}

// A dialog that keeps following the meter block as the meters dialog does (asked again with
// each answer), after one plain request of its opening.
class FollowingProbe : public KTDialog {
 public:
  FollowingProbe() : KTDialog(IDD_KTDIALOG, nullptr, QStringLiteral("localhost")) { Create(); }
  bool OnInitDialog() override {
    KTDialog::OnInitDialog();
    RequestData(4, 2, 0);
    FollowData(3, 0, 0);
    return true;
  }
  void OnNewData(unsigned status, unsigned block, unsigned branch, unsigned item) override {
    replies.push_back({status, block, branch, item});
    if (block == 3) FollowData(3, 0, 0);
  }
  std::vector<ProbeReply> replies;
};

// The worker's part: takes the next request off the table and marks it sent (in flight); its
// key, or an empty key when nothing was left to send.
std::vector<uint8_t> SendNext() {
  ScpQueueLock lock;
  ScpQueueEntry e;
  int slot = gScp.requestTable.Next(e);
  if (slot < 0) slot = gScp.requestTable.Next(e);
  if (slot < 0) return {};
  gScp.requestTable.MarkSent(slot);
  return e.key;
}

// Runs the dialogs' events only (no stand-in worker drains the table) until done() holds or
// `ms` passed; whether it held.
bool EventsUntil(const std::function<bool()>& done, int ms) { return PumpEventsUntil(done, ms); }

// Followed readings: a request that stays unanswered goes out again after the wait (and again
// after each further wait), one answered is not repeated; the dialog is filled once each of its
// opening requests had its answer, though its own readings always wait in the table.
TEST_F(KTDialogTest, FollowedReadingsAreAskedAgainUntilAnsweredAndFillTheDialogOnce) {
  KTDialog::SetFollowWaitMs(400);  // wide enough that a slow (sanitizer) build sees the quiet part
  QPointer<FollowingProbe> d = new FollowingProbe;
  EXPECT_TRUE(d->Follows());
  EXPECT_EQ(d->FollowedKeys(), std::vector<uint32_t>{PackScpKey(1, 3, 0, 0)});
  EXPECT_FALSE(d->IsFilled());
  // Both go out; neither is answered (the datagrams are lost).
  std::vector<std::vector<uint8_t>> sent{SendNext(), SendNext()};
  EXPECT_EQ(sent, (std::vector<std::vector<uint8_t>>{{4, 2}, {3}}));
  EXPECT_TRUE(SendNext().empty());
  for (int round = 0; round < 2; ++round) {
    // Within the wait nothing is asked again; after it the meter request is to be sent again,
    // the plain one is not.
    EventsUntil([] { return false; }, 20);
    EXPECT_TRUE(SendNext().empty()) << round;
    ASSERT_TRUE(EventsUntil([] { return !SendNext().empty(); }, 3000)) << round;
    EXPECT_TRUE(SendNext().empty()) << round;
  }
  {
    ScpQueueLock lock;
    EXPECT_EQ(QueuedRequestsBesides(1, d->FollowedKeys()), 1);  // (4, 2) still in flight
  }
  // The answers come: the worker takes their requests off the table, then the dialog has them
  // and asks for the next readings.
  const auto answer = [&](std::vector<uint8_t> key) {
    {
      ScpQueueLock lock;
      gScp.requestTable.Remove(key.data(), static_cast<int>(key.size()), 1);
    }
    Reply(d, 4, key[0], key.size() > 1 ? key[1] : 0);
  };
  answer({4, 2});
  answer({3});
  EventsUntil([&] { return d->replies.size() == 2; }, 1000);
  EXPECT_TRUE(d->IsFilled());
  {
    ScpQueueLock lock;
    EXPECT_EQ(QueuedRequestsBesides(1, d->FollowedKeys()), 0);
    EXPECT_EQ(gScp.requestTable.GetCount(), 1);
  }
  EXPECT_EQ(SendNext(), std::vector<uint8_t>{3});
  // A closed dialog asks nothing again.
  d->DestroyWindow();
  EventsUntil([] { return false; }, 200);
  EXPECT_TRUE(SendNext().empty());
}

TEST_F(KTDialogTest, BaseTemplateHasItsFourButtons) {
  KTDialog* d = new KTDialog(nullptr, "localhost");
  d->Create();
  EXPECT_EQ(d->windowTitle(), "Dialog");
  for (int id : {IDOK, IDCANCEL, IDC_PRINT, ID_HELP}) EXPECT_NE(d->Control<QPushButton>(id), nullptr) << id;
  EXPECT_TRUE(d->Control<QPushButton>(IDOK)->isDefault());
  Screenshot(d, "base_template");
}

}  // namespace
