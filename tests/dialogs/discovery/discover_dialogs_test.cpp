// CDiscover (gDiscover's subnets) and CDiscoverAdapter (the SNMP adapters of gHosts).
#include <arpa/inet.h>

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <string>
#include <vector>

#include "dialogs/discovery/discover.h"
#include "dialogs/discovery/discover_adapter.h"
#include "dialogs/frame/control_ids.h"
#include "dialogs/frame/host_control.h"
#include "dialogs/frame/trem_globals.h"
#include "tests/dialogs/discovery/discovery_fixture.h"

namespace {

class DiscoverDialogsTest : public DiscoveryTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("shutdown"); }
  static void Click(QWidget* d, int id) { d->findChild<QPushButton*>(ControlName(id))->click(); }
};

TEST_F(DiscoverDialogsTest, DiscoverEditsGDiscoversListAtOnce) {
  gDiscover.ClearSubnets();
  gDiscover.AddSubnet("127.0.0.1");
  CDiscover d(nullptr);
  auto* list = d.findChild<QListWidget*>(ControlName(IDC_SUBNET_LIST));
  ASSERT_EQ(list->count(), 1);
  auto* edit = d.findChild<QLineEdit*>(ControlName(IDC_SUBNET_EDIT));
  for (const char* typed : {"  127.0.0.255 ", "127.0.0.255", ""}) {
    edit->setText(typed);
    Click(&d, IDC_SUBNET_ADD);
  }
  EXPECT_EQ(Subnets(gDiscover), (std::vector<std::string>{"127.0.0.255", "127.0.0.1"}));
  EXPECT_EQ(boxes.Count(), 0);
  Screenshot(&d, "discover");
  list->findItems("127.0.0.255", Qt::MatchExactly).front()->setSelected(true);
  Click(&d, IDC_SUBNET_DELETE);
  EXPECT_EQ(Subnets(gDiscover), (std::vector<std::string>{"127.0.0.1"}));
  d.reject();
  EXPECT_EQ(Subnets(gDiscover), (std::vector<std::string>{"127.0.0.1"}));
  gDiscover.ClearSubnets();
}

TEST_F(DiscoverDialogsTest, AdapterRowsBecomeSnmpHostsThatAreAskedForTheirUpsInformation) {
  CDiscoverAdapter d(nullptr);
  auto* host = d.findChild<QLineEdit*>(ControlName(IDC_ADAPTER_HOST));
  EXPECT_EQ(d.findChild<QLineEdit*>(ControlName(IDC_ADAPTER_GET))->text(), "marble");
  EXPECT_EQ(d.findChild<QLineEdit*>(ControlName(IDC_ADAPTER_SET))->text(), "harvest");
  struct Case {
    const char* name;
    const char* box;  // "" added
  };
  const std::vector<Case> cases{{"  ", "Adapter's name or IP Address must be specified"},
                                {" 127.0.0.9 ", ""},
                                {"127.0.0.9", "Duplicate entries for the same name is not allowed"},
                                {"no-such-adapter.invalid", ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    boxes.Clear();
    host->setText(c.name);
    Click(&d, IDC_ADAPTER_ADD);
    EXPECT_EQ(boxes.Count(), *c.box == '\0' ? 0 : 1);
    if (*c.box != '\0') {
      EXPECT_TRUE(boxes.Saw(c.box));
    }
  }
  ASSERT_EQ(d.List()->topLevelItemCount(), 2);
  Screenshot(&d, "discover_adapter");
  // A name that does not resolve is refused and stays; nothing is entered.
  boxes.Clear();
  const int hostsBefore = gHosts.GetHostCount();
  d.OnOK();
  EXPECT_TRUE(boxes.Saw("Cannot resolve machine name no-such-adapter.invalid"));
  EXPECT_EQ(d.List()->topLevelItemCount(), 2);
  EXPECT_EQ(gHosts.GetHostCount(), hostsBefore);
  delete d.List()->findItems("no-such-adapter.invalid", Qt::MatchExactly).front();
  d.OnOK();
  int index = -1;
  {
    KT_HostControl reader(0);
    index = gHosts.FindHostByAddress(htonl(0x7F000009));
    ASSERT_GE(index, 0);
    HostEntry* entry = gHosts.GetHostByIndex(index);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->Address().GetType(), ADDRESS_SNMP);
    EXPECT_STREQ(entry->Address().GetReadCommunity(), "marble");
  }
  link.PumpIdle();
  bool asked = false;
  for (size_t i = 0; i < agent.Received().size(); ++i)
    asked = asked || (agent.Received()[i].key == std::vector<uint8_t>{2} && agent.Hosts()[i] == index);
  EXPECT_TRUE(asked);
}

}  // namespace
