#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "core/scp/scp_frame.h"
#include "core/scp/waveform_block.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testing_support::ScopedManualClock;
using testing_support::TempDir;
using testing_support::TraceCapture;

constexpr double kPi = 3.14159265358979323846;

// Magnitudes of harmonics 0..n/2-1 by the plain definition of the discrete Fourier transform.
std::vector<double> DirectSpectrum(const std::vector<double>& x) {
  const size_t n = x.size();
  std::vector<double> out(n / 2);
  for (size_t k = 0; k < n / 2; ++k) {
    std::complex<double> sum;
    for (size_t j = 0; j < n; ++j) sum += x[j] * std::polar(1.0, -2.0 * kPi * static_cast<double>(j * k) / n);
    out[k] = std::abs(sum);
  }
  return out;
}

double DirectThd(const std::vector<double>& x) {
  const std::vector<double> h = DirectSpectrum(x);
  double sum = 0;
  for (size_t k = 2; k <= 31 && k < h.size(); ++k) sum += h[k] * h[k];
  return 100.0 * std::sqrt(sum) / h[1];
}

// An output wave (centred on 125) from signed values.
KT_Waveform OutputWave(const std::vector<double>& values) {
  KT_Waveform w;
  w.SetSampleCount(static_cast<uint16_t>(values.size()));
  std::vector<uint32_t> raw;
  for (double v : values) raw.push_back(static_cast<uint32_t>(125 + static_cast<int>(std::lround(v))));
  EXPECT_EQ(w.SetSamples(raw), 1);
  return w;
}

TEST(Waveform, TransformMatchesTheDefinition) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> dist(-100, 100);
  std::vector<std::complex<double>> data(64);
  for (auto& v : data) v = {dist(rng), dist(rng)};
  std::vector<std::complex<double>> fft = data;
  KT_Waveform::Transform(fft, +1);
  for (size_t k = 0; k < 64; ++k) {
    std::complex<double> sum;
    for (size_t j = 0; j < 64; ++j) sum += data[j] * std::polar(1.0, 2.0 * kPi * static_cast<double>(j * k) / 64);
    EXPECT_NEAR(fft[k].real(), sum.real(), 1e-7);
    EXPECT_NEAR(fft[k].imag(), sum.imag(), 1e-7);
  }
  // Forward then inverse gives n times the input.
  KT_Waveform::Transform(fft, -1);
  for (size_t j = 0; j < 64; ++j) EXPECT_NEAR(fft[j].real() / 64, data[j].real(), 1e-9);
}

TEST(Waveform, SineHasItsFundamentalAndAlmostNoDistortion) {
  std::vector<double> sine(64);
  for (size_t i = 0; i < 64; ++i) sine[i] = 100 * std::sin(2 * kPi * static_cast<double>(i) / 64);
  KT_Waveform w = OutputWave(sine);
  ASSERT_EQ(w.Convert(0, 0), 1);
  std::vector<float> h;
  ASSERT_EQ(w.GetHarmonics(h), 1);
  ASSERT_EQ(h.size(), 32u);
  EXPECT_NEAR(h[1], 32 * 100, 5.0);  // 32 times the peak value
  ASSERT_EQ(w.ComputeThd(), 1);
  EXPECT_LT(w.GetThd(), 1.0);
  std::vector<double> rounded;
  for (double v : sine) rounded.push_back(static_cast<double>(std::lround(v)));
  EXPECT_NEAR(w.GetThd(), DirectThd(rounded), 1e-3);
}

TEST(Waveform, SquareWaveDistortionOverHarmonicsTwoToThirtyOne) {
  std::vector<double> square(64, 100.0);
  for (size_t i = 32; i < 64; ++i) square[i] = -100.0;
  KT_Waveform w = OutputWave(square);
  ASSERT_EQ(w.Convert(0, 0), 1);
  ASSERT_EQ(w.ComputeThd(), 1);
  EXPECT_NEAR(w.GetThd(), DirectThd(square), 1e-3);
  EXPECT_NEAR(w.GetThd(), 48.2, 0.05);
}

TEST(Waveform, OutputWaveAtCentreConvertsToZeros) {
  KT_Waveform w = OutputWave(std::vector<double>(64, 0.0));
  ASSERT_EQ(w.Convert(1, 0), 1);
  std::vector<int32_t> c;
  ASSERT_EQ(w.GetConverted(c), 1);
  EXPECT_EQ(c, std::vector<int32_t>(64, 0));
  // A fundamental of 0 gives no distortion figure rather than a division by zero.
  EXPECT_EQ(w.ComputeThd(), -1);
  EXPECT_EQ(w.GetThd(), KT_Waveform::kNoThd);
}

TEST(Waveform, InputWaveWithoutLowPointsKeepsTheRawSamples) {
  KT_Waveform w;
  w.SetSampleCount(64);
  std::vector<uint32_t> raw(64);
  for (size_t i = 0; i < 64; ++i) raw[i] = 100 + static_cast<uint32_t>(i % 7);
  ASSERT_EQ(w.SetSamples(raw), 1);
  TraceCapture trace;
  EXPECT_EQ(w.Convert(1, 1), 0);
  std::vector<int32_t> c;
  ASSERT_EQ(w.GetConverted(c), 1);
  EXPECT_EQ(c, std::vector<int32_t>(raw.begin(), raw.end()));
  std::vector<float> h;
  EXPECT_EQ(w.GetHarmonics(h), -1);
  EXPECT_TRUE(trace.Contains("input[63] = 64\n"));
}

