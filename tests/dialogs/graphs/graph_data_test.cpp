// KtGraphData and the archive: capacity, order, and the framework's archive forms.
#include "dialogs/widgets/graph_data.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "dialogs/widgets/graph_bar.h"
#include "dialogs/widgets/graph_plot.h"

namespace {

std::vector<int> Values(const KtGraphData& d) {
  return d.ValuesNewestFirst();
}

TEST(GraphDataTest, CapacityDropsTheOldestAndKeepsTheNewestAtTheHead) {
  struct Case {
    int capacity;
    std::vector<int> added;
    std::vector<int> held;
  };
  for (const Case& c : std::vector<Case>{{3, {1, 2, 3, 4}, {4, 3, 2}},
                                         {0, {1, 2, 3, 4}, {4, 3, 2, 1}},
                                         {-1, {5, 6}, {6, 5}},
                                         {1, {7, 8, 9}, {9}}}) {
    KtGraphData d(QStringLiteral("s"), c.capacity);
    for (int v : c.added) d.AddPoint(v, 100 + v);
    EXPECT_EQ(Values(d), c.held) << "capacity " << c.capacity;
    EXPECT_EQ(d.Points().front().time, 100 + c.added.back());
  }
}

TEST(GraphDataTest, ArchiveWritesTheFrameworkFormsLittleEndian) {
  KtGraphData d(QStringLiteral("ab"), 3);
  d.AddPoint(1, 0x01020304);
  d.AddPoint(-2, 5);
  GraphArchive out;
  d.Serialize(out);
  const std::vector<uint8_t> expected = {2, 'a', 'b', 3, 0, 0, 0, 2, 0, 0xFE, 0xFF, 0xFF, 0xFF,
                                         5, 0,   0,   0, 1, 0, 0, 0, 4, 3,    2,    1};
  EXPECT_EQ(out.Bytes(), expected);

  // Long texts and big counts take their escaped forms.
  GraphArchive forms;
  forms.WriteString(QString(300, QChar('x')));
  forms.WriteCount(0x12345);
  ASSERT_GE(forms.Bytes().size(), 3u);
  EXPECT_EQ(forms.Bytes()[0], 0xFF);
  EXPECT_EQ(forms.Bytes()[1], 300 & 0xFF);
  EXPECT_EQ(forms.Bytes()[2], 300 >> 8);
  const std::vector<uint8_t> count(forms.Bytes().end() - 6, forms.Bytes().end());
  EXPECT_EQ(count, (std::vector<uint8_t>{0xFF, 0xFF, 0x45, 0x23, 0x01, 0x00}));
  GraphArchive back(forms.Bytes());
  EXPECT_EQ(back.ReadString(), QString(300, QChar('x')));
  EXPECT_EQ(back.ReadCount(), 0x12345u);
  EXPECT_FALSE(back.Failed());
}

TEST(GraphDataTest, GraphRoundTripKeepsFieldsFlagsAndSeries) {
  auto plot = std::make_unique<KtGraphBar>(QStringLiteral("Spectrum"), 31, 300, QStringLiteral("Harmonic"),
                                           QStringLiteral("Value"));
  plot->centred = 1;
  plot->legend = 1;
  plot->yTicks = 0;
  auto* a = new KtGraphData(QStringLiteral("first"), 32);
  for (int i = 0; i < 40; ++i) a->AddPoint(i * 3, 1000 + i);
  auto* b = new KtGraphData(QStringLiteral("second"), 0);
  b->AddPoint(-7, 9);
  plot->AddSeries(a);
  plot->AddSeries(b);

  GraphArchive out;
  out.WriteObject(plot.get());
  GraphArchive in(out.Bytes());
  std::unique_ptr<KtGraphObject> object(in.ReadObject());
  ASSERT_FALSE(in.Failed());
  EXPECT_EQ(in.Remaining(), 0u);
  auto* copy = dynamic_cast<KtGraphBar*>(object.get());
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->Title(), "Spectrum");
  EXPECT_EQ(copy->XRange(), 31);
  EXPECT_EQ(copy->YRange(), 300);
  EXPECT_EQ(copy->XTitle(), "Harmonic");
  EXPECT_EQ(copy->YTitle(), "Value");
  EXPECT_EQ(copy->centred, 1);
  EXPECT_EQ(copy->legend, 1);
  EXPECT_EQ(copy->yTicks, 0);
  EXPECT_EQ(copy->xNumericLabels, 1);
  ASSERT_EQ(copy->SeriesCount(), 2);
  EXPECT_EQ(copy->Series(0)->Name(), "first");
  EXPECT_EQ(copy->Series(0)->Capacity(), 32);
  EXPECT_EQ(Values(*copy->Series(0)), Values(*a));
  EXPECT_EQ(copy->Series(0)->Points().back().time, a->Points().back().time);
  EXPECT_EQ(Values(*copy->Series(1)), std::vector<int>{-7});
  // The second series names its class by index, not by name again.
  GraphArchive again;
  again.WriteObject(a);
  again.WriteObject(b);
  const auto& bytes = again.Bytes();
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], 0xFF);
}

TEST(GraphDataTest, MalformedArchivesFailWithoutCrashing) {
  auto plot = std::make_unique<KtGraphPlot>(QStringLiteral("t"), 63, 600, QString(), QString(), 1);
  auto* s = new KtGraphData(QStringLiteral("s"), 64);
  for (int i = 0; i < 64; ++i) s->AddPoint(i, i);
  plot->AddSeries(s);
  GraphArchive out;
  out.WriteObject(plot.get());
  const std::vector<uint8_t> good = out.Bytes();
  // Every truncation, an unknown class name and a huge point count.
  for (size_t cut = 0; cut < good.size(); cut += 7) {
    GraphArchive in(std::vector<uint8_t>(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut)));
    std::unique_ptr<KtGraphObject> o(in.ReadObject());
    EXPECT_TRUE(in.Failed() || cut == 0) << cut;
    EXPECT_EQ(o, nullptr) << cut;  // no half-read graph
  }
  std::vector<uint8_t> unknown = good;
  unknown[6] = 'X';  // "KtGraphPlot" -> "XtGraphPlot"
  GraphArchive u(unknown);
  EXPECT_EQ(u.ReadObject(), nullptr);
  EXPECT_TRUE(u.Failed());
  // Graphs nested in graphs far deeper than any real archive: refused, not recursed into.
  std::vector<uint8_t> nested = {0xFF, 0xFF, 1, 0, 11, 0};
  const std::string base = "KtGraphBase";
  nested.insert(nested.end(), base.begin(), base.end());
  for (int level = 0; level < 200000; ++level) {
    if (level > 0) nested.insert(nested.end(), {0x01, 0x80});  // the class by its index
    nested.insert(nested.end(), {0, 100, 0, 0, 0, 200, 0, 0, 0, 0, 0});
    nested.insert(nested.end(), 32, 0);   // the eight flags
    nested.insert(nested.end(), {1, 0});  // one series
  }
  GraphArchive deep(nested);
  EXPECT_EQ(std::unique_ptr<KtGraphObject>(deep.ReadObject()), nullptr);
  EXPECT_TRUE(deep.Failed());
  GraphArchive huge(std::vector<uint8_t>{0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F});
  KtGraphData d;
  d.Serialize(huge);
  EXPECT_TRUE(huge.Failed());
  EXPECT_EQ(d.GetCount(), 0);
}

}  // namespace
