// The dial gauge: definitions, zones, scale, needle, windows and their numbers.
#include "dialogs/widgets/gauge.h"

#include <QCoreApplication>
#include <QImage>
#include <QPointer>
#include <QWidget>
#include <limits>
#include <utility>

#include "tests/dialogs/harness/trem_fixture.h"

namespace {

using trem_harness::TremTest;

class GaugeTest : public TremTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("meters"); }
};

class Holder : public KtGaugeWindowHolder {
 public:
  void Create(KtGaugeWindowRecord* record) override {
    ++created;
    control = KtCreateGaugeControl(record);
  }
  int created = 0;
  KtGaugeWidget* control = nullptr;
};

// Share of the image's pixels that are of a strongly saturated colour (zones, needle).
double ColouredShare(const QImage& image) {
  int coloured = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c.saturation() > 120 && c.value() > 120) ++coloured;
    }
  }
  return static_cast<double>(coloured) / (image.width() * image.height());
}

TEST_F(GaugeTest, DialWithBothZonesNeedleAndReadout) {
  QWidget owner;
  Holder holder;
  auto record = KtCreateGaugeWindow("LOADA", &owner, "Percent Load - Linear", 0, 0, 200, 200, &holder);
  ASSERT_TRUE(record);
  EXPECT_EQ(holder.created, 1);
  ASSERT_NE(holder.control, nullptr);
  const int before = KtGaugeCount();
  const KtGaugeHandle h = KtGaugeDefine("LOADA", "Percent");
  EXPECT_GT(h, 0);
  EXPECT_EQ(KtGaugeAddZone(h, kGaugeZoneHigh, 100, "HIGH"), 1);
  EXPECT_EQ(KtGaugeAddZone(h, kGaugeZoneLow, 80, "LOW ALARM"), 1);
  EXPECT_EQ(KtGaugeAddZone(h, 3, 50, "?"), -1);
  EXPECT_EQ(KtGaugeAddZone(h + 1000, kGaugeZoneLow, 50, "?"), -1);
  EXPECT_EQ(KtGaugeDrawDial(holder.control, h, 0, 125, 25, kGaugeNumbersPlain), 1);
  EXPECT_EQ(KtGaugeSetValue(h, 90), 1);
  EXPECT_EQ(holder.control->Handle(), h);
  const KtGaugeDefinition* def = KtGaugeFind(h);
  ASSERT_NE(def, nullptr);
  EXPECT_EQ(def->zones.size(), 2u);
  EXPECT_DOUBLE_EQ(def->value, 90);
  EXPECT_DOUBLE_EQ(def->reading, 90);
  // A reading beyond the scale: the needle stops at the end, the readout says the reading.
  EXPECT_EQ(KtGaugeSetValue(h, 125, 140.0), 1);
  EXPECT_DOUBLE_EQ(def->value, 125);
  EXPECT_DOUBLE_EQ(def->reading, 140);
  EXPECT_EQ(KtGaugeSetValue(h, 90), 1);
  const QImage image = holder.control->grab().toImage();
  EXPECT_GT(ColouredShare(image), 0.02);  // the zones and the needle are drawn
  Screenshot(record->window, "gauge_both_zones");

  EXPECT_EQ(KtGaugeDestroy(h), 1);
  EXPECT_EQ(KtGaugeDestroy(h), 0);
  EXPECT_EQ(KtGaugeCount(), before);
  EXPECT_EQ(holder.control->Handle(), 0);
  EXPECT_EQ(KtGaugeSetValue(h, 1), -1);
}

TEST_F(GaugeTest, SpanZeroDrawsAnEmptyDial) {
  QWidget owner;
  Holder holder;
  auto record = KtCreateGaugeWindow("INCURRENTA", &owner, "Input Current", 0, 0, 200, 200, &holder);
  const KtGaugeHandle h = KtGaugeDefine("INCURRENTA", "Amps");
  KtGaugeAddZone(h, kGaugeZoneHigh, 0, "HIGH");
  KtGaugeAddZone(h, kGaugeZoneLow, 0, "LOW ALARM");
  EXPECT_EQ(KtGaugeDrawDial(holder.control, h, 0, 0, 10, kGaugeNumbersPlain), 1);
  KtGaugeSetValue(h, 0);
  const QImage empty = holder.control->grab().toImage();
  EXPECT_LT(ColouredShare(empty), 0.005);  // no zones, no needle
  // The blank dial says why; a dial with a span says nothing.
  EXPECT_EQ(holder.control->Notice(), "No scale range");
  EXPECT_EQ(KtGaugeDrawDial(holder.control, h, 0, 10, 1, kGaugeNumbersPlain), 1);
  EXPECT_EQ(holder.control->Notice(), "");
  EXPECT_EQ(KtGaugeDrawDial(holder.control, h, 0, 0, 10, kGaugeNumbersPlain), 1);
  Screenshot(record->window, "gauge_span_zero");
  KtGaugeDestroy(h);
}