TEST(Waveform, RectifiedInputWaveIsUnfoldedAndCorrected) {
  // Rectified sine: zero crossings at samples 0 and 32.
  KT_Waveform w;
  w.SetSampleCount(64);
  std::vector<uint32_t> raw(64);
  for (size_t i = 0; i < 64; ++i) raw[i] = static_cast<uint32_t>(std::lround(std::fabs(300 * std::sin(2 * kPi * i / 64))));
  ASSERT_EQ(w.SetSamples(raw), 1);
  TraceCapture trace;
  ASSERT_EQ(w.Convert(0, 1), 1);
  EXPECT_TRUE(trace.Contains("low input 0 = 33 = "));
  std::vector<int32_t> c;
  ASSERT_EQ(w.GetConverted(c), 1);
  // One low point: the half cycle 33..61 is negated and sample 62 comes first.
  EXPECT_EQ(c[0], static_cast<int32_t>(raw[62]));
  EXPECT_EQ(c[2], static_cast<int32_t>(raw[0]));
  EXPECT_EQ(c[2 + 33], -static_cast<int32_t>(raw[33]));
  EXPECT_EQ(c[2 + 31], static_cast<int32_t>(raw[31]));

  std::vector<float> plain;
  ASSERT_EQ(w.GetHarmonics(plain), 1);
  ASSERT_EQ(w.Convert(1, 1), 1);
  std::vector<float> corrected;
  ASSERT_EQ(w.GetHarmonics(corrected), 1);
  std::vector<int32_t> c2;
  ASSERT_EQ(w.GetConverted(c2), 1);
  EXPECT_NE(c2, c);  // the corrected wave replaces the converted samples
  // ... and the harmonics (so the distortion) are those of the corrected wave, not of the
  // samples as the input circuit passed them.
  std::vector<std::complex<double>> shown(c2.begin(), c2.end());
  KT_Waveform::Transform(shown, +1);
  for (size_t k = 1; k < 32; ++k) EXPECT_NEAR(corrected[k], std::abs(shown[k]), 33.0) << k;
  EXPECT_NEAR(corrected[1], 0.8 * std::abs(KT_Waveform::CorrectionFactor(1)) * plain[1], 1.0);
  EXPECT_EQ(w.ComputeThd(), 1);
}

TEST(Waveform, SampleCountsTheSpectrumCannotHandleAreRefused) {
  TempDir dir;
  for (size_t n : {48u, 2u, 1u, 100u}) {
    SCOPED_TRACE(n);
    KT_Waveform w = OutputWave(std::vector<double>(n, 10.0));
    EXPECT_EQ(w.Convert(1, 0), -1);
    EXPECT_EQ(w.function, KT_Waveform::FN_SPECTRUM);
    std::vector<float> h;
    EXPECT_EQ(w.GetHarmonics(h), -1);
    EXPECT_EQ(w.ComputeThd(), -1);
  }
  // Smaller powers of two work; the correction covers the harmonics they have.
  KT_Waveform small = OutputWave({10, 20, -10, -20, 10, 20, -10, -20, 10, 20, -10, -20, 10, 20, -10, -20});
  EXPECT_EQ(small.Convert(1, 0), 1);
  KT_Waveform none;
  EXPECT_EQ(none.Convert(1, 1), -1);
  EXPECT_EQ(none.SetSamples(std::vector<uint32_t>{}), -1);  // sample count 0
  EXPECT_EQ(none.function, KT_Waveform::FN_SET_SAMPLES);
  std::vector<uint32_t> out;
  EXPECT_EQ(none.GetSamples(out), -1);
}

TEST(WaveformBlock, BranchRecordsAndFreshness) {
  TempDir dir;
  ScopedManualClock clock;
  WaveformBlock b;
  KT_Waveform* w = b.Wave(2);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(b.Wave(4), nullptr);
  w->SetSampleCount(2);
  ASSERT_EQ(w->SetSamples(std::vector<uint32_t>{0x01020304, 125}), 1);
  Bytes reply;
  ASSERT_EQ(b.ConvertMessage(reply, KT_ScpMessage(SCP_GET, {9, 2})), 1);
  KT_ScpMessage m;
  ASSERT_EQ(DecodeScpFrame(reply.data(), reply.size(), m), 0);
  EXPECT_EQ(m.data, (Bytes{0, 2, 1, 2, 3, 4, 0, 0, 0, 125}));

  WaveformBlock console;
  ASSERT_GE(console.ConvertMessage(reply, KT_ScpMessage(SCP_DATA, {9, 2}, m.data)), 0);
  std::vector<uint32_t> samples;
  ASSERT_EQ(console.Wave(2)->GetSamples(samples), 1);
  EXPECT_EQ(samples, (std::vector<uint32_t>{0x01020304, 125}));
  EXPECT_TRUE(console.IsFresh(2));
  clock->AdvanceSeconds(20);
  EXPECT_TRUE(console.IsFresh(2));
  clock->AdvanceSeconds(1);
  EXPECT_FALSE(console.IsFresh(2));
  EXPECT_EQ(console.GetRoute(2), ROUTE_UPS);

  // A count the bytes cannot hold leaves the samples as they were.
  EXPECT_LT(console.ConvertMessage(reply, KT_ScpMessage(SCP_DATA, {9, 2}, Bytes{0xFF, 0xFF, 0, 0, 0, 1})), 0);
  ASSERT_EQ(console.Wave(2)->GetSamples(samples), 1);
  EXPECT_EQ(samples.size(), 2u);
  EXPECT_EQ(console.Wave(2)->GetSampleCount(), 2);
  // Fields and branches outside the table convert nothing.
  EXPECT_EQ(console.ConvertField(7, 1, CONVERT_DECODE, nullptr, nullptr), 1);
  EXPECT_EQ(console.ConvertField(1, 3, CONVERT_DECODE, nullptr, nullptr), 1);
}

}  // namespace
