// The waveform windows and their launcher against a real VigilNT polling a simulated UPS over
// a pseudo-terminal, in a network of the test's own. On the BCM UPS each window keeps asking
// for its wave and draws a true picture of it: the simulator's 230 V output and input and its
// 2.5 A load (its default readings) peak at RMS x sqrt(2), the bars read against the printed
// distortion, and nothing is drawn outside its frame. The Smart-UPS has no waves: the agent
// says so at once, the launcher offers nothing and a window draws no figure.
#include <QCheckBox>
#include <QPointer>
#include <QPushButton>
#include <cmath>
#include <complex>

#include "dialogs/frame/trem_globals.h"
#include "dialogs/waveforms/dlg_current_output.h"
#include "dialogs/waveforms/dlg_voltage_input.h"
#include "dialogs/waveforms/dlg_voltage_output.h"
#include "dialogs/waveforms/osc_dialog.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/dialogs/harness/trem_fixture.h"
#include "tests/support/simulated_ups.h"

TREM_HARNESS_PRIVATE_NETWORK();

namespace {

using trem_harness::TremTest;

class WaveformAgentTest : public TremTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("graphs"); }

  // A VigilNT on the simulated UPS of `mode`, serving UDP on 127.0.0.1.
  bool StartAgent(testing_support::SimulatedUps& ups, AgentProcess& vigil) {
    EXPECT_TRUE(ups.ok()) << ups.error();
    if (!ups.ok() || !vigil.Start({"-b", "-d", ups.device()})) return false;
    const bool serial =
        AgentProcess::WaitFor([&] { return Contains(vigil.Stderr(), "Inside SERIAL thread"); }, 120000);
    const bool network =
        AgentProcess::WaitFor([&] { return Count(vigil.Stderr(), "NETWORK THREAD IS ALIVE") > 0; }, 30000);
    EXPECT_TRUE(serial && network) << vigil.Stderr();
    return serial && network;
  }

  // The picture a window drew last, checked against the wave it claims to show.
  static void ExpectTruePicture(CDlgWaveBase* d, double rms, const char* what) {
    SCOPED_TRACE(what);
    d->grab();
    const std::vector<int> wave = d->WaveSeries()->ValuesNewestFirst();
    ASSERT_EQ(wave.size(), 64u);
    int peak = 0;
    for (int v : wave) peak = std::max(peak, std::abs(v));
    EXPECT_NEAR(peak, rms * std::sqrt(2.0), rms * std::sqrt(2.0) * 0.05);

    // Every point of the curve and every bar inside its plot.
    const KtGraphPlot* plot = d->WavePlot();
    const QRect frame = plot->PlotRect().ToQRect().adjusted(-1, -1, 1, 1);
    for (const QPoint& p : GraphPolyline(plot->PlotRect(), plot->XRange(), plot->YRange(), true, wave)) {
      EXPECT_TRUE(frame.contains(p)) << p.x() << "," << p.y();
    }
    const KtGraphBar* chart = d->HarmonicChart();
    const QRect barFrame = chart->PlotRect().ToQRect().adjusted(-1, -1, 1, 1);
    for (const GraphBar& bar : chart->Bars())
      EXPECT_TRUE(barFrame.contains(bar.rect.ToQRect())) << bar.rect.top;

    // The bars (harmonic k at place k, in the wave's unit) against the printed distortion:
    // the fundamental is the drawn wave's own.
    std::vector<int> bars = d->HarmonicSeries()->ValuesNewestFirst();
    std::reverse(bars.begin(), bars.end());
    ASSERT_EQ(bars.size(), 31u);
    std::complex<double> bin1;
    for (size_t n = 0; n < wave.size(); ++n)
      bin1 += std::polar(static_cast<double>(wave[63 - n]), -2 * M_PI * n / 64);
    const double fundamental = 2.0 * std::abs(bin1) / 64;
    if (d->WaveformId() == 3) {
      EXPECT_NEAR(bars[0], fundamental, fundamental * 0.03);
    }
    double squares = 0;
    for (size_t k = 1; k < bars.size(); ++k) squares += static_cast<double>(bars[k]) * bars[k];
    ASSERT_TRUE(d->HasDistortion());
    const double printed = d->Distortion();
    EXPECT_GT(printed, 1.0);  // the simulated waves carry a few per cent of harmonics
    EXPECT_NEAR(100.0 * std::sqrt(squares) / fundamental, printed, printed * 0.1);
    EXPECT_EQ(d->PaintedText().text, LongDistortionText(printed));
  }
};

