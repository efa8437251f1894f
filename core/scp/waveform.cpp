#include "core/scp/waveform.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <new>

#include "core/base/ktdiag.h"

namespace {

// Frequency response of the input circuit for harmonics 1..32 (real, imaginary).
constexpr float kCorrection[KT_Waveform::kCorrectedHarmonics][2] = {
    {1.31f, 0.42f},  {1.09f, 0.25f},  {1.03f, 0.14f},  {1.00f, 0.07f},  {1.00f, 0.00f},  {0.99f, -0.04f},
    {0.99f, -0.08f}, {0.98f, -0.11f}, {0.98f, -0.15f}, {0.98f, -0.18f}, {0.98f, -0.21f}, {0.98f, -0.24f},
    {0.98f, -0.27f}, {0.98f, -0.30f}, {0.98f, -0.33f}, {0.98f, -0.36f}, {0.98f, -0.38f}, {0.98f, -0.41f},
    {0.99f, -0.44f}, {0.97f, -0.46f}, {0.98f, -0.49f}, {0.98f, -0.52f}, {0.98f, -0.54f}, {0.98f, -0.57f},
    {0.98f, -0.60f}, {0.98f, -0.62f}, {0.98f, -0.65f}, {0.98f, -0.68f}, {0.98f, -0.70f}, {0.98f, -0.73f},
    {0.98f, -0.75f}, {0.98f, -0.78f},
};

// An input sample below this is a candidate low point (a zero crossing of the rectified wave).
constexpr uint32_t kLowPointLimit = 32;
constexpr int kMaxLowPoints = 5;
// End of the half cycle when only one low point is found.
constexpr size_t kDefaultSecondLow = 62;
// Scale of the corrected wave.
constexpr double kCorrectedScale = 0.8;
// Highest harmonic in the distortion.
constexpr size_t kThdLastHarmonic = 31;

constexpr double kTwoPi = 6.28318530717959;

}  // namespace

void KT_Waveform::Note(int32_t fn, int32_t failure, int32_t value) {
  // A wave the spectrum cannot use is a property of the data, met again on every refresh:
  // kept in the record, not appended to error.dat.
  errorClass = ERR_WAVEFORM_BLOCK;
  function = fn;
  code = failure;
  systemError = value;
}

void KT_Waveform::Reset() {
  raw_.clear();
  raw_.shrink_to_fit();
  converted_.clear();
  converted_.shrink_to_fit();
  harmonics_.clear();
  harmonics_.shrink_to_fit();
  count_ = 0;
  thd_ = kNoThd;
}

int KT_Waveform::SetSamples(const uint32_t* values) {
  if (count_ == 0) {
    LogError(ERR_WAVEFORM_BLOCK, FN_SET_SAMPLES, 1, 0);
    return -1;
  }
  if (values == nullptr) {
    LogError(ERR_WAVEFORM_BLOCK, FN_SET_SAMPLES, 1, 0);
    return -1;
  }
  try {
    raw_.assign(values, values + count_);
  } catch (const std::bad_alloc&) {
    LogError(ERR_WAVEFORM_BLOCK, FN_SET_SAMPLES, 2, GetSocketError());
    return -1;
  }
  return 1;
}

int KT_Waveform::SetSamples(const std::vector<uint32_t>& values) {
  if (values.size() < count_) {
    LogError(ERR_WAVEFORM_BLOCK, FN_SET_SAMPLES, 1, static_cast<int32_t>(values.size()));
    return -1;
  }
  return SetSamples(values.data());
}

int KT_Waveform::GetSamples(std::vector<uint32_t>& out) {
  if (raw_.empty()) {
    LogError(ERR_WAVEFORM_BLOCK, FN_GET_SAMPLES, 1, 0);
    return -1;
  }
  out = raw_;
  return 1;
}

int KT_Waveform::GetSamples(uint32_t* out) {
  if (raw_.empty()) {
    LogError(ERR_WAVEFORM_BLOCK, FN_GET_SAMPLES, 1, 0);
    return -1;
  }
  if (out == nullptr) {
    LogError(ERR_WAVEFORM_BLOCK, FN_GET_SAMPLES, 2, 0);
    return -1;
  }
  std::copy(raw_.begin(), raw_.end(), out);
  return 1;
}

int KT_Waveform::GetConverted(std::vector<int32_t>& out) const {
  if (converted_.empty()) return -1;
  out = converted_;
  return 1;
}

int KT_Waveform::GetHarmonics(std::vector<float>& out) const {
  if (harmonics_.empty()) return -1;
  out = harmonics_;
  return 1;
}

std::complex<float> KT_Waveform::CorrectionFactor(int k) {
  if (k < 1 || k > kCorrectedHarmonics) return {1.0f, 0.0f};
  return {kCorrection[k - 1][0], kCorrection[k - 1][1]};
}

bool KT_Waveform::IsUsableCount(size_t n) { return n >= 4 && (n & (n - 1)) == 0; }

void KT_Waveform::Transform(std::vector<std::complex<double>>& data, int sign) {
  const size_t n = data.size();
  if (!IsUsableCount(n) && n != 2) return;
  // Bit-reversed reordering.
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(data[i], data[j]);
  }
  // Butterflies of growing span; the twiddle factor follows the trigonometric recurrence.
  for (size_t half = 1; half < n; half <<= 1) {
    const size_t span = half << 1;
    const double theta = kTwoPi / (static_cast<double>(sign) * static_cast<double>(span));
    const double wtemp = std::sin(0.5 * theta);
    const double wpr = -2.0 * wtemp * wtemp;
    const double wpi = std::sin(theta);
    double wr = 1.0;
    double wi = 0.0;
    for (size_t m = 0; m < half; ++m) {
      const std::complex<double> w(wr, wi);
      for (size_t i = m; i < n; i += span) {
        const size_t j = i + half;
        const std::complex<double> t = w * data[j];
        data[j] = data[i] - t;
        data[i] += t;
      }
      const double old = wr;
      wr = wr * wpr - wi * wpi + wr;
      wi = wi * wpr + old * wpi + wi;
    }
  }
}

