// The network-client dialog in a network of the test's own, with a stand-in agent that
// answers the discovery search and the in-process agent behind the console's requests.
#include "dialogs/discovery/network_configuration.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <atomic>

#include "dialogs/discovery/discoverc.h"
#include "dialogs/discovery/discovery_wait_dlg.h"
#include "dialogs/discovery/subnet_file.h"
#include "dialogs/frame/trem_globals.h"
#include "tests/dialogs/discovery/discovery_fixture.h"
#include "tests/dialogs/discovery/udp_responder.h"

namespace {

class NetworkConfigurationTest : public DiscoveryTest {
 protected:
  void SetUp() override {
    DiscoveryTest::SetUp();
    {
      auto lock = agent.scp().Lock();
      agent.scp().config.ScheduledShutdownClients().Clear();
    }
    {
      auto lock = gScp.Lock();
      gScp.config.ScheduledShutdownClients().Clear();
      gScp.upsInfo.SetOsType(15);
    }
    agent.MarkAllFresh();
  }
  static QStringList Row(QTreeWidget* list, int row) {
    QTreeWidgetItem* item = list->topLevelItem(row);
    if (item == nullptr) return {};
    return {item->text(0), item->text(1), item->text(2)};
  }
};

TEST_F(NetworkConfigurationTest, DefaultsIpxChoiceAndShownText) {
  for (auto [delay, warning] : std::vector<std::pair<uint16_t, int>>{
           {0, 0}, {1, 0}, {2, 0}, {5, 3}, {0xFFFF, 3}, {120, 118}, {300, 254}}) {
    EXPECT_EQ(CNetworkConfiguration::WarningDefault(delay), warning) << delay;
  }
  for (auto [minutes, shutdown] :
       std::vector<std::pair<uint8_t, int>>{{0, 0}, {1, 0}, {5, 4}, {10, 9}, {11, 10}, {255, 10}}) {
    EXPECT_EQ(CNetworkConfiguration::ClientShutdownDefault(minutes), shutdown) << int(minutes);
  }
  struct Ipx {
    int second, third, os;
    bool ipx;
  };
  for (const Ipx& c : {Ipx{0, 36, 3, false}, Ipx{0, 37, 3, true}, Ipx{1, 0, 255, true}, Ipx{2, 1, 15, false},
                       Ipx{2, 1, 4, false}, Ipx{2, 1, 8, true}, Ipx{2, 1, 16, true}}) {
    EXPECT_EQ(CNetworkConfiguration::SearchesIpx(c.second, c.third, c.os), c.ipx)
        << c.second << "." << c.third << " os " << c.os;
  }
  KT_Address ipx(ADDRESS_IPX);
  ipx.SetHostName("NWSERVER");
  EXPECT_EQ(CNetworkConfiguration::ShownText(ipx), "NWSERVER - (Remote Server)");
}

TEST_F(NetworkConfigurationTest, OneWaitWindowShownAndClosed) {
  QDialog owner;
  CDiscoveryWaitDlg* wait = ShowDiscoveryWait(&owner);
  ASSERT_NE(wait, nullptr);
  EXPECT_EQ(pDiscoveryWaitDlg.data(), wait);
  EXPECT_TRUE(wait->isVisible());
  EXPECT_EQ(wait->windowTitle(), "Discovery Process");
  EXPECT_EQ(wait->parentWidget(), &owner);
  EXPECT_EQ(ShowDiscoveryWait(&owner), wait);  // a shown one is brought to the front
  Screenshot(wait, "discovery_wait");
  QPointer<CDiscoveryWaitDlg> watched = wait;
  CloseDiscoveryWait();
  EXPECT_TRUE(pDiscoveryWaitDlg.isNull());
  QApplication::processEvents();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(watched.isNull());
}

TEST_F(NetworkConfigurationTest, SearchAddDeleteAndOk) {
  if (!Network()) GTEST_SKIP() << "needs a network of its own";
  UdpResponder responder;
  ASSERT_TRUE(responder.Start());
  std::atomic<bool> waitShown{false};
  responder.OnRequest([&] {
    CDiscoveryWaitDlg* wait = pDiscoveryWaitDlg.data();
    waitShown = wait != nullptr && wait->isVisible();
  });

  QPointer<CNetworkConfiguration> d = new CNetworkConfiguration(nullptr, "localhost");
  // No "cfsubnet.dat": the search covered the broadcast address, with the wait window open.
  EXPECT_GE(responder.Requests(), 1);
  EXPECT_TRUE(waitShown);
  QApplication::processEvents();
  EXPECT_TRUE(pDiscoveryWaitDlg.isNull());
  auto* combo = d->Control<QComboBox>(IDC_NC_CLIENT);
  ASSERT_EQ(combo->count(), 1);
  EXPECT_EQ(combo->itemText(0), "localhost");
  ASSERT_TRUE(link.PumpUntil([&] { return !d->IsBusy(); }));
  EXPECT_EQ(d->windowTitle(), "Configure Network Client (localhost)");
  EXPECT_EQ(d->Control<QLineEdit>(IDC_NC_WARNING)->text(), "3");
  EXPECT_EQ(d->Control<QLineEdit>(IDC_NC_CLIENT_SHUTDOWN)->text(), "10");
  EXPECT_EQ(d->MinutesToShutdown(), 255);

  struct Case {
    const char* password;
    const char* warning;
    const char* message;  // empty: added
  };
  const std::vector<Case> cases = {
      {"", "3", "Need Network Address and Password"},
      {"pw", "255",
       "Notification warning time or client shutdown time is\ngreater than server scheduled shutdown time."},
      {"pw", "x", "Invalid data"},
      {"pw", "3", ""},
      {"pw", "4", "An entry already exist in list for localhost"},
  };
  auto* list = d->Control<QTreeWidget>(IDC_NC_LIST);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    boxes.Clear();
    d->Control<QLineEdit>(IDC_NC_PASSWORD)->setText(c.password);
    d->Control<QLineEdit>(IDC_NC_WARNING)->setText(c.warning);
    d->Control<QLineEdit>(IDC_NC_CLIENT_SHUTDOWN)->setText("10");
    QTest::mouseClick(d->Control<QPushButton>(IDC_NC_ADD), Qt::LeftButton);
    if (*c.message == '\0') {
      EXPECT_EQ(boxes.Count(), 0);
    } else {
      ASSERT_EQ(boxes.Count(), 1);
      EXPECT_EQ(boxes.Boxes()[0].text, c.message);
    }
    EXPECT_EQ(list->topLevelItemCount(), 1 - (&c < &cases[3] ? 1 : 0));
  }
  EXPECT_EQ(Row(list, 0), (QStringList{"localhost", "3", "10"}));
  Screenshot(d, "network_configuration");

