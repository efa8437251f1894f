// The mimic diagram: picture pairs by state and type, the blink, the window's size and the
// pictures themselves.
#include "dialogs/mimic/mimic.h"

#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <set>

#include "dialogs/frame/trem_globals.h"
#include "dialogs/mimic/mimic_pictures.h"
#include "tests/dialogs/harness/trem_fixture.h"

namespace {

using trem_harness::TremTest;

class MimicTest : public TremTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("meters"); }

  void SetUp() override {
    TremTest::SetUp();
    CMimic::SetBlinkPeriodMs(20);
    auto lock = gScp.Lock();
    gScp.ResetUpsData();
    gScp.upsStatus.Reset();
  }
  void TearDown() override {
    CMimic::SetBlinkPeriodMs(1000);
    SetMimicPictureSource({});
    TremTest::TearDown();
  }

  // The agent's state; the test asks for the status and information blocks as the console's
  // worker does, and the replies reach the open mimic.
  void AgentState(int type, std::initializer_list<int> alarms) {
    {
      auto lock = agent.scp().Lock();
      agent.scp().upsInfo.SetVariant(type);
      agent.scp().upsStatus.Reset();
      for (int a : alarms) agent.scp().upsStatus.SetAlarm(a);
    }
    agent.MarkAllFresh();
    RequestForHost(1, 2, 0, 0);
    RequestForHost(1, 1, 0, 0);
    ASSERT_TRUE(link.PumpIdle());
  }
  // The bitmaps shown until `want` were seen, and over a few blinks more.
  std::set<int> BitmapsSeen(CMimic* d, size_t want) {
    std::set<int> seen;
    auto collect = [&] {
      seen.insert(d->BitmapShown());
      return seen.size() >= want;
    };
    link.PumpUntil(collect, 3000);
    link.PumpUntil([&] { return collect() && false; }, 100);
    return seen;
  }
};

TEST_F(MimicTest, StateAndTypePickThePicturePair) {
  struct Case {
    const char* name;
    int type;
    std::initializer_list<int> alarms;
    int a, b;
    std::set<int> bitmaps;
  };
  const Case cases[] = {
      {"online_normal", 0, {}, 5, 6, {161, 164}},
      {"online_battery", 0, {ALARM_ON_BATTERY}, 3, 4, {156, 163}},
      {"online_bypass", 0, {ALARM_ON_BYPASS}, 1, 2, {146, 147}},
      {"online_bypass_agent_started", 0, {ALARM_ON_BYPASS, ALARM_AGENT_STARTED}, 1, 2, {146, 147}},
      {"offline_normal", 1, {ALARM_LOW_BATTERY}, 5, 6, {185, 184}},
      {"offline_battery", 1, {ALARM_ON_BATTERY, ALARM_LOW_BATTERY}, 3, 4, {187, 186}},
      {"interactive_normal", 2, {}, 5, 6, {177, 176}},
      {"interactive_battery_and_buck", 2, {ALARM_BUCKING, ALARM_ON_BATTERY}, 3, 4, {183, 182}},
      {"interactive_buck", 2, {ALARM_BUCKING}, 7, 8, {181, 180}},
      {"interactive_bypass_then_boost", 2, {ALARM_ON_BYPASS, ALARM_BOOSTING}, 9, 10, {179, 178}},
      {"unknown_type", 3, {}, 5, 6, {0}},
  };
  for (const Case& c : cases) {
    QPointer<CMimic> d = new CMimic(nullptr, "localhost");
    EXPECT_EQ(d->windowTitle(), "View UPS Mimic (localhost)") << c.name;
    EXPECT_TRUE(d->HasTimer(CMimic::kBlinkTimer)) << c.name;  // blinking from the start
    AgentState(c.type, c.alarms);
    EXPECT_EQ(d->TypeCode(), c.type <= 2 ? c.type : 255) << c.name;  // 3 reads as unknown
    EXPECT_EQ(CMimic::PictureA(), c.a) << c.name;
    EXPECT_EQ(CMimic::PictureB(), c.b) << c.name;
    // Both pictures of the pair alternate; two ticks after the replies the display is fresh.
    link.PumpUntil([&] { return d->Picture() == c.b; }, 500);
    link.PumpUntil([&] { return d->Picture() == c.a; }, 500);
    std::set<int> seen = BitmapsSeen(d, c.bitmaps.size());
    EXPECT_EQ(seen, c.bitmaps) << c.name;
    if (c.type <= 2) {
      link.PumpUntil([&] { return d->Picture() == c.a; }, 500);
      Screenshot(d, QStringLiteral("mimic_%1").arg(c.name));
    } else {
      EXPECT_TRUE(d->BitmapSize().isEmpty());
    }
    EXPECT_EQ(boxes.Count(), 0) << c.name;
    delete d.data();
  }
}

