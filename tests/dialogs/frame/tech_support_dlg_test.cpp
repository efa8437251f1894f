// The technical support page: static, no request, no wait, no help.
#include "dialogs/support/tech_support_dlg.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include "dialogs/frame/dialog_registry.h"
#include "dialogs/frame/trem_globals.h"
#include "tests/dialogs/harness/trem_fixture.h"

namespace {

using trem_harness::TremTest;

class TechSupportDlgTest : public TremTest {};

TEST_F(TechSupportDlgTest, StaticPageWithoutRequestWaitOrHelp) {
  QPointer<KTDialog> d =
      qobject_cast<KTDialog*>(OpenRegisteredDialog("CTechSupportDlg", nullptr, "server-1"));
  ASSERT_FALSE(d.isNull());
  EXPECT_EQ(pTechSupportDlg.get(), d.data());
  EXPECT_EQ(d->windowTitle(), "Technical Support (server-1)");
  EXPECT_FALSE(d->IsBusy());
  EXPECT_FALSE(d->ShowsWaitCursor());
  EXPECT_EQ(gScp.requestTable.GetCount(), 0);
  EXPECT_NE(d->Control<QLabel>(IDC_TECH_SUPPORT_ICON), nullptr);
  bool outside = false;
  for (QLabel* l : d->findChildren<QLabel*>()) {
    outside = outside || l->text() ==
                             "If you are located outside the United States and Canada, your local "
                             "distributor will be able to provide product support.";
  }
  EXPECT_TRUE(outside);
  Screenshot(d, "tech_support");

  QTest::keyClick(d, Qt::Key_F1);
  d->OnHelp();
  EXPECT_EQ(help.Count(), 0);
  QTest::mouseClick(d->Control<QPushButton>(IDOK), Qt::LeftButton);
  link.PumpIdle();
  EXPECT_TRUE(d.isNull());
  EXPECT_EQ(pTechSupportDlg.get(), nullptr);
  EXPECT_TRUE(agent.Received().empty());
}

}  // namespace
