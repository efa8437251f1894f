// The reply handler: what each reply status does, on the notice's own status and host.
#include "console/comm/scp_handler.h"

#include <QPointer>
#include <QWidget>

#include "console/comm/comm_notice.h"
#include "dialogs/frame/reply_routing.h"
#include "dialogs/frame/request_path.h"
#include "dialogs/frame/trem_globals.h"
#include "tests/console/comm_test_support.h"
#include "tests/dialogs/frame/probe_dialog.h"

namespace {

using console_test::PumpEvents;
using console_test::Queued;

class ScpHandlerTest : public trem_harness::TremTest {
 protected:
  void SetUp() override {
    TremTest::SetUp();
    KT_HostControl writer;
    KT_Address second(ADDRESS_IP);
    second.SetIpAddress(htonl(0x7F000002));
    second.SetPort(htons(7010));
    gHosts.AddHost(second);  // host 2
  }
  CScpHandler handler;
};

TEST_F(ScpHandlerTest, EachStatusActsAsItsRuleSays) {
  struct Case {
    int status;
    uint32_t key;
    const char* box;  // null: no box
    const char* text;
  };
  const Case cases[] = {
      {SCP_SET_FAILED, PackScpKey(3, 4, 8, 1), "SCP Status: FieldAddress=4,8,1 - Set Failed", nullptr},
      {SCP_GET_FAILED, PackScpKey(2, 5, 3, 0), "SCP Status: FieldAddress=5,3,0 - Get Failed", nullptr},
      {SCP_INVALID_PACKET, PackScpKey(1, 6, 0, 0), "SCP Status: FieldAddress=6,0,0 - Invalid packet",
       nullptr},
      {SCP_NOT_AVAILABLE, PackScpKey(2, 4, 3, 0), "SCP Status: FieldAddress=4,3,0 - Not Available", nullptr},
      {SCP_NOT_AVAILABLE, PackScpKey(2, 4, 12, 0), "SCP Status: FieldAddress=4,12,0 - Not Available",
       nullptr},
      {SCP_GET_OK, PackScpKey(2, 4, 8, 0), nullptr, "SCP Status: FieldAddress=4,8,0 - Get OK"},
      {SCP_SET_OK, PackScpKey(2, 4, 8, 0), nullptr, "SCP Status: FieldAddress=4,8,0 - Set OK"},
      {255, PackScpKey(2, 4, 8, 0), nullptr, "SCP Status: FieldAddress=4,8,0 - Bad SCP Status = 255"},
      {9, PackScpKey(1, 2, 0, 0), nullptr, "SCP Status: FieldAddress=2,0,0 - Bad SCP Status = 9"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    boxes.Clear();
    handler.ProcessStatus(c.key, c.status, 1);
    if (c.box != nullptr) {
      ASSERT_EQ(boxes.Count(), 1);
      EXPECT_EQ(boxes.Boxes()[0].text.toStdString(), c.box);
      EXPECT_EQ(boxes.Boxes()[0].caption, QStringLiteral("Tremona"));
    } else {
      EXPECT_EQ(boxes.Count(), 0);
      EXPECT_EQ(handler.LastText().toStdString(), c.text);
    }
  }
  EXPECT_TRUE(Queued().empty());
}

TEST_F(ScpHandlerTest, GetResendAsksTheAnsweringHostAgainForTheSameKey) {
  struct Case {
    uint32_t key;
    int host;
    std::vector<uint8_t> asked;  // empty: nothing
  };
  const Case cases[] = {
      {PackScpKey(1, 4, 76, 0), 2, {4}},  // whole block: the other bytes play no part
      {PackScpKey(2, 4, 8, 0), 2, {4, 8}},    {PackScpKey(3, 4, 8, 1), 2, {4, 8, 1}},
      {PackScpKey(3, 3, 1, 2), 1, {3, 1, 2}}, {PackScpKey(4, 4, 8, 1), 2, {}},
  };
  for (const Case& c : cases) {
    gScp.requestTable.Clear();
    handler.ProcessStatus(c.key, SCP_GET_RESEND, c.host);
    const auto queued = Queued();
    if (c.asked.empty()) {
      EXPECT_TRUE(queued.empty());
      continue;
    }
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_EQ(queued[0].first, c.asked);
    EXPECT_EQ(queued[0].second, c.host);
  }
  EXPECT_EQ(boxes.Count(), 0);
}

TEST_F(ScpHandlerTest, NotAvailableGoesToTheOpenAdapterOrSerialDialogInsteadOfABox) {
  auto* adapter = new ProbeDialog(0, DialogSlot::NetworkAdapterConfig);
  auto* serial = new ProbeDialog(0, DialogSlot::SerialDeviceConfig);
  EXPECT_EQ(handler.ProcessStatus(PackScpKey(2, 4, 12, 0), SCP_NOT_AVAILABLE, 1), 1);
  EXPECT_EQ(handler.ProcessStatus(PackScpKey(2, 4, 13, 0), SCP_NOT_AVAILABLE, 1), 1);
  PumpEvents();
  EXPECT_EQ(boxes.Count(), 0);
  ASSERT_EQ(adapter->replies.size(), 1u);
  EXPECT_EQ(adapter->replies[0].status, unsigned{SCP_NOT_AVAILABLE});
  EXPECT_EQ(adapter->replies[0].branch, 12u);
  ASSERT_EQ(serial->replies.size(), 1u);
  EXPECT_EQ(serial->replies[0].branch, 13u);
}

TEST_F(ScpHandlerTest, ResultsReachOnlyTheirDialogsAndEachNoticeActsOnItsOwnStatus) {
  auto* input = new ProbeDialog(0, DialogSlot::DlgVoltageInput);
  auto* output = new ProbeDialog(0, DialogSlot::DlgVoltageOutput);
  auto* current = new ProbeDialog(0, DialogSlot::DlgCurrentOutput);
  EXPECT_EQ(handler.ProcessStatus(PackScpKey(2, 9, 2, 0), SCP_GET_OK, 1), 1);
  PumpEvents();
  EXPECT_TRUE(input->replies.empty());
  EXPECT_TRUE(current->replies.empty());
  ASSERT_EQ(output->replies.size(), 1u);
  EXPECT_EQ(output->replies[0].block, 9u);
  {
    auto lock = gScp.Lock();
    EXPECT_EQ(gScp.GetBlock(9)->GetStatus(), 255);
  }
  // A second reply for the block, a Get Resend, still asks again although the block's own
  // status byte says 255 after the forward.
  handler.ProcessStatus(PackScpKey(2, 9, 2, 0), SCP_GET_RESEND, 1);
  const auto queued = Queued();
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_EQ(queued[0].first, (std::vector<uint8_t>{9, 2}));
  // And a worker notice goes the same way.
  CommNotice n;
  n.message = kNoticeReplyApplied;
  n.key = PackScpKey(2, 9, 2, 0);
  n.status = SCP_GET_OK;
  n.hostIndex = 1;
  EXPECT_EQ(handler.ProcessNotice(n), 1);
  PumpEvents();
  EXPECT_EQ(output->replies.size(), 2u);
}

}  // namespace
