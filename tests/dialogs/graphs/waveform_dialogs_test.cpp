// The waveform windows and the oscilloscope launcher against the in-process agent.
#include <QCheckBox>
#include <QFontMetrics>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <functional>

#include "core/scp/waveform_block.h"
#include "dialogs/frame/trem_globals.h"
#include "dialogs/waveforms/dlg_current_output.h"
#include "dialogs/waveforms/dlg_voltage_input.h"
#include "dialogs/waveforms/dlg_voltage_output.h"
#include "dialogs/waveforms/osc_dialog.h"
#include "tests/dialogs/harness/trem_fixture.h"

namespace {

using trem_harness::TremTest;

// 64 raw samples: a fundamental and a third harmonic around a centre.
std::vector<uint32_t> Wave(double centre, double fundamental, double third) {
  std::vector<uint32_t> raw;
  for (int k = 0; k < 64; ++k) {
    const double a = 2 * M_PI * k / 64;
    raw.push_back(
        static_cast<uint32_t>(std::lround(centre + fundamental * std::sin(a) + third * std::sin(3 * a))));
  }
  return raw;
}

// The input wave arrives rectified: its magnitude, with low points near the zero crossings.
std::vector<uint32_t> RectifiedWave(double peak) {
  std::vector<uint32_t> raw;
  for (int k = 0; k < 64; ++k)
    raw.push_back(static_cast<uint32_t>(std::lround(std::fabs(peak * std::sin(2 * M_PI * (k + 0.5) / 64)))));
  return raw;
}

class WaveformDialogsTest : public TremTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("graphs"); }

  void SetWave(int branch, const std::vector<uint32_t>& raw) {
    {
      auto lock = agent.scp().Lock();
      KT_Waveform* w = agent.scp().waveforms.Wave(branch);
      w->SetSampleCount(static_cast<uint16_t>(raw.size()));
      w->SetSamples(raw);
    }
    agent.MarkAllFresh();
  }
  // GETs of block 9 the agent received for a branch.
  int WaveRequests(int branch) const {
    int n = 0;
    for (const auto& m : agent.Received()) {
      if (m.type == SCP_GET && m.key.size() >= 2 && m.key[0] == 9 && m.key[1] == branch) ++n;
    }
    return n;
  }
};

TEST_F(WaveformDialogsTest, EachReplyDrawsTheWaveAndAsksForTheNext) {
  struct Case {
    int branch;
    int firstHarmonic;
    size_t bars;
    std::function<KTDialog*()> open;
  };
  SetWave(1, RectifiedWave(170));
  SetWave(2, Wave(125, 100, 4));
  SetWave(3, Wave(125, 40, 2));
  for (const Case& c :
       std::vector<Case>{{1, 2, 31, [] { return new CDlgVoltageInput(nullptr, "localhost"); }},
                         {2, 2, 31, [] { return new CDlgVoltageOutput(nullptr, "localhost"); }},
                         {3, 1, 31, [] { return new CDlgCurrentOutput(nullptr, "localhost"); }}}) {
    agent.ClearReceived();
    QPointer<CDlgWaveBase> d = static_cast<CDlgWaveBase*>(c.open());
    EXPECT_TRUE(d->IsBusy());
    ASSERT_TRUE(link.PumpUntil([&] { return WaveRequests(c.branch) >= 4; })) << c.branch;
    EXPECT_FALSE(d->IsBusy());
    // Only the first reply changed the picture; later identical waves still ask again.
    EXPECT_EQ(d->WaveUpdates(), 1);
    EXPECT_EQ(d->WaveSeries()->GetCount(), 64);
    // Harmonic 1 keeps its (empty) place in the voltage windows: bar k is harmonic k.
    EXPECT_EQ(d->HarmonicSeries()->GetCount(), static_cast<int>(c.bars));
    if (c.firstHarmonic == 2) {
      EXPECT_EQ(d->HarmonicSeries()->ValuesNewestFirst().back(), 0);
    }
    EXPECT_EQ(d->WavePlot()->centred, 1);
    EXPECT_EQ(d->WavePlot()->YRange(), c.branch == 3 ? 100 : 600);  // the waves fit the window's own scale
    const std::vector<int> bars = d->HarmonicSeries()->ValuesNewestFirst();
    EXPECT_LE(*std::max_element(bars.begin(), bars.end()), d->HarmonicChart()->YRange());
    if (c.branch == 2) {
      // Converted less 125: the wave swings about 0; a 4 % third harmonic.
      const std::vector<int> v = d->WaveSeries()->ValuesNewestFirst();
      const int top = *std::max_element(v.begin(), v.end());
      EXPECT_NEAR(top, 97, 3);
      EXPECT_NEAR(*std::min_element(v.begin(), v.end()), -top, 1);
      EXPECT_NEAR(d->Distortion(), 4.0, 0.2);
    }
    const char* names[] = {"", "input", "output_voltage", "output_current"};
    d->resize(520, 440);
    Screenshot(d, QStringLiteral("waveform_%1").arg(names[c.branch]));
    d->DestroyWindow();
    link.PumpFor(20);
  }
}