TEST_F(WaveformAgentTest, BcmWindowsRefreshAndShowTheWavesTruly) {
  if (!trem_harness::HarnessInPrivateNetwork()) GTEST_SKIP() << "needs a network of its own";
  testing_support::SimulatedUps ups("bcm");
  AgentProcess vigil;
  ASSERT_TRUE(StartAgent(ups, vigil));

  trem_harness::UdpAgent udp;
  std::string error;
  ASSERT_TRUE(udp.Open(error, "127.0.0.1")) << error;
  trem_harness::AgentLink real(udp);

  QPointer<COscDialog> osc = new COscDialog(nullptr, "localhost");
  QPointer<CDlgVoltageInput> input = new CDlgVoltageInput(nullptr, "localhost");
  QPointer<CDlgVoltageOutput> output = new CDlgVoltageOutput(nullptr, "localhost");
  QPointer<CDlgCurrentOutput> current = new CDlgCurrentOutput(nullptr, "localhost");
  const size_t logFrom = ups.LogCount();
  auto waveRequests = [&](int branch) {
    int n = 0;
    for (const auto& m : real.Sent()) {
      if (m.type == SCP_GET && m.key.size() >= 2 && m.key[0] == 9 && m.key[1] == branch) ++n;
    }
    return n;
  };
  ASSERT_TRUE(real.PumpUntil(
      [&] {
        return input->WaveUpdates() >= 1 && output->WaveUpdates() >= 1 && current->WaveUpdates() >= 1 &&
               waveRequests(1) >= 3 && waveRequests(2) >= 3 && waveRequests(3) >= 3;
      },
      90000))
      << "requests " << waveRequests(1) << " " << waveRequests(2) << " " << waveRequests(3) << "\n"
      << vigil.Stderr();
  // The agent fetched the waves from the UPS.
  EXPECT_TRUE(ups.WaitForLog("waveform", logFrom, 5000));
  EXPECT_FALSE(input->IsBusy());
  ExpectTruePicture(input, 230.0, "input voltage");
  ExpectTruePicture(output, 230.0, "output voltage");
  ExpectTruePicture(current, 2500.0, "output current");
  Screenshot(output, "agent_output_voltage");
  Screenshot(input, "agent_input_voltage");
  Screenshot(current, "agent_output_current");

  // The UPS has waves: the launcher keeps offering them.
  EXPECT_TRUE(osc->WavesOffered());
  EXPECT_TRUE(osc->Control<QPushButton>(COscDialog::IDC_GRAPH_WAVEFORM)->isEnabled());
  EXPECT_EQ(boxes.Count(), 0);
}

TEST_F(WaveformAgentTest, SmartUpsHasNoWavesAndSaysSoAtOnce) {
  if (!trem_harness::HarnessInPrivateNetwork()) GTEST_SKIP() << "needs a network of its own";
  testing_support::SimulatedUps ups("apc");
  AgentProcess vigil;
  ASSERT_TRUE(StartAgent(ups, vigil));

  trem_harness::UdpAgent udp;
  std::string error;
  ASSERT_TRUE(udp.Open(error, "127.0.0.1")) << error;
  trem_harness::AgentLink real(udp);

  QPointer<COscDialog> osc = new COscDialog(nullptr, "localhost");
  QPointer<CDlgVoltageOutput> output = new CDlgVoltageOutput(nullptr, "localhost");
  QPointer<CDlgCurrentOutput> current = new CDlgCurrentOutput(nullptr, "localhost");
  // One answer each, well inside the dialogs' reply deadline.
  ASSERT_TRUE(real.PumpUntil(
      [&] { return !osc->WavesOffered() && output->NotAvailable() && current->NotAvailable(); }, 15000))
      << vigil.Stderr();
  for (int id : {COscDialog::IDC_INPUT_VOLTAGE, COscDialog::IDC_OUTPUT_VOLTAGE}) {
    EXPECT_FALSE(osc->Control<QCheckBox>(id)->isEnabled()) << id;
  }
  EXPECT_FALSE(osc->Control<QPushButton>(COscDialog::IDC_GRAPH_WAVEFORM)->isEnabled());
  for (CDlgWaveBase* d : {static_cast<CDlgWaveBase*>(output), static_cast<CDlgWaveBase*>(current)}) {
    EXPECT_FALSE(d->IsBusy());
    EXPECT_FALSE(d->HasDistortion());
    EXPECT_EQ(d->WaveSeries()->GetCount(), 0);
    d->grab();
    EXPECT_EQ(d->PaintedText().text, "Not Available");
  }
  // Nothing more is asked, and the agent's serial link did not count the waves as failures.
  const size_t sent = real.Sent().size();
  real.PumpFor(3000);
  int later = 0;
  for (size_t i = sent; i < real.Sent().size(); ++i) later += real.Sent()[i].key[0] == 9 ? 1 : 0;
  EXPECT_EQ(later, 0);
  EXPECT_FALSE(Contains(vigil.Stderr(), "Error updating Waveform"));
  Screenshot(osc, "agent_smart_ups_oscilloscope");
  Screenshot(output, "agent_smart_ups_output_voltage");
  EXPECT_EQ(boxes.Count(), 0);
}

}  // namespace
