// Printing a dialog's text file through the print dialog layer onto a PDF printer.
#include "dialogs/frame/print.h"

#include <QRegularExpression>

#include "dialogs/frame/kt_dialog.h"
#include "tests/dialogs/frame/probe_dialog.h"
#include "tests/dialogs/harness/trem_fixture.h"

namespace {

using trem_harness::TremTest;

struct Drawn {
  int page, y;
  QString text;
};

class PrintTest : public TremTest {
 protected:
  void SetUp() override {
    TremTest::SetUp();
    SetPrintLineObserver([this](int page, int y, const QString& text) { drawn.push_back({page, y, text}); });
  }
  int PdfPages() {
    const QString pdf = QString::fromStdString(testing_support::ReadFileText(File("print.pdf")));
    return static_cast<int>(pdf.count(QRegularExpression(QStringLiteral("/Type\\s*/Page[^s]"))));
  }
  std::vector<Drawn> drawn;
};

TEST_F(PrintTest, EmptyFilePrintsOneEmptyPage) {
  testing_support::WriteFileText(File("empty.txt"), "");
  ProbeDialog* d = new ProbeDialog(0);
  d->SetPrintFile(QString::fromStdString(File("empty.txt")));
  EXPECT_EQ(d->PrintTextFile(), 1);
  EXPECT_TRUE(drawn.empty());
  EXPECT_EQ(PdfPages(), 1);
  EXPECT_EQ(boxes.Count(), 0);
}

TEST_F(PrintTest, LinesLoseTheirEndsAndTheLastLineIsWhole) {
  const std::string longLine(300, 'x');
  testing_support::WriteFileText(File("report.txt"),
                                 "first\r\nsecond\tcol\n\n" + longLine + "\nlast without end");
  EXPECT_EQ(PrintTextFile(nullptr, QString::fromStdString(File("report.txt"))), 1);
  ASSERT_EQ(drawn.size(), 6u);
  EXPECT_EQ(drawn[0].text, "first");
  EXPECT_EQ(drawn[1].text, "second\tcol");
  EXPECT_EQ(drawn[2].text, "");
  EXPECT_EQ(drawn[3].text.size(), kPrintLineMax);
  EXPECT_EQ(drawn[4].text.size(), 300 - kPrintLineMax);
  EXPECT_EQ(drawn[5].text, "last without end");
  EXPECT_EQ(drawn[0].y, 0);
  EXPECT_GT(drawn[1].y, drawn[0].y);
}

TEST_F(PrintTest, FullPagesGoOnToTheNext) {
  std::string text;
  for (int i = 0; i < 200; ++i) text += "line " + std::to_string(i) + "\n";
  testing_support::WriteFileText(File("long.txt"), text);
  EXPECT_EQ(PrintTextFile(nullptr, QString::fromStdString(File("long.txt"))), 1);
  ASSERT_EQ(drawn.size(), 200u);
  const int pages = drawn.back().page;
  EXPECT_GT(pages, 1);
  EXPECT_EQ(PdfPages(), pages);
  for (size_t i = 1; i < drawn.size(); ++i) {
    if (drawn[i].page != drawn[i - 1].page) {
      EXPECT_EQ(drawn[i].y, 0);
    }
  }
}

TEST_F(PrintTest, CancelPrintsNothingAndFailuresSayHow) {
  testing_support::WriteFileText(File("r.txt"), "x\n");
  print.SetAccept(false);
  EXPECT_EQ(PrintTextFile(nullptr, QString::fromStdString(File("r.txt"))), 0);
  EXPECT_EQ(boxes.Count(), 0);

  print.SetAccept(true);
  EXPECT_EQ(PrintTextFile(nullptr, QString::fromStdString(File("missing.txt"))), -1);
  print.SetPath(QString::fromStdString(File("no/such/dir/out.pdf")));
  EXPECT_EQ(PrintTextFile(nullptr, QString::fromStdString(File("r.txt"))), -1);
  ASSERT_EQ(boxes.Count(), 2);
  for (const auto& box : boxes.Boxes()) {
    EXPECT_EQ(box.text, "Unable to complete the print job.");
    EXPECT_EQ(box.caption, "Tremona");  // the application's name
    EXPECT_EQ(box.flags, MB_OK | MB_ICONEXCLAMATION);
  }
}

}  // namespace
