// The network alarm recipients dialog against the in-process agent.
#include "dialogs/information/network_manager.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include "dialogs/frame/trem_globals.h"
#include "dialogs/information/network_message_link.h"
#include "dialogs/information/report_list.h"
#include "tests/dialogs/information/info_test_util.h"

namespace {

using info_test::InfoTest;
using info_test::Items;
using info_test::Rows;
using info_test::Sent;

// Stands in for the network-message dialog.
class FakeNetworkMessage : public NetworkMessageLink {
 public:
  void GetCurrentConfig() override { ++reloads; }
  int reloads = 0;
};

class NetworkManagerTest : public InfoTest {
 protected:
  void TearDown() override {
    pNetworkMessage = nullptr;
    InfoTest::TearDown();
  }
  // The dialog reads the functions from the console's image of the UPS information, which the
  // console keeps filled; it does not ask for them itself.
  void SetFunctions(std::initializer_list<std::pair<int, int>> on) {
    auto lock = gScp.Lock();
    UpsInfoBlock& info = gScp.upsInfo;
    for (auto [n, b] : {std::pair{0, 3}, std::pair{1, 1}, std::pair{1, 2}, std::pair{1, 3}}) {
      info.ClearFunctionSupported(n, b);
    }
    for (auto [n, b] : on) info.SetFunctionSupported(n, b);
  }
  void AddReceivers(KT_SCP& scp, std::initializer_list<std::pair<const char*, const char*>> receivers) {
    auto lock = scp.Lock();
    for (auto [h, c] : receivers) scp.notify.TrapReceivers().Add(h, c);
  }
  void Add(CNetworkManager* d, const QString& host, const QString& community) {
    d->Control<QLineEdit>(CNetworkManager::IDC_HOST)->setText(host);
    d->Control<QLineEdit>(CNetworkManager::IDC_COMMUNITY)->setText(community);
    QTest::mouseClick(d->Control<QPushButton>(CNetworkManager::IDC_ADD), Qt::LeftButton);
  }
};

TEST_F(NetworkManagerTest, ManagerTypesFollowTheSupportedFunctions) {
  const struct {
    std::initializer_list<std::pair<int, int>> on;
    QStringList types;
  } kCases[] = {{{}, {}},
                {{{0, 3}}, {"SNMP"}},
                {{{0, 3}, {1, 1}, {1, 2}, {1, 3}}, {"SNMP", "Netfinity", "NetView", "Insight"}},
                {{{1, 2}}, {"NetView"}}};
  for (const auto& c : kCases) {
    SetFunctions(c.on);
    QPointer<CNetworkManager> d = OpenIdle<CNetworkManager>(nullptr, "localhost");
    EXPECT_EQ(Items(d->Types()), c.types);
    EXPECT_EQ(d->Types()->currentIndex(), c.types.isEmpty() ? -1 : 0);
    delete d.data();
  }
}

TEST_F(NetworkManagerTest, AsksForTheNotificationBlockAndListsItsReceivers) {
  SetFunctions({{0, 3}});
  AddReceivers(agent.scp(), {{"nms1", "public"}, {"nms2", "ups"}});
  QPointer<CNetworkManager> d = OpenIdle<CNetworkManager>(nullptr, "localhost");
  EXPECT_EQ(d->windowTitle(), "Configure Network Alarm Recipients (localhost)");
  EXPECT_EQ(d->HelpContextId(), 22);
  EXPECT_EQ(Sent(link), (std::vector<std::string>{"GET 5"}));
  EXPECT_EQ(Rows(d->List()), (std::vector<std::string>{"nms1|public", "nms2|ups"}));
  EXPECT_EQ(d->List()->headerItem()->text(0), "Host Name");
  EXPECT_EQ(d->List()->headerItem()->text(1), "Community Name");
  Screenshot(d, "network_manager");
  // Confirmed unchanged, every receiver keeps its slot.
  QTest::mouseClick(d->Control<QPushButton>(IDOK), Qt::LeftButton);
  ASSERT_TRUE(link.PumpIdle());
  auto lock = agent.scp().Lock();
  std::vector<std::string> held;
  for (const auto& e : agent.scp().notify.TrapReceivers().Entries()) {
    held.push_back(e.hostName + "@" + std::to_string(e.number));
  }
  EXPECT_EQ(held, (std::vector<std::string>{"nms2@1", "nms1@0"}));
}

TEST_F(NetworkManagerTest, AddRefusesEmptyTextsAndDuplicatesWhateverTheirCase) {
  QPointer<CNetworkManager> d = OpenIdle<CNetworkManager>(nullptr, "localhost");
  const struct {
    const char* host;
    const char* community;
    const char* message;
  } kCases[] = {
      {"", "public", "Host name must be provided"},
      {"nms1", "", "Community name must be provided"},
      {"nms1", "public", nullptr},
      {"NMS1", "PUBLIC", "Host: NMS1 and Community: PUBLIC were not added.\nEntry is already in list."},
      {"nms1", "private", nullptr}};
  for (const auto& c : kCases) {
    boxes.Clear();
    Add(d, c.host, c.community);
    if (c.message != nullptr) {
      ASSERT_EQ(boxes.Count(), 1) << c.host;
      EXPECT_EQ(boxes.Boxes()[0].text, c.message);
    } else {
      EXPECT_EQ(boxes.Count(), 0) << c.host;
    }
  }
  EXPECT_EQ(Rows(d->List()), (std::vector<std::string>{"nms1|public", "nms1|private"}));
}

TEST_F(NetworkManagerTest, DeleteRemovesTheSelectedRows) {
  QPointer<CNetworkManager> d = OpenIdle<CNetworkManager>(nullptr, "localhost");
  for (int i = 0; i < 4; ++i) Add(d, QStringLiteral("h%1").arg(i), "c");
  QTest::mouseClick(d->Control<QPushButton>(CNetworkManager::IDC_DELETE), Qt::LeftButton);
  EXPECT_TRUE(boxes.Saw("Please select at least one item"));
  d->List()->topLevelItem(1)->setSelected(true);
  d->List()->topLevelItem(3)->setSelected(true);
  QTest::mouseClick(d->Control<QPushButton>(CNetworkManager::IDC_DELETE), Qt::LeftButton);
  EXPECT_EQ(Rows(d->List()), (std::vector<std::string>{"h0|c", "h2|c"}));
  d->List()->selectAll();
  QTest::mouseClick(d->Control<QPushButton>(CNetworkManager::IDC_DELETE), Qt::LeftButton);
  EXPECT_EQ(d->List()->RowCount(), 0);
}

TEST_F(NetworkManagerTest, OkStoresAtMostEightReportsEachRefusedRowAndStillSends) {
  QPointer<CNetworkManager> d = OpenIdle<CNetworkManager>(nullptr, "localhost");
  for (int i = 0; i < 10; ++i) Add(d, QStringLiteral("host%1").arg(i), "public");
  boxes.Clear();
  QTest::mouseClick(d->Control<QPushButton>(IDOK), Qt::LeftButton);
  ASSERT_TRUE(link.PumpIdle());
  EXPECT_TRUE(d.isNull());
  ASSERT_EQ(boxes.Count(), 2);
  EXPECT_EQ(boxes.Boxes()[0].text,
            "Host: host8 was not added.Entry might already be in list or\n list might be full.");
  EXPECT_EQ(boxes.Boxes()[1].text,
            "Host: host9 was not added.Entry might already be in list or\n list might be full.");
  EXPECT_EQ(Sent(link).back(), "SET 5,4");
  auto lock = agent.scp().Lock();
  const auto& entries = agent.scp().notify.TrapReceivers().Entries();
  // The rows go in from the top: the first row is the oldest receiver (slot 0), the list holds
  // the newest first.
  ASSERT_EQ(entries.size(), 8u);
  EXPECT_EQ(entries.front().hostName, "host7");
  EXPECT_EQ(entries.back().hostName, "host0");
  EXPECT_EQ(entries.back().number, 0);
}

TEST_F(NetworkManagerTest, BesideTheNetworkMessageDialogItFillsFromTheConsoleAndAsksForNothing) {
  FakeNetworkMessage message;
  pNetworkMessage = &message;
  SetFunctions({{1, 1}});
  AddReceivers(gScp, {{"console-side", "public"}});
  QPointer<CNetworkManager> d = new CNetworkManager(nullptr, "localhost");
  EXPECT_EQ(d->GetWaitCount(), 0);
  EXPECT_FALSE(d->IsBusy());
  EXPECT_EQ(gScp.requestTable.GetCount(), 0);
  EXPECT_EQ(Rows(d->List()), (std::vector<std::string>{"console-side|public"}));
  EXPECT_EQ(Items(d->Types()), QStringList{"Netfinity"});
  Add(d, "added", "private");
  QTest::mouseClick(d->Control<QPushButton>(IDOK), Qt::LeftButton);
  ASSERT_TRUE(link.PumpIdle());
  EXPECT_EQ(message.reloads, 1);
  EXPECT_EQ(Sent(link), (std::vector<std::string>{"SET 5,4"}));
  auto lock = agent.scp().Lock();
  EXPECT_EQ(agent.scp().notify.TrapReceivers().Count(), 2);
}

}  // namespace