  // Delete: nothing selected, then the row.
  boxes.Clear();
  QTest::mouseClick(d->Control<QPushButton>(IDC_NC_DELETE), Qt::LeftButton);
  EXPECT_TRUE(boxes.Saw("Please select at least one item"));
  list->topLevelItem(0)->setSelected(true);
  QTest::mouseClick(d->Control<QPushButton>(IDC_NC_DELETE), Qt::LeftButton);
  EXPECT_EQ(list->topLevelItemCount(), 0);
  {
    auto lock = gScp.Lock();
    EXPECT_EQ(gScp.config.ScheduledShutdownClients().Count(), 0);
  }
  d->Control<QLineEdit>(IDC_NC_PASSWORD)->setText("pw");
  d->Control<QLineEdit>(IDC_NC_WARNING)->setText("3");
  QTest::mouseClick(d->Control<QPushButton>(IDC_NC_ADD), Qt::LeftButton);

  // "Discover" ... OK: the dialog searches again.
  const int searches = d->SearchCount();
  {
    CDiscoverc discover(d);
    EXPECT_EQ(discover.Owner(), static_cast<SubnetListOwner*>(d.data()));
    QTest::mouseClick(discover.Control<QPushButton>(IDOK), Qt::LeftButton);
  }
  QApplication::processEvents();
  EXPECT_EQ(d->SearchCount(), searches + 1);

  agent.ClearReceived();
  QTest::mouseClick(d->Control<QPushButton>(IDOK), Qt::LeftButton);
  ASSERT_TRUE(link.PumpIdle());
  EXPECT_TRUE(d.isNull());
  ASSERT_EQ(agent.Received().size(), 1u);
  EXPECT_EQ(agent.Received()[0].type, SCP_SET);
  EXPECT_EQ(agent.Received()[0].key.at(1), 10);
  {
    auto lock = agent.scp().Lock();
    auto& clients = agent.scp().config.ScheduledShutdownClients().Clients();
    ASSERT_EQ(clients.size(), 1u);
    EXPECT_EQ(clients.front().password.value_or(""), "pw");
    EXPECT_EQ(clients.front().warn_delay, 3);
    EXPECT_EQ(clients.front().time_shut_delay, 10);
  }
  EXPECT_EQ(testing_support::ReadFileText(kSubnetFileName), "255.255.255.255\n");
}

}  // namespace
