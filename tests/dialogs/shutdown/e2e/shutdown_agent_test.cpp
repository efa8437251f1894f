// The time line and its pages against real agents, in a network of the test's own: a master
// VigilNT on the simulated Smart-UPS at 127.0.0.1 and an idle one at 127.0.0.2 as its client;
// fresh agents on every kind of UPS side by side, each on an address of its own. The agents'
// shutdown commands are harmless stand-ins (/bin/true). The adapter dialog against snmpd
// playing an SNMP UPS adapter (tools/ups_mib_peer.py), asked by the console's worker.
#include <arpa/inet.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "console/comm/comm_notice.h"
#include "console/comm/communication.h"
#include "core/adapters/mib_file.h"
#include "core/adapters/snmp.h"
#include "core/scp/config_block.h"
#include "core/scp/notify_block.h"
#include "core/scp/record_reader.h"
#include "core/scp/recptinf.h"
#include "dialogs/discovery/client_discovery.h"
#include "dialogs/discovery/discover.h"
#include "dialogs/discovery/discover_adapter.h"
#include "dialogs/discovery/host_search.h"
#include "dialogs/discovery/subnet_file.h"
#include "dialogs/frame/host_control.h"
#include "dialogs/frame/request_path.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/notification/event_notification.h"
#include "dialogs/notification/remote_message.h"
#include "dialogs/shutdown/shutdown_clients_page.h"
#include "dialogs/shutdown/shutdown_dlg.h"
#include "dialogs/shutdown/shutdown_load_page.h"
#include "dialogs/shutdown/shutdown_programs_page.h"
#include "dialogs/shutdown/shutdown_ups_page.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/dialogs/discovery/discovery_fixture.h"
#include "tests/support/simulated_ups.h"
#include "tests/support/snmp_peer.h"

TREM_HARNESS_PRIVATE_NETWORK();

namespace {

class ShutdownAgentTest : public DiscoveryTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("shutdown"); }
  void SetUp() override {
    DiscoveryTest::SetUp();
    if (!trem_harness::HarnessInPrivateNetwork()) GTEST_SKIP() << "needs a network of its own";
    gnCommMode = 0;
    gScp.requestTable.ResetCursor();
    gClientDiscovery.ClearSubnets();
  }
  void TearDown() override {
    KT_SNMP::SetServicePortLookup({});
    gScp.ClearFlag(SCP_FLAG_SNMP);
    gDiscover.Close();
    DiscoveryTest::TearDown();
  }
  static bool Ready(AgentProcess& a, const char* trace) {
    return AgentProcess::WaitFor(
        [&] { return Count(a.Stderr(), "NETWORK THREAD IS ALIVE") > 0 && Contains(a.Stderr(), trace); },
        120000);
  }
  // What the agent keeps in config.dat: a leading format byte, then the block in its file form.
  static bool ReadStoredConfig(AgentProcess& agent, ConfigBlock& config) {
    const std::vector<uint8_t> bytes = testing_support::ReadFileBytes(agent.File("config.dat"));
    if (bytes.size() <= 1) return false;
    KT_RecordReader reader(bytes.data() + 1, bytes.size() - 1);
    config.SetFileConversion(true);
    return config.ConvertBlock(CONVERT_DECODE, nullptr, &reader) >= 0;
  }
  static void Set(QWidget* d, int id, const QString& text) {
    d->findChild<QLineEdit*>(ControlName(id))->setText(text);
  }
  static QString Text(QWidget* d, int id) { return d->findChild<QLineEdit*>(ControlName(id))->text(); }
  static void Click(QWidget* d, int id) { d->findChild<QAbstractButton*>(ControlName(id))->click(); }
  // As a console: asks the UPS information until the agent has found its UPS and `known` holds
  // of what it answered (bounded).
  static bool AskUpsInformationUntil(trem_harness::AgentLink& real, const std::function<bool()>& known) {
    const RequestTarget target{QString(), QStringLiteral("localhost"), {}};
    return AgentProcess::WaitFor(
        [&] {
          RequestDataFor(target, 2, 0, 0);
          real.PumpIdle(10000);
          auto lock = gScp.Lock();
          return known();
        },
        90000);
  }
};