TEST_F(WaveformDialogsTest, IdenticalWavesTakeNothingNewAndHarmonicsAreCapped) {
  // Current window: harmonics 1..31 as amplitudes in the wave's unit, capped at 32000.
  SetWave(3, Wave(100000, 40000, 34000));
  QPointer<CDlgCurrentOutput> d = new CDlgCurrentOutput(nullptr, "localhost");
  ASSERT_TRUE(link.PumpUntil([&] { return d->WaveUpdates() == 1; }));
  const std::vector<int> bars = d->HarmonicSeries()->ValuesNewestFirst();
  ASSERT_EQ(bars.size(), 31u);
  EXPECT_EQ(bars.back(), 32000);            // harmonic 1 (40000)
  EXPECT_EQ(bars[bars.size() - 3], 32000);  // harmonic 3 (34000)
  // The wave plot grew to hold the wave's peak of about 74000.
  EXPECT_GE(d->WavePlot()->YRange(), 2 * 74000);
  const double distortion = d->Distortion();

  // The same wave again: nothing new is taken, and the next one is still asked for.
  const int requests = WaveRequests(3);
  ASSERT_TRUE(link.PumpUntil([&] { return WaveRequests(3) >= requests + 3; }));
  EXPECT_EQ(d->WaveUpdates(), 1);
  EXPECT_EQ(d->Distortion(), distortion);

  SetWave(3, Wave(2000, 1500, 0));
  ASSERT_TRUE(link.PumpUntil([&] { return d->WaveUpdates() == 2; }));
  EXPECT_LT(d->Distortion(), 0.5);
  EXPECT_LT(d->HarmonicSeries()->ValuesNewestFirst()[28], 100);  // harmonic 3 gone
  EXPECT_TRUE(d->HasDistortion());

  // A flat wave has no fundamental: its distortion cannot be computed, and neither the
  // block's "not computed" marker (255) nor the last wave's figure is shown for it.
  SetWave(3, std::vector<uint32_t>(64, 125));
  ASSERT_TRUE(link.PumpUntil([&] { return d->WaveUpdates() == 3; }));
  EXPECT_FALSE(d->HasDistortion());
  d->grab();
  EXPECT_TRUE(d->PaintedText().text.isEmpty());
}

TEST_F(WaveformDialogsTest, DistortionTextShrinksToFitAndLayoutFollowsTheWaveformId) {
  const auto measure = [](const QString& text, int height) {
    return QFontMetrics(GraphFont(height)).horizontalAdvance(text);
  };
  // Wide: the long text at half the rectangle's height.
  DistortionText wide = FitDistortionText(QRect(0, 0, 800, 40), 2.345, measure);
  EXPECT_TRUE(wide.fitted);
  EXPECT_EQ(wide.text, "Total Harmonic Distortion = 2.3 %");
  EXPECT_EQ(wide.pixelHeight, 20);
  // Narrow: the short form in a smaller font.
  DistortionText narrow = FitDistortionText(QRect(0, 0, 150, 40), 2.345, measure);
  EXPECT_TRUE(narrow.fitted);
  EXPECT_EQ(narrow.text, "T.H.D. = 2.3 %");
  EXPECT_LT(narrow.pixelHeight, 20);
  EXPECT_LT(measure(narrow.text, narrow.pixelHeight), 135);
  // Nothing fits within 20 tries: the short text, unfitted (drawn in the window's font).
  DistortionText none = FitDistortionText(QRect(0, 0, 10, 200), 2.345, measure);
  EXPECT_FALSE(none.fitted);
  EXPECT_EQ(none.text, "T.H.D. = 2.3 %");
  // Height 1 always fits.
  EXPECT_TRUE(FitDistortionText(QRect(0, 0, 1, 4), 1, [](const QString&, int) { return 1000; }).fitted);

  const QRect client(0, 0, 400, 200);
  const WaveLayout parts = ComputeWaveLayout(client, 2);
  EXPECT_EQ(parts.wave, QRect(0, 0, 400, 90));
  EXPECT_EQ(parts.bars, QRect(0, 90, 400, 90));
  EXPECT_EQ(parts.text, QRect(0, 180, 400, 20));
  const WaveLayout whole = ComputeWaveLayout(client, 4);
  EXPECT_TRUE(whole.full);
  EXPECT_EQ(whole.wave, client);

  // Waveform id 4: the wave plot takes the whole client area; no bars, no text.
  QPointer<CDlgWaveBase> whole4 =
      new CDlgWaveBase(nullptr, "localhost", 1686, 4, 600, "Time Samples", "Voltage (V)");
  whole4->Create(IDD_WAVEFORM);
  whole4->resize(400, 300);
  whole4->grab();
  EXPECT_EQ(whole4->WavePlot()->PlotRect(), GraphPlotRect(GraphRect::FromQRect(whole4->rect()), false));
  EXPECT_TRUE(whole4->PaintedText().text.isEmpty());
  whole4->DestroyWindow();

  // A narrow window paints the short form.
  SetWave(2, Wave(125, 100, 3));
  QPointer<CDlgVoltageOutput> d = new CDlgVoltageOutput(nullptr, "localhost");
  ASSERT_TRUE(link.PumpUntil([&] { return d->WaveUpdates() == 1; }));
  d->setMinimumSize(0, 0);
  d->resize(170, 300);
  d->grab();
  EXPECT_TRUE(d->PaintedText().text.startsWith("T.H.D. = "));
  Screenshot(d, "waveform_narrow");
}