int KT_Waveform::Convert(int correct, int inputWave) {
  const size_t n = raw_.size();
  if (n == 0) return -1;
  std::vector<int32_t> converted;
  try {
    converted.resize(n);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  for (size_t i = 0; i < n; ++i) {
    // An output wave in volts or milliamperes swings further below its centre than 125: the
    // 32-bit raw value carries it in two's complement.
    const int64_t v = inputWave == 1 ? static_cast<int64_t>(raw_[i])
                                     : static_cast<int64_t>(static_cast<int32_t>(raw_[i])) - kOutputCentre;
    converted[i] = static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
  }

  if (inputWave == 1) {
    for (size_t i = 0; i < n; ++i) Diag().Printf("input[%d] = %x\n", static_cast<int>(i), raw_[i]);
    size_t low[kMaxLowPoints] = {};
    int found = 0;
    for (size_t k = 1; k + 1 < n && found < kMaxLowPoints; ++k) {
      if (raw_[k] < kLowPointLimit && raw_[k] < raw_[k - 1] && raw_[k] <= raw_[k + 1]) low[found++] = k + 1;
    }
    for (int i = 0; i < found && i < 2; ++i) {
      Diag().Printf("low input %d = %d = %x\n", i, static_cast<int>(low[i]), raw_[low[i]]);
    }
    if (found == 0) {
      // No zero crossing: the wave stays as it came, without a spectrum.
      converted_ = std::move(converted);
      harmonics_.clear();
      thd_ = kNoThd;
      return 0;
    }
    if (found == 1) low[1] = std::min(kDefaultSecondLow, n - 1);
    // Restore the sign of the half cycle between the two low points, then start the wave at
    // the second one.
    for (size_t i = low[0]; i < low[1]; ++i) converted[i] = static_cast<int32_t>(-static_cast<int64_t>(raw_[i]));
    std::rotate(converted.begin(), converted.begin() + static_cast<std::ptrdiff_t>(low[1]), converted.end());
  }

  converted_ = std::move(converted);
  return Spectrum(correct == 1);
}

int KT_Waveform::Spectrum(bool correct) {
  const size_t n = converted_.size();
  if (!IsUsableCount(n)) {
    Note(FN_SPECTRUM, 1, static_cast<int32_t>(n));
    harmonics_.clear();
    thd_ = kNoThd;
    return -1;
  }
  std::vector<std::complex<double>> bins;
  std::vector<float> harmonics;
  std::vector<std::complex<double>> corrected;
  try {
    bins.resize(n);
    harmonics.assign(n / 2, 0.0f);
    if (correct) corrected.resize(n);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  for (size_t i = 0; i < n; ++i) bins[i] = {static_cast<double>(converted_[i]), 0.0};
  Transform(bins, +1);
  for (size_t k = 1; k < n / 2; ++k) harmonics[k] = static_cast<float>(std::abs(bins[k]));

  if (correct) {
    // The corrected wave replaces the converted samples, so its spectrum is the one shown and
    // the one the distortion describes: harmonic k of the corrected wave, at the scale of its
    // samples (x 0.8), is factor k times harmonic k as sampled.
    const size_t lastHarmonic = std::min<size_t>(kCorrectedHarmonics, n / 2 - 1);
    for (size_t k = 1; k <= lastHarmonic; ++k) {
      const std::complex<float> f = CorrectionFactor(static_cast<int>(k));
      harmonics[k] =
          static_cast<float>(static_cast<double>(std::abs(f)) * kCorrectedScale * std::abs(bins[k]));
    }
    corrected = bins;
    const size_t last = std::min<size_t>(kCorrectedHarmonics, n / 2);
    for (size_t k = 1; k <= last; ++k) {
      const std::complex<float> f = CorrectionFactor(static_cast<int>(k));
      const std::complex<double> fd(f.real(), f.imag());
      corrected[k] = bins[k] * fd;
      // For k = n/2 both assignments hit one bin; the conjugate product is the one kept.
      corrected[n - k] = bins[n - k] * std::conj(fd);
    }
    corrected[0] = {std::abs(bins[0]), 0.0};
    Transform(corrected, -1);
    for (size_t i = 0; i < n; ++i) {
      const double v = corrected[i].real() / static_cast<double>(n) * kCorrectedScale;
      converted_[i] = static_cast<int32_t>(std::trunc(std::clamp(v, -2147483648.0, 2147483647.0)));
    }
  }
  harmonics_ = std::move(harmonics);
  return 1;
}

int KT_Waveform::ComputeThd() {
  if (harmonics_.size() < 2) {
    Note(FN_THD, 1, static_cast<int32_t>(harmonics_.size()));
    thd_ = kNoThd;
    return -1;
  }
  const double fundamental = harmonics_[1];
  if (fundamental == 0.0 || !std::isfinite(fundamental)) {
    Note(FN_THD, 2, 0);
    thd_ = kNoThd;
    return -1;
  }
  double sum = 0.0;
  const size_t last = std::min(kThdLastHarmonic, harmonics_.size() - 1);
  for (size_t k = 2; k <= last; ++k) sum += static_cast<double>(harmonics_[k]) * harmonics_[k];
  thd_ = 100.0 * std::sqrt(sum / (fundamental * fundamental));
  return 1;
}