TEST_F(ShutdownAgentTest, TheTimeLineAndItsPagesConfigureAMasterAndItsClient) {
  testing_support::SimulatedUps ups("apc");
  ASSERT_TRUE(ups.ok()) << ups.error();
  AgentProcess master({"bind_address = 127.0.0.1"});
  AgentProcess client({"bind_address = 127.0.0.2"});
  ASSERT_TRUE(master.Start({"-b", "-d", ups.device()}));
  ASSERT_TRUE(client.Start({"-b", "-x", "5"}));
  ASSERT_TRUE(Ready(master, "Inside SERIAL thread")) << master.Stderr();
  ASSERT_TRUE(Ready(client, "")) << client.Stderr();
  // The subnet file's last line without its newline.
  testing_support::WriteFileText(kSubnetFileName, "127.0.0.2");
  trem_harness::UdpAgent udp;
  std::string error;
  ASSERT_TRUE(udp.Open(error, "127.0.0.1")) << error;
  trem_harness::AgentLink real(udp);

  // As a console: the UPS information first, once the agent has found its UPS.
  ASSERT_TRUE(AskUpsInformationUntil(real, [] { return gScp.upsInfo.GetModelIndex() == 8; }));

  QPointer<CShutdownDlg> d = new CShutdownDlg(nullptr, "localhost");
  ASSERT_TRUE(real.PumpUntil([&] { return !d->IsBusy(); }, 20000));
  real.PumpIdle(10000);
  Click(d, IDC_TIMELINE_CONFIGURE);
  auto* ups1 = static_cast<ShutdownUpsPage*>(ShutdownPage::OpenPage(ShutdownPageId::Ups));
  ASSERT_NE(ups1, nullptr);
  Set(ups1, IDC_UPS_TOTAL, "20");
  Set(ups1, IDC_UPS_START, "10");
  Set(ups1, IDC_UPS_ADMIN, "2");
  Set(ups1, IDC_UPS_USER, "3");
  Click(ups1, IDC_PAGE_NEXT);
  auto* programs = static_cast<ShutdownProgramsPage*>(ShutdownPage::OpenPage(ShutdownPageId::Programs));
  ASSERT_NE(programs, nullptr);
  // A Smart-UPS takes 3, 5 or 10 minutes.
  Set(programs, IDC_PROG_OS_TIME, "4");
  EXPECT_FALSE(programs->Validate());
  Set(programs, IDC_PROG_OS_TIME, "3");
  boxes.Clear();
  Click(programs, IDC_PAGE_NEXT);
  ASSERT_EQ(boxes.Count(), 0) << boxes.Boxes()[0].text.toStdString();
  auto* clients = static_cast<ShutdownClientsPage*>(ShutdownPage::OpenPage(ShutdownPageId::Clients));
  ASSERT_NE(clients, nullptr);
  int chosen = -1;
  for (KT_NetClient& c : clients->Found().Clients())
    if (c.address.GetIpAddress() == htonl(0x7F000002))
      chosen = clients->Clients()->findText(HostEntryText(c.address));
  ASSERT_GE(chosen, 0) << clients->Found().Count();
  clients->Clients()->setCurrentIndex(chosen);
  const QString entry = clients->Clients()->currentText();
  Set(clients, IDC_CLIENTS_PASSWORD, "4Tulip");
  Set(clients, IDC_CLIENTS_SHUTDOWN, "8");
  Set(clients, IDC_CLIENTS_WARNING, "2");
  Click(clients, IDC_CLIENTS_ADD);
  Screenshot(clients, "clients_page_agent");
  Click(clients, IDOK);
  EXPECT_EQ(boxes.Count(), 0);
  Screenshot(d, "shutdown_dlg_agent");
  Click(d, IDOK);
  ASSERT_TRUE(real.PumpIdle(10000));

  // A fresh time line shows what the agent holds now.
  {
    auto lock = gScp.Lock();
    gScp.config.PowerEventClients().Clear();
  }
  d = new CShutdownDlg(nullptr, "localhost");
  ASSERT_TRUE(real.PumpUntil([&] { return !d->IsBusy(); }, 20000));
  real.PumpIdle(10000);
  bool start = false, clientStart = false;
  for (const TimeLineRow& r : d->Rows()) {
    const TimeLineBar b = d->BarOf(r);
    if (r.kind == TimeLineKind::LocalStart) start = b.to == 10;
    if (r.kind == TimeLineKind::ClientStart) clientStart = b.to == 8 && r.text.startsWith(entry);
  }
  EXPECT_TRUE(start);
  EXPECT_TRUE(clientStart);
  Click(d, IDCANCEL);

  master.Signal(SIGTERM);
  ASSERT_EQ(master.Wait(30000), 0) << master.Stderr();
  ConfigBlock config;
  ASSERT_TRUE(ReadStoredConfig(master, config));
  EXPECT_EQ(config.GetTotalBatteryTime(), 20);
  EXPECT_EQ(config.GetShutdownStartDelay(), 10);
  EXPECT_EQ(config.GetOsShutdownTime(), 180);
  ASSERT_EQ(config.PowerEventClients().Count(), 1);
  const KT_NetClient& stored = config.PowerEventClients().Clients().front();
  EXPECT_EQ(stored.address.GetIpAddress(), htonl(0x7F000002));
  EXPECT_EQ(stored.warn_delay, 2);
  EXPECT_EQ(stored.shut_delay, 8);
  NotifyBlock notify;
  ASSERT_TRUE(ReadBlockFile(master.File("notify.dat"), notify));
  KT_ActionEntry e;
  ASSERT_TRUE(notify.FindAction(3, ACTION_CONSOLE_WARNING, e));
  EXPECT_EQ(e.delay, 120);
  if (notify.FindAction(3, ACTION_USER_WARNING, e)) {
    EXPECT_EQ(e.delay, 180);
  }
  std::ifstream f(kSubnetFileName);
  const std::string written((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  EXPECT_EQ(written, "127.0.0.2\n");

  // CDiscover's OK searches with gDiscover: the client agent answers.
  gDiscover.ClearSubnets();
  gDiscover.AddSubnet("127.0.0.2");
  {
    CDiscover discover(nullptr);
    discover.OnOK();
  }
  KT_NetClientList found;
  gDiscover.CollectReplies(&found, 1, 0);
  bool listed = false;
  for (KT_NetClient& c : found.Clients()) listed = listed || c.address.GetIpAddress() == htonl(0x7F000002);
  EXPECT_TRUE(listed);
  gDiscover.ClearSubnets();
}

// Fresh agents on every kind of UPS, side by side: the pages open with values that UPS takes
// (a Smart-UPS: 3 minutes for the operating system, so a total of 8), Next through every page
// and OK pass without a box, and the agent takes them; Back from a refused value goes back all
// the same.
TEST_F(ShutdownAgentTest, OnEveryKindOfUpsAFreshAgentsPagesPassAsTheyOpen) {
  testing_support::SimulatedUps apc("apc"), bcm("bcm"), varnis("varnis"), contact("contact");
  ASSERT_TRUE(apc.ok() && bcm.ok() && varnis.ok() && contact.ok() && bcm.Do("segments 3"));
  testing_support::SnmpAdapterPeer adapter;
  adapter.SetText("ident_model", "Smart-UPS 1400");
  struct Case {
    std::vector<std::string> args;
    int total, os;
    size_t pages;  // UPS Management, Software Programs, load segment and clients when offered
  };
  std::vector<Case> cases{{{"-d", apc.device()}, 8, 3, 3},
                          {{"-d", bcm.device()}, 7, 2, 4},
                          {{"-d", varnis.device()}, 7, 2, 4},
                          {{"-d", contact.device()}, 7, 2, 2}};
  if (!testing_support::FindProgram("snmpd").empty() && adapter.Start())
    cases.push_back({{"-x", "8", "-c", adapter.peerName(), "-g", "public", "-s", "private"}, 8, 3, 3});
  std::vector<std::unique_ptr<AgentProcess>> agents;
  for (size_t i = 0; i < cases.size(); ++i) {
    agents.push_back(std::make_unique<AgentProcess>(
        std::vector<std::string>{"bind_address = 127.0.0." + std::to_string(i + 1)}));
    ASSERT_TRUE(cases[i].args.front() == "-d" || agents[i]->InstallShippedMib());  // the adapter's MIB
    std::vector<std::string> args{"-b"};
    args.insert(args.end(), cases[i].args.begin(), cases[i].args.end());
    ASSERT_TRUE(agents[i]->Start(args));
  }
  testing_support::WriteFileText(kSubnetFileName, "127.0.0.9");
  trem_harness::UdpAgent udp;
  std::string error;
  ASSERT_TRUE(udp.Open(error, "127.0.0.1")) << error;
  trem_harness::AgentLink real(udp);
  using P = ShutdownPageId;
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.args.front() + " " + c.args[1]);
    ASSERT_TRUE(Ready(*agents[i], c.args.front() == "-d" ? "Inside SERIAL thread" : "SNMP THREAD updating"));
    // The one host of the console, "localhost", becomes the agent at this address.
    trem_harness::ResetToLocalHost(static_cast<uint16_t>(kScpUdpPort), ("127.0.0." + std::to_string(i + 1)).c_str());
    {
      auto lock = gScp.Lock();
      gScp.upsInfo.Reset();
    }
    ASSERT_TRUE(AskUpsInformationUntil(real, [&] {
      return gScp.upsInfo.GetModelIndex() != 255 &&
             (c.pages < 4 || gScp.upsInfo.IsFunctionSupported(3, 7) == 1);
    }));
    QPointer<CShutdownDlg> d = new CShutdownDlg(nullptr, "localhost");
    ASSERT_TRUE(real.PumpUntil([&] { return !d->IsBusy(); }, 20000));
    real.PumpIdle(10000);
    boxes.Clear();
    Click(d, IDC_TIMELINE_CONFIGURE);
    size_t pages = 0;
    for (ShutdownPage* page = ShutdownPage::OpenPage(P::Ups); page != nullptr && pages < 5; ++pages) {
      const P id = page->PageId();
      if (id == P::Ups) {
        EXPECT_EQ(Text(page, IDC_UPS_TOTAL), QString::number(c.total));
      } else if (id == P::Programs) {
        EXPECT_EQ(Text(page, IDC_PROG_OS_TIME), QString::number(c.os));
        Set(page, IDC_PROG_OS_TIME, "0");  // refused: Back goes back, this page stays
        Click(page, IDC_PAGE_BACK);
        ASSERT_NE(ShutdownPage::OpenPage(P::Ups), nullptr);
        Click(ShutdownPage::OpenPage(P::Ups), IDCANCEL);
        ASSERT_EQ(ShutdownPage::OpenPage(P::Programs), page);
        Set(page, IDC_PROG_OS_TIME, QString::number(c.os));
      }
      if (i == 0 && id != P::Clients)
        Screenshot(page, id == P::Ups ? "ups_page_smart_ups_agent" : "programs_page_smart_ups_agent");
      auto* next = page->findChild<QPushButton*>(ControlName(IDC_PAGE_NEXT));
      if (next == nullptr || !next->isEnabled()) {
        Click(page, IDOK);
        page = nullptr;
        continue;
      }
      next->click();
      real.PumpIdle(10000);
      page = nullptr;
      for (P later : {P::Programs, P::LoadSegment, P::Clients})
        if (page == nullptr && later > id) page = ShutdownPage::OpenPage(later);
    }
    EXPECT_EQ(pages, c.pages);
    Click(d, IDOK);
    ASSERT_TRUE(real.PumpIdle(10000));
    EXPECT_EQ(boxes.Count(), 0) << boxes.Boxes()[0].text.toStdString();  // every block "Set OK"
    // "Set OK" means kept: killed at once, the agent's file holds the values the pages showed.
    agents[i]->Signal(SIGKILL);
    agents[i]->Wait(10000);
    ConfigBlock stored;
    ASSERT_TRUE(ReadStoredConfig(*agents[i], stored));
    EXPECT_EQ(stored.GetTotalBatteryTime(), c.total);
    EXPECT_EQ(stored.GetOsShutdownTime(), c.os * 60);
  }
}