TEST_F(WaveformDialogsTest, LauncherPlacesBothWindowsSideBySideAndRecreatesClosedOnes) {
  SetWave(1, RectifiedWave(170));
  SetWave(2, Wave(125, 100, 4));
  // A main window whose outer rectangle spans x 100 to 900.
  QWidget main;
  main.setGeometry(100, 50, 800, 500);
  main.show();
  const QRect f0 = main.frameGeometry(), g0 = main.geometry();
  main.setGeometry(QRect(100, 50, 800, 500)
                       .adjusted(g0.left() - f0.left(), g0.top() - f0.top(), g0.right() - f0.right(),
                                 g0.bottom() - f0.bottom()));
  ASSERT_EQ(main.frameGeometry().left(), 100);
  ASSERT_EQ(main.frameGeometry().right(), 899);
  QPointer<COscDialog> osc = new COscDialog(&main, "localhost");
  EXPECT_EQ(osc->windowTitle(), "Power Waveforms (localhost)");
  EXPECT_FALSE(osc->IsBusy());
  Screenshot(osc, "oscilloscope");

  // Nothing checked: nothing opens.
  QTest::mouseClick(osc->Control<QPushButton>(COscDialog::IDC_GRAPH_WAVEFORM), Qt::LeftButton);
  EXPECT_EQ(pDlgVoltageInput.get(), nullptr);
  EXPECT_EQ(pDlgVoltageOutput.get(), nullptr);

  osc->Control<QCheckBox>(COscDialog::IDC_INPUT_VOLTAGE)->setChecked(true);
  osc->Control<QCheckBox>(COscDialog::IDC_OUTPUT_VOLTAGE)->setChecked(true);
  QTest::mouseClick(osc->Control<QPushButton>(COscDialog::IDC_GRAPH_WAVEFORM), Qt::LeftButton);
  ASSERT_NE(pDlgVoltageInput.get(), nullptr);
  ASSERT_NE(pDlgVoltageOutput.get(), nullptr);
  EXPECT_EQ(pDlgVoltageInput->frameGeometry(), QRect(100, 50, 400, 500));
  EXPECT_EQ(pDlgVoltageOutput->frameGeometry(), QRect(400, 50, 400, 500));

  // A closed window is recreated; an open one is kept.
  QPointer<CDlgVoltageOutput> keep = pDlgVoltageOutput.get();
  pDlgVoltageInput->DestroyWindow();
  EXPECT_EQ(pDlgVoltageInput.get(), nullptr);
  QTest::mouseClick(osc->Control<QPushButton>(COscDialog::IDC_GRAPH_WAVEFORM), Qt::LeftButton);
  ASSERT_NE(pDlgVoltageInput.get(), nullptr);
  EXPECT_TRUE(pDlgVoltageInput->WindowExists());
  EXPECT_EQ(pDlgVoltageOutput.get(), keep.data());
  ASSERT_TRUE(
      link.PumpUntil([&] { return pDlgVoltageInput->WaveUpdates() == 1 && keep->WaveUpdates() == 1; }));

  Screenshot(pDlgVoltageInput.get(), "waveform_side_by_side_input");

  // F1 opens the launcher's topic.
  QTest::keyClick(osc, Qt::Key_F1);
  ASSERT_GE(help.Count(), 1);
  EXPECT_EQ(help.Requests().back().context, COscDialog::kHelpContext);
}

}  // namespace
