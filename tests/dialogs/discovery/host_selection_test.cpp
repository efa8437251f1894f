// Host selection through the IPX socket seam (scripted service answers), and by UDP where IPX
// cannot be opened; CHostSelect's broadcast search. Searches stay in the test's own network.
#include "dialogs/discovery/host_selection.h"

#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <functional>

#include "dialogs/discovery/client_discovery.h"
#include "dialogs/discovery/discoverc.h"
#include "dialogs/discovery/discovery_wait_dlg.h"
#include "dialogs/discovery/host_select.h"
#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/host_control.h"
#include "dialogs/frame/trem_globals.h"
#include "tests/core/net_fakes.h"
#include "tests/dialogs/discovery/discovery_fixture.h"
#include "tests/dialogs/discovery/ipx_search.h"
#include "tests/dialogs/discovery/udp_responder.h"

namespace {

class HostSelectionTest : public DiscoveryTest {
 protected:
  void SetUp() override {
    DiscoveryTest::SetUp();
    KT_IPX::SetDefaultSocketOps(&ipx);
    gDiscover.IpxChannel().Close();
    gDiscover.IpxChannel().SetSocketOps(nullptr);
    CHostSelection::SetTickMs(10);
  }
  void TearDown() override {
    gDiscover.IpxChannel().Close();
    KT_IPX::SetDefaultSocketOps(nullptr);
    gDiscover.IpxChannel().SetSocketOps(nullptr);
    CHostSelection::SetTickMs(1000);
    DiscoveryTest::TearDown();
  }
  // Runs the dialog modally; `act` runs once the search is over (bounded: Cancel after 10 s).
  int Run(CHostSelection& dlg, const std::function<void()>& act) {
    QTimer poll;
    bool acted = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (!acted && dlg.SearchDone() && dlg.isVisible()) {
        acted = true;
        if (act) act();
      }
    });
    poll.start(10);
    QTimer::singleShot(10000, &dlg, [&] { static_cast<QDialog&>(dlg).reject(); });
    return dlg.DoModal();
  }
  static std::vector<std::string> HostNames() {
    std::vector<std::string> names;
    KT_HostControl reader(0);
    gHosts.ResetIterator();
    while (HostEntry* h = gHosts.GetNextHost()) {
      const char* n = h->Address().StoredHostName();
      names.push_back(n ? n : "");
    }
    return names;
  }

  net_fakes::FakeIpxOps ipx;
};

TEST_F(HostSelectionTest, PresetAnsweringInOtherCaseEndsUnseenWithThatHostOnly) {
  ipx.Queue(Sap(kSapNearestResponse, {{kSapServerType, "SERVER-A", 1}, {kSapServerType, "Server-B", 2}}));
  CHostSelection dlg;
  dlg.SetHost("server-b");
  EXPECT_EQ(Run(dlg, nullptr), QDialog::Accepted);
  EXPECT_TRUE(dlg.Found());
  EXPECT_TRUE(dlg.OutOfSight());
  EXPECT_FALSE(dlg.UsesUdp());
  // The nearest query, then the general one, for the agents' server type, not routed.
  ASSERT_EQ(ipx.sent.size(), 2u);
  EXPECT_EQ(ipx.sent[0].bytes, (std::vector<uint8_t>{0x00, 0x03, 0x08, 0x5E}));
  EXPECT_EQ(ipx.sent[1].bytes, (std::vector<uint8_t>{0x00, 0x01, 0x08, 0x5E}));
  EXPECT_EQ(ipx.sent[0].flags & MSG_DONTROUTE, MSG_DONTROUTE);
  EXPECT_EQ(HostNames(), std::vector<std::string>{"Server-B"});
  KT_HostControl reader(0);
  HostEntry* host = gHosts.GetHostByIndex(1);
  ASSERT_NE(host, nullptr);
  EXPECT_EQ(host->Address().GetType(), ADDRESS_IPX);
  EXPECT_EQ(host->Address().Node()[5], 2);
  EXPECT_EQ(boxes.Count(), 0);
}

