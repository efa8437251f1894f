// The three waveform windows against a real VigilNT polling the simulated BCM UPS over a
// pseudo-terminal, in a network of the test's own: each window keeps asking for its wave, and
// the simulator's clean output sine reads below 1 % distortion.
#include <QPointer>

#include "dialogs/frame/trem_globals.h"
#include "dialogs/waveforms/dlg_current_output.h"
#include "dialogs/waveforms/dlg_voltage_input.h"
#include "dialogs/waveforms/dlg_voltage_output.h"
#include "tests/agent/e2e/agent_process.h"
#include "tests/dialogs/harness/trem_fixture.h"
#include "tests/support/simulated_ups.h"

TREM_HARNESS_PRIVATE_NETWORK();

namespace {

using trem_harness::TremTest;

class WaveformAgentTest : public TremTest {
 protected:
  QString ScreenshotTopic() const override { return QStringLiteral("graphs"); }
};

TEST_F(WaveformAgentTest, WindowsRefreshFromTheSimulatedBcmUps) {
  if (!trem_harness::HarnessInPrivateNetwork()) GTEST_SKIP() << "needs a network of its own";
  testing_support::SimulatedUps ups("bcm");
  ASSERT_TRUE(ups.ok()) << ups.error();
  AgentProcess vigil;
  ASSERT_TRUE(vigil.Start({"-b", "-d", ups.device()}));
  ASSERT_TRUE(AgentProcess::WaitFor([&] { return Contains(vigil.Stderr(), "Inside SERIAL thread"); }, 120000))
      << vigil.Stderr();
  ASSERT_TRUE(
      AgentProcess::WaitFor([&] { return Count(vigil.Stderr(), "NETWORK THREAD IS ALIVE") > 0; }, 30000))
      << vigil.Stderr();

  trem_harness::UdpAgent udp;
  std::string error;
  ASSERT_TRUE(udp.Open(error, "127.0.0.1")) << error;
  trem_harness::AgentLink real(udp);

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
  EXPECT_EQ(output->WaveSeries()->GetCount(), 64);
  EXPECT_EQ(current->WaveSeries()->GetCount(), 64);
  EXPECT_LT(output->Distortion(), 1.0);
  EXPECT_LT(current->Distortion(), 1.0);
  output->grab();
  EXPECT_TRUE(output->PaintedText().text.startsWith("Total Harmonic Distortion = 0."));
  Screenshot(output, "agent_output_voltage");
  Screenshot(input, "agent_input_voltage");
  EXPECT_EQ(boxes.Count(), 0);
}

}  // namespace
