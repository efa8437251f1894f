// The meters dialog and the mimic against the real VigilNT polling the simulated BCM UPS over
// a pseudo-terminal, reached over UDP in a network of the test's own.
#include <QCoreApplication>
#include <QDebug>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QTreeWidget>

#include "dialogs/frame/request_path.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/meters/meters.h"
#include "dialogs/mimic/mimic.h"
#include "dialogs/widgets/gauge.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/dialogs/harness/screenshots.h"
#include "tests/dialogs/harness/trem_fixture.h"
#include "tests/support/simulated_ups.h"

TREM_HARNESS_PRIVATE_NETWORK();
// Screens of the sizes users have, side by side, and one too small for the panel anywhere.
TREM_HARNESS_SCREENS("1280x1024 1920x1080 640x480");

namespace {

using trem_harness::TremTest;

class MetersAgentTest : public TremTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("meters"); }
};

QString ValueOf(CMeters* d, const QString& label) {
  for (int r = 0; r < d->List()->topLevelItemCount(); ++r) {
    if (d->List()->topLevelItem(r)->text(0) == label) return d->List()->topLevelItem(r)->text(1);
  }
  return QString();
}

std::string Describe(CMeters* d) {
  std::string out;
  for (int r = 0; r < d->List()->topLevelItemCount(); ++r) {
    out += d->List()->topLevelItem(r)->text(0).toStdString() + " = " +
           d->List()->topLevelItem(r)->text(1).toStdString() + "\n";
  }
  return out;
}

// Runs until the next meter reply has reached the open dialog (it asks with each one).
void NextReadings(trem_harness::AgentLink& real) {
  const int routed = real.RepliesRouted();
  EXPECT_TRUE(real.PumpUntil([&] { return real.RepliesRouted() > routed; }, 10000));
}

// The whole screen as the user sees it: the dialog and its gauges, each where it opened.
void SaveScreen(CMeters* d, const QRect& available, const QString& path) {
  QImage screen(available.size(), QImage::Format_RGB32);
  screen.fill(QColor(0x3b, 0x4a, 0x5c));
  {
    QPainter p(&screen);
    p.drawPixmap(d->frameGeometry().topLeft() - available.topLeft(), d->grab());
    for (int slot = 0; slot < kMeterCount; ++slot) {
      const int m = CMeters::SlotMeter(slot);
      if (m < 0) continue;
      KtGaugeWindow* w = CMeters::GaugeWindowOf(m);
      p.drawPixmap(w->frameGeometry().topLeft() - available.topLeft(), w->grab());
    }
  }
  screen.save(path);
}