TEST_F(MimicTest, WindowFollowsPicture146AndPlacesItsButtons) {
  SetMimicPictureSource([](int id) {
    QImage image(id == CMimic::kSizingPicture ? QSize(300, 240) : QSize(120, 80), QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    return image;
  });
  auto* d = new CMimic(nullptr, "localhost");
  EXPECT_EQ(d->size(), QSize(300, 280));
  auto* cancel = d->Control<QPushButton>(IDCANCEL);
  auto* helpButton = d->Control<QPushButton>(ID_HELP);
  ASSERT_NE(cancel, nullptr);
  ASSERT_NE(helpButton, nullptr);
  EXPECT_EQ(cancel->geometry().right() + 1, 150 - cancel->width() / 4);
  EXPECT_EQ(helpButton->geometry().left(), 150 + helpButton->width() / 4);
  EXPECT_EQ(cancel->geometry().bottom() + 1, 280 - cancel->height() / 4);
  EXPECT_GE(cancel->geometry().top(), 240);  // under the picture
  QTest::mouseClick(helpButton, Qt::LeftButton);
  ASSERT_EQ(help.Count(), 1);
  EXPECT_EQ(help.Requests()[0].context, CMimic::kHelpContext);
  QPointer<CMimic> alive(d);
  QTest::mouseClick(cancel, Qt::LeftButton);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(alive.isNull());
  EXPECT_EQ(pMimic.get(), nullptr);
}

TEST_F(MimicTest, MissingPictureSaysSoAndDrawingGoesOn) {
  SetMimicPictureSource([](int id) {
    if (id == CMimic::kSizingPicture) return QImage(200, 120, QImage::Format_RGB32);
    return QImage();
  });
  {
    auto lock = gScp.Lock();
    gScp.upsInfo.SetVariant(0);
  }
  QPointer<CMimic> d = new CMimic(nullptr, "localhost");
  EXPECT_TRUE(boxes.Saw("Cannot get bitmap info"));
  EXPECT_EQ(boxes.Boxes().front().caption, "Tremona");
  link.PumpUntil([&] { return boxes.Count() >= 2; }, 500);
  EXPECT_TRUE(d);
  // The normal line's picture, or its blinking partner once a status has come meanwhile.
  EXPECT_TRUE(d->BitmapShown() == 161 || d->BitmapShown() == 164) << d->BitmapShown();
}

TEST_F(MimicTest, EveryPictureIdHasItsOwnImage) {
  const int ids[] = {146, 147, 156, 161, 163, 164, 176, 177, 178,
                     179, 180, 181, 182, 183, 184, 185, 186, 187};
  std::set<qint64> distinct;
  for (int id : ids) {
    const QImage image = MimicPicture(id);
    ASSERT_FALSE(image.isNull()) << id;
    EXPECT_GE(image.width(), 300) << id;
    distinct.insert(static_cast<qint64>(qHash(QByteArray(reinterpret_cast<const char*>(image.constBits()),
                                                         static_cast<int>(image.sizeInBytes())))));
  }
  EXPECT_EQ(distinct.size(), std::size(ids));  // no two pictures alike
  EXPECT_TRUE(MimicPicture(150).isNull());
  EXPECT_TRUE(MimicPicture(0).isNull());
}

}  // namespace
