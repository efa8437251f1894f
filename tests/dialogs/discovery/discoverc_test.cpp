// The subnet list editor with stand-in owners: edits reach the owner's list at once, OK asks
// every open owner to search again.
#include "dialogs/discovery/discoverc.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include "core/discovery/discover.h"
#include "dialogs/discovery/subnet_owner.h"
#include "dialogs/frame/control_ids.h"
#include "dialogs/frame/help.h"
#include "tests/dialogs/discovery/discovery_fixture.h"

namespace {

// A dialog that keeps a subnet list, as the remote-message dialog will.
class StandInOwner : public QDialog, public SubnetListOwner {
 public:
  StandInOwner() : SubnetListOwner(this) {}
  KT_Discover& SubnetDiscovery() override { return discover; }
  void Rediscover() override { ++searches; }
  bool OwnerIsOpen() const override { return open; }
  bool event(QEvent* e) override {
    if (e->type() == kRediscoverEventType) {
      Rediscover();
      return true;
    }
    return QDialog::event(e);
  }
  KT_Discover discover;
  int searches = 0;
  bool open = true;
};

class DiscovercTest : public DiscoveryTest {};

QStringList ListTexts(CDiscoverc& dlg) {
  QStringList out;
  auto* list = dlg.Control<QListWidget>(IDC_SUBNET_LIST);
  for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
  return out;
}

void Add(CDiscoverc& dlg, const QString& text) {
  dlg.Control<QLineEdit>(IDC_SUBNET_EDIT)->setText(text);
  QTest::mouseClick(dlg.Control<QPushButton>(IDC_SUBNET_ADD), Qt::LeftButton);
}

TEST_F(DiscovercTest, AddAndDeleteChangeTheOwnersListAtOnce) {
  StandInOwner owner;
  owner.discover.AddSubnet("10.0.0.255");
  CDiscoverc dlg(&owner);
  EXPECT_EQ(dlg.Owner(), &owner);
  EXPECT_EQ(ListTexts(dlg), QStringList{"10.0.0.255"});

  struct Step {
    const char* typed;
    QStringList list;
    std::vector<std::string> owners;
  };
  const std::vector<Step> steps = {
      {"  192.168.1.255 ", {"10.0.0.255", "192.168.1.255"}, {"192.168.1.255", "10.0.0.255"}},
      {"192.168.1.255", {"10.0.0.255", "192.168.1.255"}, {"192.168.1.255", "10.0.0.255"}},
      {"   ", {"10.0.0.255", "192.168.1.255"}, {"192.168.1.255", "10.0.0.255"}},
      {"", {"10.0.0.255", "192.168.1.255"}, {"192.168.1.255", "10.0.0.255"}},
      {"172.16.255.255",
       {"10.0.0.255", "172.16.255.255", "192.168.1.255"},
       {"172.16.255.255", "192.168.1.255", "10.0.0.255"}},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.typed);
    Add(dlg, s.typed);
    EXPECT_EQ(ListTexts(dlg), s.list);
    EXPECT_EQ(Subnets(owner.discover), s.owners);
  }
  EXPECT_TRUE(dlg.Changed());
  dlg.show();
  Screenshot(&dlg, "discoverc");

  // Two selected entries go at once, from the list box and from the owner's list.
  auto* list = dlg.Control<QListWidget>(IDC_SUBNET_LIST);
  list->item(0)->setSelected(true);
  list->item(2)->setSelected(true);
  QTest::mouseClick(dlg.Control<QPushButton>(IDC_SUBNET_DELETE), Qt::LeftButton);
  EXPECT_EQ(ListTexts(dlg), QStringList{"172.16.255.255"});
  EXPECT_EQ(Subnets(owner.discover), std::vector<std::string>{"172.16.255.255"});

  // Cancel keeps what was done.
  QTest::mouseClick(dlg.Control<QPushButton>(IDCANCEL), Qt::LeftButton);
  EXPECT_EQ(dlg.result(), QDialog::Rejected);
  EXPECT_EQ(Subnets(owner.discover), std::vector<std::string>{"172.16.255.255"});
  QApplication::processEvents();
  EXPECT_EQ(owner.searches, 0);
}

TEST_F(DiscovercTest, OkMakesEveryOpenOwnerSearchAgain) {
  StandInOwner first, second, closed;
  closed.open = false;
  CDiscoverc dlg(&first);
  QTest::mouseClick(dlg.Control<QPushButton>(IDOK), Qt::LeftButton);
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
  QApplication::processEvents();
  EXPECT_EQ(first.searches, 1);
  EXPECT_EQ(second.searches, 1);
  EXPECT_EQ(closed.searches, 0);

  // Help opens its topic.
  QTest::mouseClick(dlg.Control<QPushButton>(ID_HELP), Qt::LeftButton);
  ASSERT_EQ(help.Count(), 1);
  EXPECT_EQ(help.Requests()[0].context, CDiscoverc::kHelpContext);
}

TEST_F(DiscovercTest, AWindowThatOwnsNoListEditsNothing) {
  QDialog stranger;
  CDiscoverc dlg(&stranger);
  EXPECT_EQ(dlg.Owner(), nullptr);
  EXPECT_TRUE(ListTexts(dlg).isEmpty());
  Add(dlg, "10.0.0.255");
  EXPECT_EQ(ListTexts(dlg), QStringList{"10.0.0.255"});
  QTest::mouseClick(dlg.Control<QPushButton>(IDOK), Qt::LeftButton);
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
}

}  // namespace