TEST_F(ShutdownAgentTest, ARemoteMessageOnBatteryReachesTheClientAgent) {
  testing_support::SimulatedUps ups("apc");
  ASSERT_TRUE(ups.ok()) << ups.error();
  AgentProcess master({"bind_address = 127.0.0.1"});
  AgentProcess client({"bind_address = 127.0.0.2"});
  ASSERT_TRUE(master.Start({"-b", "-d", ups.device()}));
  ASSERT_TRUE(client.Start({"-b", "-x", "5"}));
  ASSERT_TRUE(Ready(master, "Inside SERIAL thread")) << master.Stderr();
  ASSERT_TRUE(Ready(client, "")) << client.Stderr();
  testing_support::WriteFileText(kSubnetFileName, "127.0.0.2");
  trem_harness::UdpAgent udp;
  std::string error;
  ASSERT_TRUE(udp.Open(error, "127.0.0.1")) << error;
  trem_harness::AgentLink real(udp);
  ASSERT_TRUE(AskUpsInformationUntil(real, [] { return gScp.upsInfo.GetModelIndex() == 8; }));

  QPointer<CEventNotification> n = new CEventNotification(nullptr, "localhost");
  ASSERT_TRUE(real.PumpUntil([&] { return !n->IsBusy(); }, 20000));
  real.PumpIdle(10000);
  const auto found = n->Events()->findItems(QStringLiteral("UPS On Battery"), Qt::MatchExactly);
  ASSERT_FALSE(found.isEmpty());
  n->Events()->setCurrentItem(found.front());
  found.front()->setSelected(true);
  // The button follows the agent's support map, in which a Smart-UPS agent offers action 12
  // from its first start on.
  {
    auto lock = gScp.Lock();
    EXPECT_EQ(gScp.notify.IsActionSupported(ACTION_REMOTE_HOST), 1);
  }
  EXPECT_TRUE(n->Control(CEventNotification::IDC_REMOTE_WARN)->isEnabled());
  n->OnRemoteWarn();
  ASSERT_TRUE(DialogIsOpen(pRemoteMessage.get()));
  CRemoteMessage* r = pRemoteMessage.get();
  bool searched = false;
  for (KT_NetClient& c : r->Found().Clients())
    searched = searched || c.address.GetIpAddress() == htonl(0x7F000002);
  EXPECT_TRUE(searched);
  r->Target()->setEditText(QStringLiteral("127.0.0.2"));
  r->Message()->setPlainText(QStringLiteral("Mains failed at the depot"));
  Screenshot(r, "remote_message_agent");
  Click(r, IDOK);
  EXPECT_EQ(boxes.Count(), 0);
  Click(n, IDOK);
  ASSERT_TRUE(real.PumpIdle(10000));
  ASSERT_TRUE(AgentProcess::WaitFor(
      [&] {
        NotifyBlock file;
        KT_ActionEntry e;
        return ReadBlockFile(master.File("notify.dat"), file) && file.FindAction(3, ACTION_REMOTE_HOST, e);
      },
      30000));
  ASSERT_TRUE(ups.Do("mains fail"));
  EXPECT_TRUE(AgentProcess::WaitFor([&] { return Contains(client.Stderr(), "Displaying message"); }, 90000))
      << master.Stderr();
  ASSERT_TRUE(ups.Do("mains ok"));
}

