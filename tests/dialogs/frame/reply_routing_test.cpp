// The routing table of replies to dialogs, and the reply handler that the harness link plays.
#include "dialogs/frame/reply_routing.h"

#include <QPointer>

#include "dialogs/frame/host_control.h"
#include "dialogs/frame/request_path.h"
#include "dialogs/frame/trem_globals.h"
#include "tests/dialogs/frame/probe_dialog.h"
#include "tests/dialogs/harness/trem_fixture.h"

namespace {

using trem_harness::TremTest;
using S = DialogSlot;

std::vector<S> Targets(unsigned status, unsigned block, unsigned branch) {
  S out[2 * kDialogSlotCount];
  const int n =
      RouteTargets(status, PackScpKey(branch == 0 ? 1 : 2, block, branch, 0), out, 2 * kDialogSlotCount);
  return std::vector<S>(out, out + n);
}

class ReplyRoutingTest : public TremTest {};

TEST_F(ReplyRoutingTest, TableRowsAndBranchMatching) {
  struct Case {
    unsigned status, block, branch;
    std::vector<S> expected;
  } cases[] = {
      // Branch 0 (the whole block) reaches every dialog of the row, in table order.
      {4,
       4,
       0,
       {S::UpsInfoDlg, S::SerialDeviceConfig, S::NetworkAdapterConfig, S::NetworkConfiguration,
        S::PassWordDlg, S::Reboot, S::TerminateDaemon, S::ShutdownDlg, S::SchedShutdownDlg,
        S::UpsConfiguration, S::EventLogConfig, S::BatteryTest, S::PagerConfig, S::BatteryTestResults,
        S::Meters}},
      {0, 4, 8, {S::UpsInfoDlg, S::PassWordDlg, S::Reboot, S::TerminateDaemon, S::SchedShutdownDlg}},
      {4, 9, 2, {S::DlgVoltageOutput}},
      {4, 2, 4, {S::SerialDeviceConfig, S::Mimic, S::UpsInfoDlg, S::BugDlg, S::Meters, S::EMailConfig}},
      {4, 28, 1, {S::ReceptacleControl, S::ShutdownDlg, S::SchedShutdownDlg}},
      {4, 27, 5, {}},
      {4, 12, 0, {}},  // blocks 10..23 have no dialogs
      {6, 4, 11, {S::SerialDeviceConfig}},
      {6, 4, 13, {S::SerialDeviceConfig}},
      {6, 4, 12, {S::NetworkAdapterConfig}},
      {6, 4, 8, {}},
      // A UPS without waves: each waveform window and the launcher hear it.
      {6, 9, 1, {S::DlgVoltageInput, S::OscDialog}},
      {6, 9, 3, {S::DlgCurrentOutput}},
      {4, 9, 1, {S::DlgVoltageInput, S::OscDialog}},
      {2, 4, 0, {}},
      {1, 1, 0, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Targets(c.status, c.block, c.branch), c.expected)
        << c.status << " " << c.block << "," << c.branch;
  }
  EXPECT_STREQ(DialogSlotName(S::DlgCurrentOutput), "pDlgCurrentOutput");
}

TEST_F(ReplyRoutingTest, PostsOnlyToOpenDialogs) {
  QPointer<ProbeDialog> meters = new ProbeDialog(0, S::Meters);
  QPointer<ProbeDialog> closing = new ProbeDialog(0, S::UpsInfoDlg);
  closing->DestroyWindow();
  EXPECT_EQ(RouteScpReply(4, PackScpKey(2, 4, 2, 0)), 1);
  link.PumpFor(20);
  ASSERT_EQ(meters->replies.size(), 1u);
  EXPECT_EQ(meters->replies[0].branch, 2u);
  EXPECT_TRUE(closing.isNull());
  EXPECT_EQ(RouteScpReply(4, PackScpKey(1, 4, 0, 0)), 1);
}

TEST_F(ReplyRoutingTest, HandlerForwardsThenMarksTheBlockHandled) {
  QPointer<ProbeDialog> alarms = new ProbeDialog(1, S::AlarmHistory);
  {
    auto lock = agent.scp().Lock();
    agent.scp().alarmQueue.Branches().Touch(1);
  }
  ASSERT_EQ(alarms->RequestData(8, 1, 0), 1);
  ASSERT_TRUE(link.PumpUntil([&] { return !alarms->IsBusy(); }));
  ASSERT_EQ(alarms->replies.size(), 1u);
  EXPECT_EQ(alarms->replies[0].status, SCP_GET_OK);
  EXPECT_EQ(gScp.alarmQueue.GetStatus(), 255);
  // A second notice for the block finds 255 and does nothing visible.
  std::string note;
  EXPECT_EQ(trem_harness::HandleReplyNotice(PackScpKey(2, 8, 1, 0), nullptr, &note), 0);
  EXPECT_EQ(note, "SCP Status: FieldAddress=8,1,0 - Bad SCP Status = 255");
  EXPECT_EQ(boxes.Count(), 0);
}

TEST_F(ReplyRoutingTest, GetResendAsksAgainForTheSameKey) {
  struct Case {
    uint32_t key;
    std::vector<uint8_t> asked;
  } cases[] = {
      {PackScpKey(3, 4, 8, 1), {4, 8, 1}},
      {PackScpKey(2, 4, 8, 0), {4, 8}},
      {PackScpKey(1, 4, 8, 0), {4}},  // a one-byte key asks for the whole block
  };
  for (const Case& c : cases) {
    gScp.requestTable.Clear();
    {
      auto lock = gScp.Lock();
      gScp.config.SetStatus(SCP_GET_RESEND);
    }
    trem_harness::HandleReplyNotice(c.key, nullptr);
    ScpQueueEntry entry;
    gScp.requestTable.ResetCursor();
    ASSERT_GE(gScp.requestTable.Next(entry), 0);
    EXPECT_EQ(entry.key, c.asked);
    EXPECT_EQ(entry.host, 1);
  }
  // Through the link: the host that answered "Get Resend" is the one asked again.
  gScp.requestTable.Clear();
  {
    KT_HostControl writer;
    KT_Address other(ADDRESS_IP);
    other.SetIpAddress(0x0200000A);
    other.SetHostName("ups-room");
    ASSERT_EQ(gHosts.AddHost(other), 1);
  }
  agent.ForceStatus(SCP_GET_RESEND);
  ASSERT_EQ(RequestForHost(2, 4, 8, 1), 1);
  gScp.requestTable.ResetCursor();
  ASSERT_EQ(link.Step(), 1);
  ScpQueueEntry again;
  gScp.requestTable.ResetCursor();
  ASSERT_GE(gScp.requestTable.Next(again), 0);
  EXPECT_EQ(again.key, (std::vector<uint8_t>{4, 8, 1}));
  EXPECT_EQ(again.host, 2);
}

TEST_F(ReplyRoutingTest, FailuresBecomeBoxesAndNotAvailableReachesAnOpenAdapterDialog) {
  struct Case {
    int status;
    const char* text;
  } cases[] = {
      {SCP_SET_FAILED, "SCP Status: FieldAddress=4,12,0 - Set Failed"},
      {SCP_GET_FAILED, "SCP Status: FieldAddress=4,12,0 - Get Failed"},
      {SCP_INVALID_PACKET, "SCP Status: FieldAddress=4,12,0 - Invalid packet"},
      {SCP_NOT_AVAILABLE, "SCP Status: FieldAddress=4,12,0 - Not Available"},
  };
  for (const Case& c : cases) {
    boxes.Clear();
    {
      auto lock = gScp.Lock();
      gScp.config.SetStatus(c.status);
    }
    trem_harness::HandleReplyNotice(PackScpKey(2, 4, 12, 0), nullptr);
    ASSERT_EQ(boxes.Count(), 1) << c.text;
    EXPECT_EQ(boxes.Boxes()[0].text, c.text);
    EXPECT_EQ(boxes.Boxes()[0].caption, "Tremona");
  }
  boxes.Clear();
  QPointer<ProbeDialog> adapter = new ProbeDialog(0, S::NetworkAdapterConfig);
  EXPECT_EQ(trem_harness::HandleReplyNotice(PackScpKey(2, 4, 12, 0), nullptr), 1);
  EXPECT_EQ(boxes.Count(), 0);
  link.PumpFor(20);
  ASSERT_EQ(adapter->replies.size(), 1u);
  EXPECT_EQ(adapter->replies[0].status, SCP_NOT_AVAILABLE);
}

}  // namespace