// With no saved view, the default gauges open beside the dialog, on each screen, wherever the
// screen has room for them, every one whole on the screen.
void DefaultGaugesOnEachScreen(trem_harness::AgentLink& real, AgentProcess& vigil, const QString& shots) {
  const struct {
    QSize screen;
    bool room;  // whether some side of the dialog has room for the panel
  } screens[] = {{{1280, 1024}, true}, {{1920, 1080}, true}, {{640, 480}, false}};
  for (const auto& c : screens) {
    QScreen* screen = nullptr;
    for (QScreen* s : QGuiApplication::screens()) {
      if (s->geometry().size() == c.screen) screen = s;
    }
    ASSERT_NE(screen, nullptr) << c.screen.width() << "x" << c.screen.height() << ": no such screen";
    const QRect available = screen->availableGeometry();
    const std::string name = std::to_string(c.screen.width()) + "x" + std::to_string(c.screen.height());
    // No saved view: the default gauges open with the first readings, the dialog in the middle
    // of its screen.
    std::remove("cfgmeter.dat");
    QPointer<CMeters> d = new CMeters(nullptr, "localhost");
    d->move(available.center() - QPoint(d->frameGeometry().width() / 2, d->frameGeometry().height() / 2));
    QCoreApplication::processEvents();
    ASSERT_EQ(d->screen(), screen) << name;
    int expected = 0;
    const bool opened = real.PumpUntil(
        [&] {
          expected = 0;
          for (int i = 0; i < 4; ++i) {
            if (!ValueOf(d, CMeters::ConfiguredMeter(i)).isEmpty()) ++expected;
          }
          return expected > 0 && KtGaugeWindowCount() == expected;
        },
        60000);
    ASSERT_TRUE(opened) << name << "\n" << Describe(d) << vigil.Stderr();
    NextReadings(real);

    const QRect dialog = d->frameGeometry();
    std::vector<QRect> gauges;
    for (int slot = 0; slot < kMeterCount; ++slot) {
      const int m = CMeters::SlotMeter(slot);
      if (m >= 0) gauges.push_back(CMeters::GaugeWindowOf(m)->frameGeometry());
    }
    ASSERT_EQ(static_cast<int>(gauges.size()), expected) << name;
    for (size_t i = 0; i < gauges.size(); ++i) {
      const QRect& g = gauges[i];
      QString where;
      QDebug(&where) << name.c_str() << "gauge" << i << g << "dialog" << dialog;
      EXPECT_TRUE(available.contains(g)) << where.toStdString();  // whole on the screen
      if (!c.room) continue;
      EXPECT_FALSE(g.intersects(dialog)) << where.toStdString();
      for (size_t j = 0; j < i; ++j)
        EXPECT_FALSE(g.intersects(gauges[j])) << where.toStdString() << " over " << j;
    }
    if (!c.room) {
      // No side of the dialog holds the panel: the gauges cover some of it.
      bool covers = false;
      for (const QRect& g : gauges) covers = covers || g.intersects(dialog);
      EXPECT_TRUE(covers) << name;
    }
    SaveScreen(d, available,
               shots + QStringLiteral("/meters_default_gauges_%1.png").arg(QString::fromStdString(name)));
    delete d.data();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}

TEST_F(MetersAgentTest, ReadingsOfTheSimulatedUpsAndTheBatteryPicture) {
  if (!trem_harness::HarnessInPrivateNetwork()) GTEST_SKIP() << "needs a network of its own";
  testing_support::SimulatedUps ups("bcm");
  ASSERT_TRUE(ups.ok()) << ups.error();
  ASSERT_TRUE(ups.Do("set temperature 29"));
  ASSERT_TRUE(ups.Do("set capacity 87"));
  AgentProcess vigil;
  ASSERT_TRUE(vigil.Start({"-b", "-d", ups.device()}));
  ASSERT_TRUE(vigil.WaitForTrace({"Inside SERIAL thread", "NETWORK THREAD IS ALIVE"}, 120000))
      << vigil.Stderr();

  trem_harness::UdpAgent udp;
  std::string error;
  ASSERT_TRUE(udp.Open(error, "127.0.0.1")) << error;
  trem_harness::AgentLink real(udp);

  QPointer<CMeters> d = new CMeters(nullptr, "localhost");
  ASSERT_TRUE(real.PumpUntil([&] { return !d->IsBusy(); }, 15000));
  // The agent fills its meters as it polls; the dialog asks with each reply until the readings
  // set on the UPS show.
  const bool shown = real.PumpUntil(
      [&] { return ValueOf(d, "Temperature") == "29C" && ValueOf(d, "Battery Capacity") == "87%"; }, 60000);
  EXPECT_TRUE(shown) << Describe(d) << vigil.Stderr();
  Screenshot(d, "meters_list_agent");
  delete d.data();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

  QPointer<CMimic> mimic = new CMimic(nullptr, "localhost");
  ASSERT_TRUE(ups.Do("mains fail"));
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(vigil.Stderr(), "UPS On Battery set at"); }, 60000))
      << vigil.Stderr();
  RequestForHost(1, 2, 0, 0);
  RequestForHost(1, 1, 0, 0);
  ASSERT_TRUE(real.PumpIdle(15000));
  EXPECT_EQ(CMimic::PictureA(), 3);
  EXPECT_EQ(CMimic::PictureB(), 4);
  EXPECT_EQ(boxes.Count(), 0);
  if (mimic->TypeCode() <= 2) {
    real.PumpUntil([&] { return mimic->Picture() == 3; }, 3000);
    Screenshot(mimic, "mimic_agent_on_battery");
  }
  vigil.Signal(SIGTERM);
  EXPECT_EQ(vigil.Wait(60000), 0);
}