TEST_F(ShutdownAgentTest, TheLoadSegmentPageSetsTheReceptacleBlockOfABcmUps) {
  testing_support::SimulatedUps ups("bcm");
  ASSERT_TRUE(ups.ok()) << ups.error();
  ASSERT_TRUE(ups.Do("segments 3"));
  AgentProcess master({"bind_address = 127.0.0.1"});
  ASSERT_TRUE(master.Start({"-b", "-d", ups.device()}));
  ASSERT_TRUE(Ready(master, "Inside SERIAL thread")) << master.Stderr();
  trem_harness::UdpAgent udp;
  std::string error;
  ASSERT_TRUE(udp.Open(error, "127.0.0.1")) << error;
  trem_harness::AgentLink real(udp);
  ASSERT_TRUE(AskUpsInformationUntil(real, [] { return gScp.upsInfo.IsFunctionSupported(3, 7) == 1; }));
  QPointer<CShutdownDlg> d = new CShutdownDlg(nullptr, "localhost");
  ASSERT_TRUE(real.PumpUntil([&] { return !d->IsBusy(); }, 20000));
  real.PumpIdle(10000);
  ASSERT_TRUE(d->HasLoadControl());
  auto* page = static_cast<ShutdownLoadSegmentPage*>(
      ShutdownPage::CreatePage(ShutdownPageId::LoadSegment, d, "localhost"));
  ASSERT_GE(page->Segments()->count(), 2);
  page->Segments()->setCurrentIndex(1);
  emit page->Segments()->activated(1);
  page->findChild<QSpinBox*>(ControlName(IDC_LOAD_DOWN))->setValue(2);
  page->findChild<QSpinBox*>(ControlName(IDC_LOAD_UP))->setValue(1);
  Screenshot(page, "load_segment_page_agent");
  Click(page, IDOK);
  EXPECT_EQ(boxes.Count(), 0);
  Click(d, IDOK);
  ASSERT_TRUE(real.PumpIdle(10000));
  // The agent keeps the block in loadbank.dat, written at the latest when it ends.
  {
    auto lock = gScp.Lock();
    EXPECT_EQ(gScp.receptacles.GetNonCriticalSegment(), 1);
  }
  master.Signal(SIGTERM);
  ASSERT_EQ(master.Wait(30000), 0) << master.Stderr();
  Recptinf file;
  AgentProcess::WaitFor(
      [&] {
        file.Reset();
        return ReadBlockFile(master.File("loadbank.dat"), file) && file.GetNonCriticalSegment() == 1;
      },
      30000);
  EXPECT_EQ(file.GetNonCriticalSegment(), 1);
  EXPECT_EQ(file.GetDownDelay(1), 120);
  EXPECT_EQ(file.GetUpDelay(1), 60);
}

