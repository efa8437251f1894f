// SCP block 9: three sampled waveforms of the UPS, one per branch. Branch 1 carries the
// input-voltage wave (rectified), branch 2 the output voltage and branch 3 the output current
// (both centred on 125). The UPS driver stores the raw samples; the consoles fetch a branch
// and convert it (see core/scp/waveform.h). Never stored in a record file.
//
// Record form of each branch (big-endian): field 1 the sample count (2 bytes), field 2 that
// many samples of 4 bytes each.
#pragma once

#include "core/scp/block.h"
#include "core/scp/waveform.h"

enum WaveformBranch : int {
  WAVE_INPUT_VOLTAGE = 1,
  WAVE_OUTPUT_VOLTAGE = 2,
  WAVE_OUTPUT_CURRENT = 3,
};

class WaveformBlock : public KT_Block {
 public:
  static constexpr int kBlockId = 9;
  static constexpr int kRefreshSeconds = 20;
  static constexpr int kWaves = 3;

  // Error record of a received count that the bytes cannot hold (class 39).
  enum : int32_t { FN_CONVERT = 5, CODE_BAD_COUNT = 1 };

  WaveformBlock();

  int GetRoute(int branch) override;
  // A branch outside 1..3 or a field other than 1 and 2 converts nothing and answers 1.
  int ConvertField(int branch, int field, int direction, KT_RecordWriter* out, KT_RecordReader* in) override;

  // The wave of branch 1..3; null for any other branch.
  KT_Waveform* Wave(int branch);

  // Whether the UPS side gives waves at all. An agent whose UPS gives none marks branches
  // 1..3 not available, so that a GET of them is answered "Not Available" at once instead
  // of being queued for a UPS that never fills them.
  void SetAvailable(bool available);
  bool IsAvailable() const;

 private:
  KT_Waveform waves_[kWaves];
};
