// Fuzzes the console's handling of a received waveform: the input is decoded into a waveform
// block as the data of one branch, then the wave is converted (each way: input or output
// wave, with and without the correction) and its distortion computed. Any sample count and
// any sample values must be handled without reading or writing outside the tables.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/scp/scp_frame.h"
#include "core/scp/waveform_block.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t branch = static_cast<uint8_t>(1 + data[0] % 3);
  const int input_wave = (data[0] >> 2) & 1;
  const int correct = (data[0] >> 3) & 1;
  WaveformBlock block;
  std::vector<uint8_t> reply;
  KT_ScpMessage message(SCP_DATA, {WaveformBlock::kBlockId, branch}, std::vector<uint8_t>(data + 1, data + size));
  if (block.ConvertMessage(reply, message) < 0) return 0;
  KT_Waveform* wave = block.Wave(branch);
  wave->Convert(correct, input_wave);
  wave->ComputeThd();
  std::vector<int32_t> converted;
  std::vector<float> harmonics;
  wave->GetConverted(converted);
  wave->GetHarmonics(harmonics);
  return 0;
}