TEST_F(GaugeTest, NonFiniteScalesAndZonesDrawSafely) {
  QWidget owner;
  Holder holder;
  auto record = KtCreateGaugeWindow("TEMP", &owner, "Temperature", 0, 0, 200, 200, &holder);
  ASSERT_TRUE(record);
  const KtGaugeHandle h = KtGaugeDefine("TEMP", "Celsius");
  ASSERT_EQ(KtGaugeDrawDial(holder.control, h, 0, 0, 10, kGaugeNumbersPlain), 1);
  KtGaugeSetValue(h, 50);  // a dial without a scale still reads the value out
  const QImage empty = holder.control->grab().toImage();
  // Limits such as a range file's infinities or NaNs draw the empty dial, whatever the zones.
  KtGaugeAddZone(h, kGaugeZoneHigh, 60, "HIGH");
  KtGaugeAddZone(h, kGaugeZoneLow, 10, "LOW ALARM");
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (auto [min, max] :
       {std::pair{0.0, inf}, std::pair{-inf, 100.0}, std::pair{nan, 100.0}, std::pair{-1e308, 1e308}}) {
    ASSERT_EQ(KtGaugeDrawDial(holder.control, h, min, max, 10, kGaugeNumbersPlain), 1);
    KtGaugeSetValue(h, 50);
    EXPECT_TRUE(holder.control->grab().toImage() == empty) << min << " .. " << max;
  }
  // A zone whose threshold is not a number marks nothing: the dial is the one without it.
  KtGaugeAddZone(h, kGaugeZoneLow, 0, "LOW ALARM");
  ASSERT_EQ(KtGaugeDrawDial(holder.control, h, 0, 100, 10, kGaugeNumbersPlain), 1);
  const QImage noLowZone = holder.control->grab().toImage();
  KtGaugeAddZone(h, kGaugeZoneLow, nan, "LOW ALARM");
  EXPECT_TRUE(holder.control->grab().toImage() == noLowZone);
  KtGaugeDestroy(h);
}

TEST_F(GaugeTest, ScaleAnglesLabelsAndReadout) {
  EXPECT_DOUBLE_EQ(KtGaugeWidget::AngleOf(0, 0, 100), 225);
  EXPECT_DOUBLE_EQ(KtGaugeWidget::AngleOf(100, 0, 100), -45);
  EXPECT_DOUBLE_EQ(KtGaugeWidget::AngleOf(50, 0, 100), 90);
  EXPECT_DOUBLE_EQ(KtGaugeWidget::AngleOf(-10, 0, 100), 225);  // needle stops at the ends
  EXPECT_DOUBLE_EQ(KtGaugeWidget::AngleOf(1000, 0, 100), -45);
  EXPECT_DOUBLE_EQ(KtGaugeWidget::AngleOf(5, 0, 0), 225);
  const std::tuple<double, int, const char*> labels[] = {
      {2000, kGaugeNumbersLarge, "2k"},   {1500, kGaugeNumbersLarge, "1.5k"},
      {420, kGaugeNumbersLarge, "420"},   {57.5, kGaugeNumbersDecimal, "57.5"},
      {60, kGaugeNumbersDecimal, "60"},   {40, kGaugeNumbersDegrees, "40°"},
      {62.5, kGaugeNumbersPlain, "62.5"}, {-20, kGaugeNumbersPlain, "-20"},
  };
  for (const auto& [v, style, text] : labels) {
    EXPECT_EQ(KtGaugeWidget::FormatNumber(v, style), QString::fromUtf8(text)) << v;
  }
  EXPECT_EQ(KtGaugeWidget::FormatValue(12.5), "12.5");
  EXPECT_EQ(KtGaugeWidget::FormatValue(33), "33");
}

TEST_F(GaugeTest, WindowsTakeTheLowestFreeNumberAndLoseItWhenClosed) {
  QWidget owner;
  auto a = KtCreateGaugeWindow("A", &owner, "A", 0, 0, 200, 200, nullptr);
  auto b = KtCreateGaugeWindow("B", &owner, "B", 0, 0, 200, 200, nullptr);
  auto c = KtCreateGaugeWindow("C", &owner, "C", 0, 0, 200, 200, nullptr);
  EXPECT_EQ(a->number, 1);
  EXPECT_EQ(b->number, 2);
  EXPECT_EQ(c->number, 3);
  b->window->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(b->number, 0);
  EXPECT_FALSE(b->window);
  auto d = KtCreateGaugeWindow("D", &owner, "D", 0, 0, 200, 200, nullptr);
  EXPECT_EQ(d->number, 2);
  EXPECT_EQ(KtCreateGaugeWindow("E", nullptr, "E", 0, 0, 200, 200, nullptr), nullptr);
  EXPECT_EQ(KtCreateGaugeControl(b.get()), nullptr);
}

}  // namespace
