// One sampled waveform of the UPS: the raw samples as the UPS delivers them and, on the
// console side, the samples converted to a signed wave, the harmonic amplitudes of the wave
// and its total harmonic distortion.
//
// Output waves arrive centred on 125 (a raw value is a 32-bit two's complement number, so a
// wave in volts or milliamperes may swing below 0). The input-voltage wave arrives rectified:
// Convert finds its low points, negates one half cycle to restore the sign and rotates the
// wave to start at a zero crossing. The spectrum is a radix-2 complex FFT, so it needs a sample
// count that is a power of two (64 for the UPS's waves); other counts are refused. With the
// correction on, the input wave's harmonics 1..32 are multiplied by the measured frequency
// response of the input circuit, the corrected wave replaces the converted samples and the
// harmonic amplitudes (and so the distortion) are those of the corrected wave.
#pragma once

#include <complex>
#include <cstdint>
#include <vector>

#include "core/base/error_status.h"

class KT_Waveform : public KT_ErrorStatus {
 public:
  // Distortion value meaning "not computed".
  static constexpr double kNoThd = 255.0;
  // Centre of an output wave's raw samples.
  static constexpr int32_t kOutputCentre = 125;
  // Harmonics the correction table covers.
  static constexpr int kCorrectedHarmonics = 32;

  // Error record functions and codes (class 39).
  enum : int32_t {
    FN_SET_SAMPLES = 1,   // 1 sample count 0, 2 no memory
    FN_GET_SAMPLES = 2,   // 1 no samples, 2 no destination
    // Kept in the record only (not appended to error.dat):
    FN_SPECTRUM = 3,      // 1 the sample count is not a power of two of at least 4
    FN_THD = 4,           // 1 no spectrum, 2 fundamental amplitude 0
  };

  KT_Waveform() = default;

  // Frees the three tables; count 0; distortion 255.0.
  void Reset();
  void SetSampleCount(uint16_t n) { count_ = n; }
  uint16_t GetSampleCount() const { return count_; }
  // Copies sample-count values into the raw table (sized to the count). 1, or -1.
  int SetSamples(const uint32_t* values);
  int SetSamples(const std::vector<uint32_t>& values);
  // Copies the raw samples out. 1, or -1 when there are none.
  int GetSamples(std::vector<uint32_t>& out);
  int GetSamples(uint32_t* out);
  bool HasSamples() const { return !raw_.empty(); }
  // The raw table as held (may be shorter than the count before samples arrive).
  const std::vector<uint32_t>& Raw() const { return raw_; }
  // Replaces the raw table (decoder use; the count is set separately).
  void TakeRaw(std::vector<uint32_t> raw) { raw_ = std::move(raw); }

  // Converts the raw samples (see the file comment); inputWave 1 for the rectified input
  // wave, correct 1 applies the frequency-response correction to the spectrum. 1 when the
  // spectrum was computed, 0 when the conversion ended without one, -1 on failure.
  int Convert(int correct, int inputWave);
  // Copies out the converted samples (-1 when there are none) or the sample-count / 2
  // harmonic amplitudes (entry k = harmonic k; entry 0 carries no value; -1 when none).
  int GetConverted(std::vector<int32_t>& out) const;
  int GetHarmonics(std::vector<float>& out) const;
  // Distortion = 100 x sqrt(sum of squares of harmonics 2..31 / square of harmonic 1),
  // over the harmonics the spectrum has. 1 when computed; -1 (distortion back to 255.0, "not
  // computed") when there is no spectrum or the fundamental is 0.
  int ComputeThd();
  double GetThd() const { return thd_; }

  // The correction factor of harmonic k (1..32).
  static std::complex<float> CorrectionFactor(int k);
  // In-place radix-2 complex transform of n = data.size() points, n a power of two; sign +1
  // forward, -1 inverse; not normalised. Exposed for tests.
  static void Transform(std::vector<std::complex<double>>& data, int sign);
  static bool IsUsableCount(size_t n);

 private:
  int Spectrum(bool correct);
  void Note(int32_t fn, int32_t failure, int32_t value);

  uint16_t count_ = 0;
  std::vector<uint32_t> raw_;
  std::vector<int32_t> converted_;
  std::vector<float> harmonics_;
  double thd_ = kNoThd;
};