TEST_F(MetersAgentTest, GaugesOpenOnTheDialogsScreenWithTheirScales) {
  if (!trem_harness::HarnessInPrivateNetwork()) GTEST_SKIP() << "needs a network of its own";
  for (const char* mode : {"bcm", "apc"}) {
    testing_support::SimulatedUps ups(mode);
    ASSERT_TRUE(ups.ok()) << ups.error();
    AgentProcess vigil;
    ASSERT_TRUE(vigil.Start({"-b", "-d", ups.device()}));
    ASSERT_TRUE(AgentProcess::WaitFor(
        [&] {
          const std::string e = vigil.Stderr();
          return Contains(e, "Inside SERIAL thread") && Contains(e, "NETWORK THREAD IS ALIVE");
        },
        120000))
        << vigil.Stderr();
    trem_harness::UdpAgent udp;
    std::string error;
    ASSERT_TRUE(udp.Open(error, "127.0.0.1")) << error;
    trem_harness::AgentLink real(udp);
    if (std::string(mode) == "apc") {
      DefaultGaugesOnEachScreen(real, vigil, trem_harness::ScreenshotDir(ScreenshotTopic()));
      if (HasFatalFailure()) return;
      EXPECT_EQ(boxes.Count(), 0);
    }

    // Once the readings are in, the gauges of every meter the UPS gives open.
    QPointer<CMeters> d = new CMeters(nullptr, "localhost");
    const bool read = real.PumpUntil(
        [&] { return !ValueOf(d, "Battery Capacity").isEmpty() && !ValueOf(d, "Output Voltage").isEmpty(); },
        90000);
    ASSERT_TRUE(read) << mode << "\n" << Describe(d) << vigil.Stderr();
    for (int r = 0; r < d->List()->topLevelItemCount(); ++r)
      d->CreatePages(d->List()->topLevelItem(r)->text(0));
    NextReadings(real);

    const QRect available = d->screen()->availableGeometry();
    int open = 0;
    for (int m = 0; m < kMeterCount; ++m) {
      KtGaugeWindow* w = CMeters::GaugeWindowOf(m);
      if (w == nullptr) continue;
      ++open;
      const QRect g = w->frameGeometry();
      EXPECT_TRUE(available.contains(g))
          << mode << " meter " << m << " at " << g.x() << "," << g.y() << " " << g.width() << "x"
          << g.height() << " on " << available.width() << "x" << available.height() << " dialog "
          << d->frameGeometry().x() << "," << d->frameGeometry().y() << " " << d->frameGeometry().width();
      const KtGaugeDefinition* def = KtGaugeFind(CMeters::GaugeHandleOf(m));
      ASSERT_NE(def, nullptr) << mode << " meter " << m;
      // A dial without a span says why it is blank.
      if (!(def->max > def->min)) {
        EXPECT_FALSE(w->findChild<KtGaugeWidget*>()->Notice().isEmpty()) << m;
      }
    }
    EXPECT_EQ(open, d->List()->topLevelItemCount()) << mode;
    const KtGaugeDefinition* capacity = KtGaugeFind(CMeters::GaugeHandleOf(4));
    ASSERT_NE(capacity, nullptr);
    EXPECT_EQ(capacity->min, 0);
    EXPECT_EQ(capacity->max, 100) << mode;
    // The voltage dials follow the UPS's nominal voltages (a quarter above, in tens), so the
    // needle stands inside the scale.
    for (int meter : {11, 12}) {
      const KtGaugeDefinition* def = KtGaugeFind(CMeters::GaugeHandleOf(meter));
      ASSERT_NE(def, nullptr) << mode << " meter " << meter;
      int nominal = 0;
      {
        auto lock = gScp.Lock();
        nominal =
            meter == 11 ? gScp.upsInfo.GetNominalInputVoltage() : gScp.upsInfo.GetNominalOutputVoltage();
      }
      ASSERT_GT(nominal, 0) << mode;
      ASSERT_LT(nominal, 0xFFFF) << mode;
      EXPECT_EQ(def->max, (nominal + nominal / 4 + 9) / 10 * 10) << mode << " meter " << meter;
      EXPECT_LT(def->value, def->max) << mode << " meter " << meter;
    }
    Screenshot(CMeters::GaugeWindowOf(4), QStringLiteral("gauge_battery_capacity_agent_%1").arg(mode));
    SaveScreen(d, available,
               trem_harness::ScreenshotDir(ScreenshotTopic()) +
                   QStringLiteral("/meters_screen_agent_%1.png").arg(mode));
    EXPECT_EQ(boxes.Count(), 0);
    delete d.data();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}

}  // namespace