TEST_F(HostSelectionTest, ListsEachServerOnceAndOnlyOkChangesTheHostTable) {
  struct Case {
    const char* name;
    const char* preset;
    std::vector<std::vector<uint8_t>> answers;
    QStringList rows;
    bool ok;                         // OK (else Cancel) once the search is over
    std::vector<std::string> hosts;  // gHosts afterwards
    bool notFound;
  };
  const std::vector<Case> cases = {
      {"twice the same server, other types ignored",
       "",
       {Sap(kSapGeneralResponse, {{kSapServerType, "ALPHA", 1}, {0x0004, "FILESRV", 9}}),
        Sap(kSapGeneralResponse, {{kSapServerType, "ALPHA", 1}})},
       {"ALPHA"},
       true,
       {"ALPHA"},
       false},
      {"silent preset while others answer",
       "GONE",
       {Sap(kSapNearestResponse, {{kSapServerType, "ALPHA", 1}, {kSapServerType, "BETA", 2}})},
       {"ALPHA", "BETA"},
       false,
       {"localhost"},
       true},
      {"silent preset, nobody answers: gives up", "GONE", {}, {}, true, {"localhost"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    boxes.Clear();
    gDiscover.IpxChannel().Close();
    for (const auto& a : c.answers) ipx.Queue(a);
    CHostSelection dlg;
    dlg.SetHost(c.preset);
    QStringList rows;
    bool row0Selected = false;
    const int result = Run(dlg, [&] {
      for (int i = 0; i < dlg.RowCount(); ++i) rows << dlg.RowText(i);
      row0Selected = dlg.RowCount() > 0 && dlg.List()->topLevelItem(0)->isSelected();
      if (c.name[0] == 't') Screenshot(&dlg, "host_selection");
      QTest::mouseClick(dlg.findChild<QPushButton*>(ControlName(c.ok ? IDOK : IDCANCEL)), Qt::LeftButton);
    });
    EXPECT_EQ(result, c.ok ? QDialog::Accepted : QDialog::Rejected);
    EXPECT_EQ(rows, c.rows);
    EXPECT_EQ(row0Selected, !c.rows.isEmpty());
    EXPECT_EQ(boxes.Saw(QStringLiteral("Remote Server NOT found: GONE  Please select an active server.")),
              c.notFound);
    EXPECT_EQ(HostNames(), c.hosts);
    if (!c.rows.isEmpty()) {
      // Network and socket as stored, read little-endian; the node byte by byte.
      EXPECT_EQ(dlg.RowAddressText(0), "10a0000,0112233441,451");
    }
    ipx.incoming.clear();
    trem_harness::ResetToLocalHost();
  }
}

TEST_F(HostSelectionTest, NoChannelAtAllGivesUpAtOnce) {
  ipx.fail_socket = true;
  gDiscover.Close();
  ASSERT_EQ(gDiscover.SetBindAddress("192.0.2.1"), 1);  // not an address of this machine
  CHostSelection dlg;
  dlg.SetHost("ANY");
  bool shown = false;
  const int result = Run(dlg, [&] {
    shown = !dlg.OutOfSight();
    QTest::mouseClick(dlg.findChild<QPushButton*>(ControlName(IDCANCEL)), Qt::LeftButton);
  });
  gDiscover.SetBindAddress(nullptr);
  EXPECT_EQ(result, QDialog::Rejected);
  EXPECT_TRUE(shown);
  EXPECT_TRUE(boxes.Saw("Remote Server NOT found: ANY"));
  EXPECT_EQ(HostNames(), std::vector<std::string>{"localhost"});
}

TEST_F(HostSelectionTest, WithoutIpxTheAgentsFoundByUdpAreListed) {
  if (!Network()) GTEST_SKIP() << "needs a network of its own";
  ipx.fail_socket = true;
  UdpResponder responder;
  ASSERT_TRUE(responder.Start());
  CHostSelection dlg;
  QStringList rows;
  const int result = Run(dlg, [&] {
    for (int i = 0; i < dlg.RowCount(); ++i) rows << dlg.RowText(i);
    dlg.List()->setCurrentItem(dlg.List()->topLevelItem(0));
    QTest::mouseClick(dlg.findChild<QPushButton*>(ControlName(IDOK)), Qt::LeftButton);
  });
  EXPECT_TRUE(dlg.UsesUdp());
  EXPECT_EQ(result, QDialog::Accepted);
  EXPECT_EQ(rows, QStringList{"localhost"});
  KT_HostControl reader(0);
  ASSERT_EQ(gHosts.GetHostCount(), 1);
  HostEntry* host = gHosts.GetHostByIndex(1);
  ASSERT_NE(host, nullptr);
  EXPECT_EQ(host->Address().GetType(), ADDRESS_IP);
  EXPECT_EQ(host->Address().GetIpAddress(), htonl(INADDR_LOOPBACK));
  EXPECT_EQ(host->Address().GetPort(), htons(7010));
}

TEST_F(HostSelectionTest, HostSelectListsTheHostsThatAnswered) {
  if (!Network()) GTEST_SKIP() << "needs a network of its own";
  ipx.fail_socket = true;
  UdpResponder responder;
  ASSERT_TRUE(responder.Start());
  QPointer<CHostSelect> d = new CHostSelect(nullptr);
  EXPECT_EQ(d->windowTitle(), "Select Hosts:");
  auto* list = d->Control<QListWidget>(IDC_HOST_SELECT_LIST);
  ASSERT_EQ(list->count(), 1);
  EXPECT_EQ(list->item(0)->text(), "localhost");
  Screenshot(d, "host_select");
  list->item(0)->setSelected(true);
  list->setCurrentRow(0);
  QTest::mouseClick(d->Control<QPushButton>(IDOK), Qt::LeftButton);
  EXPECT_EQ(d->SelectedText(), "localhost");
  EXPECT_EQ(d->SelectedHosts(), QStringList{"localhost"});
}

// The three plain dialogs open by name as trem_show opens them: shown without a modal loop,
// named in their pointers; the host selection searches and lists what answered.
TEST_F(HostSelectionTest, PlainDialogsOpenByName) {
  if (!Network()) GTEST_SKIP() << "needs a network of its own";
  ipx.fail_socket = true;
  UdpResponder responder;
  ASSERT_TRUE(responder.Start());
  struct Case {
    const char* name;
    const char* title;
    std::function<QDialog*()> pointer;
  };
  const Case cases[] = {
      {"CHostSelection", "Host Selection", [] { return pHostSelection; }},
      {"CDiscoverc", "Discover", nullptr},  // it has no pointer
      {"CDiscoveryWaitDlg", "Discovery Process", [] { return pDiscoveryWaitDlg.data(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(RegisteredDialogs().contains(c.name));
    QPointer<QDialog> d = OpenRegisteredDialog(c.name, nullptr, "server-1");
    ASSERT_FALSE(d.isNull());
    EXPECT_TRUE(d->isVisible());
    EXPECT_FALSE(d->isModal());
    EXPECT_EQ(d->windowTitle(), c.title);
    if (c.pointer) {
      EXPECT_EQ(c.pointer(), d.data());
    }
    if (auto* hosts = qobject_cast<CHostSelection*>(d.data())) {
      EXPECT_TRUE(QTest::qWaitFor([&] { return hosts->SearchDone(); }, 10000));
      EXPECT_EQ(hosts->RowCount(), 1);
      EXPECT_EQ(hosts->RowText(0), "localhost");
    }
    delete d.data();
    if (c.pointer) {
      EXPECT_EQ(c.pointer(), nullptr);
    }
  }
}

}  // namespace
