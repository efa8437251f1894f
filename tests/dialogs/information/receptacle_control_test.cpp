// The receptacle dialog against the in-process agent.
#include "dialogs/information/receptacle_control.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include "dialogs/frame/trem_globals.h"
#include "tests/dialogs/information/info_test_util.h"

namespace {

using info_test::InfoTest;
using info_test::Items;
using info_test::Sent;

class ReceptacleControlTest : public InfoTest {
 protected:
  void FillAgent(int count, uint8_t firstStatus) {
    auto lock = agent.scp().Lock();
    Recptinf& r = agent.scp().receptacles;
    r.SetCount(count);
    for (int i = 0; i < count; ++i) {
      r.SetStatus(i, i == 0 ? firstStatus : 1);
      r.SetDownDelay(i, static_cast<uint16_t>(30 + i));
      r.SetUpDelay(i, static_cast<uint16_t>(60 + i));
    }
  }
};

TEST_F(ReceptacleControlTest, ListsAllAndTheLoadSegmentsWithSegmentZerosStatus) {
  const struct {
    int count;
    uint8_t status;
    QStringList items;
    const char* text;
    int up, down;
  } kCases[] = {{3, 0, {"All", "Load Segment1", "Load Segment2"}, "On", 209, 213},
                {3, 2, {"All", "Load Segment1", "Load Segment2"}, "Off due to scheduled shutdown", 210, 212},
                {2, 3, {"All", "Load Segment1"}, "Off waiting for startup delay", 210, 212},
                {2, 9, {"All", "Load Segment1"}, "Unknown", 211, 211},
                {0, 0, {"All"}, "Unknown", 211, 211}};
  for (const auto& c : kCases) {
    FillAgent(c.count, c.status);
    QPointer<CReceptacleControl> d = OpenIdle<CReceptacleControl>(nullptr, "localhost");
    EXPECT_EQ(d->windowTitle(), "Receptacle Control (localhost)");
    EXPECT_EQ(d->HelpContextId(), 21);
    EXPECT_EQ(Sent(link).back(), "GET 28,1");
    EXPECT_EQ(Items(d->Control<QComboBox>(CReceptacleControl::IDC_BANK)), c.items);
    EXPECT_EQ(d->Control<QLabel>(CReceptacleControl::IDC_STATUS_TEXT)->text(), c.text);
    EXPECT_EQ(d->UpBitmap(), c.up);
    EXPECT_EQ(d->DownBitmap(), c.down);
    EXPECT_EQ(static_cast<int>(d->Segments().size()), c.count);
    for (int id : {CReceptacleControl::IDC_UTILITY_DELAY_ON, CReceptacleControl::IDC_UTILITY_DELAY_OFF,
                   CReceptacleControl::IDC_SCHEDULED_DELAY_ON, CReceptacleControl::IDC_SCHEDULED_DELAY_OFF}) {
      EXPECT_EQ(d->Control<QLineEdit>(id)->text(), "0") << id;
    }
    if (c.count == 3 && c.status == 0) Screenshot(d, "receptacle_control");
    delete d.data();
  }
}

TEST_F(ReceptacleControlTest, OkSendsTheBlockAsItCame) {
  FillAgent(3, 0);
  QPointer<CReceptacleControl> d = OpenIdle<CReceptacleControl>(nullptr, "localhost");
  d->Control<QComboBox>(CReceptacleControl::IDC_BANK)->setCurrentIndex(2);
  d->Control<QLineEdit>(CReceptacleControl::IDC_UTILITY_DELAY_ON)->setText("9");
  QTest::mouseClick(d->Control<QPushButton>(IDOK), Qt::LeftButton);
  ASSERT_TRUE(link.PumpIdle());
  EXPECT_TRUE(d.isNull());
  EXPECT_EQ(Sent(link).back(), "SET 28,1");
  auto lock = agent.scp().Lock();
  const Recptinf& r = agent.scp().receptacles;
  ASSERT_EQ(r.GetCount(), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(r.GetStatus(i), i == 0 ? 0 : 1);
    EXPECT_EQ(r.GetDownDelay(i), 30 + i);
    EXPECT_EQ(r.GetUpDelay(i), 60 + i);
  }
}

}  // namespace