TEST_F(ShutdownAgentTest, AnAdapterEnteredInEditNetworkAdapterIsAskedForItsUpsInformation) {
  if (testing_support::FindProgram("snmpd").empty()) GTEST_SKIP() << "snmpd is not installed";
  // The adapter answers to the dialog's default communities.
  testing_support::SnmpAdapterPeer adapter("marble", "harvest");
  adapter.SetInt("config_output_va", 3000);
  ASSERT_TRUE(adapter.Start()) << adapter.error();
  // As a console starts: with the MIB in its directory it talks SNMP.
  std::filesystem::copy_file(testing_support::ShippedMibPath(), kMibFileName);
  ASSERT_TRUE(ReadMibFile(kMibFileName));
  gScp.SetFlag(SCP_FLAG_SNMP);
  const uint16_t port = adapter.port();
  KT_SNMP::SetServicePortLookup([port](const char*) { return std::optional<uint16_t>(port); });
  {
    // The adapter is on 127.0.0.1, the address of the agent's entry: it is the one host.
    KT_HostControl writer;
    gHosts.ResetHosts();
  }

  CDiscoverAdapter d(nullptr);
  d.findChild<QLineEdit*>(ControlName(IDC_ADAPTER_HOST))->setText(QString::fromStdString(adapter.host()));
  Click(&d, IDC_ADAPTER_ADD);
  Screenshot(&d, "discover_adapter_agent");
  d.OnOK();
  EXPECT_EQ(boxes.Count(), 0);
  int index = -1;
  {
    KT_HostControl reader(0);
    index = gHosts.FindHostByAddress(htonl(INADDR_LOOPBACK));
    ASSERT_GE(index, 0);
    EXPECT_EQ(gHosts.GetHostByIndex(index)->Address().GetType(), ADDRESS_SNMP);
  }
  {
    ScpQueueLock queue;
    ASSERT_TRUE(queue.locked());
    ASSERT_EQ(gScp.requestTable.GetCount(), 1);
    ScpQueueEntry e;
    gScp.requestTable.ResetCursor();
    ASSERT_GE(gScp.requestTable.Next(e), 0);
    EXPECT_EQ(e.key, std::vector<uint8_t>{BLOCK_UPS_INFO});
    EXPECT_EQ(e.host, index);
    gScp.requestTable.ResetCursor();
  }

  // The console's worker, in its every-network mode, carries the GET to the adapter; the
  // answer lands in the adapter host's image.
  CommNoticeRelay relay;
  gnCommMode = 4;
  CCommunication worker(&relay);
  worker.SetReceiveWaits(50, 50);
  worker.InitCommunication();
  auto left = [] {
    ScpQueueLock queue;
    return gScp.requestTable.GetCount();
  };
  for (int i = 0; i < 10 && left() > 0; ++i) worker.Send();
  EXPECT_EQ(left(), 0);
  worker.ExitInstance();
  gnCommMode = 0;
  bool asked = false;
  for (const auto& r : adapter.Requests()) asked = asked || r.oid == ".1.3.6.1.2.1.33.1.1.2.0";
  EXPECT_TRUE(asked) << adapter.Log();
  KT_HostControl reader(0);
  HostEntry* host = gHosts.GetHostByIndex(index);
  ASSERT_NE(host, nullptr);
  auto lock = host->Lock();
  EXPECT_EQ(host->upsInfo.GetVARating(), 3000);
  EXPECT_EQ(host->upsInfo.GetOsType(), 12);  // the adapter answers, not an agent's computer
}

}  // namespace
