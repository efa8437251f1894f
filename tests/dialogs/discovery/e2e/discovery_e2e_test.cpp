// Discovery searches against real idle agents, in a network of the test's own: two agents on
// 127.0.0.1 and 127.0.0.2 given as subnets for the network-client dialog, one agent on every
// address for the broadcast searches of the host selection dialogs (the kernel has no IPX).
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "dialogs/discovery/client_discovery.h"
#include "dialogs/discovery/discovery_wait_dlg.h"
#include "dialogs/discovery/host_select.h"
#include "dialogs/discovery/host_selection.h"
#include "dialogs/discovery/network_configuration.h"
#include "dialogs/discovery/subnet_file.h"
#include "dialogs/frame/host_control.h"
#include "dialogs/frame/trem_globals.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/dialogs/discovery/discovery_fixture.h"

TREM_HARNESS_PRIVATE_NETWORK();

namespace {

class DiscoveryE2eTest : public DiscoveryTest {
 protected:
  void SetUp() override {
    DiscoveryTest::SetUp();
    if (!trem_harness::HarnessInPrivateNetwork()) GTEST_SKIP() << "needs a network of its own";
    ASSERT_TRUE(Network());
  }
  static bool StartIdle(AgentProcess& agent) {
    return agent.Start({"-b", "-x", "5"}) &&
           AgentProcess::WaitFor([&] { return Count(agent.Stderr(), "NETWORK THREAD IS ALIVE") > 0; }, 30000);
  }
};

TEST_F(DiscoveryE2eTest, NetworkClientsFromTwoAgentsGivenAsSubnets) {
  AgentProcess first({"bind_address = 127.0.0.1"});
  AgentProcess second({"bind_address = 127.0.0.2"});
  ASSERT_TRUE(StartIdle(first)) << first.Stderr();
  ASSERT_TRUE(StartIdle(second)) << second.Stderr();
  // The last line without its newline is read whole.
  testing_support::WriteFileText(kSubnetFileName, "127.0.0.1\n127.0.0.2");
  trem_harness::UdpAgent udp;
  std::string error;
  ASSERT_TRUE(udp.Open(error, "127.0.0.1")) << error;
  trem_harness::AgentLink real(udp);

  QPointer<CNetworkConfiguration> d = new CNetworkConfiguration(nullptr, "localhost");
  QApplication::processEvents();
  EXPECT_TRUE(pDiscoveryWaitDlg.isNull());
  auto* combo = d->Control<QComboBox>(IDC_NC_CLIENT);
  QStringList found;
  for (int i = 0; i < combo->count(); ++i) found << combo->itemText(i);
  EXPECT_EQ(found.size(), 2) << found.join(", ").toStdString();
  ASSERT_TRUE(real.PumpUntil([&] { return !d->IsBusy(); }, 10000));
  Screenshot(d, "network_configuration_agents");

  // Add the client on 127.0.0.2 and send the list.
  const int second_row = found.indexOf(QStringLiteral("localhost")) == 0 ? 1 : 0;
  combo->setCurrentIndex(second_row);
  d->Control<QLineEdit>(IDC_NC_PASSWORD)->setText("4Tulip");
  QTest::mouseClick(d->Control<QPushButton>(IDC_NC_ADD), Qt::LeftButton);
  EXPECT_EQ(boxes.Count(), 0);
  QTest::mouseClick(d->Control<QPushButton>(IDOK), Qt::LeftButton);
  ASSERT_TRUE(real.PumpIdle(10000));
  EXPECT_TRUE(d.isNull());
  EXPECT_EQ(testing_support::ReadFileText(kSubnetFileName), "127.0.0.2\n127.0.0.1\n");

  // The agent's branch 10 now holds the client: a new dialog shows it from a fresh GET.
  {
    auto lock = gScp.Lock();
    gScp.config.ScheduledShutdownClients().Clear();
  }
  QPointer<CNetworkConfiguration> again = new CNetworkConfiguration(nullptr, "localhost");
  ASSERT_TRUE(real.PumpUntil([&] { return !again->IsBusy(); }, 10000));
  auto* list = again->Control<QTreeWidget>(IDC_NC_LIST);
  ASSERT_EQ(list->topLevelItemCount(), 1);
  EXPECT_EQ(list->topLevelItem(0)->text(0), found[second_row]);
  EXPECT_EQ(list->topLevelItem(0)->text(1), "3");
  EXPECT_EQ(list->topLevelItem(0)->text(2), "10");
  again->close();
  real.PumpIdle();
}

TEST_F(DiscoveryE2eTest, HostSelectionDialogsListAnIdleAgentByUdp) {
  AgentProcess agent;
  ASSERT_TRUE(StartIdle(agent)) << agent.Stderr();
  // The console's discovery sockets send from 127.0.0.1 (a broadcast from an unbound socket
  // through "lo" would carry the source 0.0.0.0, which the agent cannot answer).
  gDiscover.Close();
  gDiscover.SetBindAddress("127.0.0.1");
  gClientDiscovery.Close();
  gClientDiscovery.SetBindAddress("127.0.0.1");
  {
    CHostSelection dlg;
    QStringList rows;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (!dlg.SearchDone() || !rows.isEmpty() || dlg.RowCount() == 0) return;
      for (int i = 0; i < dlg.RowCount(); ++i) rows << dlg.RowText(i);
      QTest::mouseClick(dlg.findChild<QPushButton*>(ControlName(IDOK)), Qt::LeftButton);
    });
    poll.start(20);
    QTimer::singleShot(15000, &dlg, [&] { static_cast<QDialog&>(dlg).reject(); });
    EXPECT_EQ(dlg.DoModal(), QDialog::Accepted);
    EXPECT_TRUE(dlg.UsesUdp());
    ASSERT_EQ(rows.size(), 1);
    KT_HostControl reader(0);
    ASSERT_EQ(gHosts.GetHostCount(), 1);
    EXPECT_EQ(gHosts.GetHostByIndex(1)->Address().GetIpAddress(), htonl(INADDR_LOOPBACK));
  }
  QPointer<CHostSelect> s = new CHostSelect(nullptr);
  EXPECT_EQ(s->Control<QListWidget>(IDC_HOST_SELECT_LIST)->count(), 1);
  s->close();
}

}  // namespace
