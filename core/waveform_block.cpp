#include "core/waveform_block.h"

#include <new>

WaveformBlock::WaveformBlock() {
  branches_.AddBranch(0, 0);
  branches_.AddBranch(1, 2);
  branches_.AddBranch(2, 2);
  branches_.AddBranch(3, 2);
  SetRefreshPeriod(kRefreshSeconds);
}

int WaveformBlock::GetRoute(int /*branch*/) { return ROUTE_UPS; }

KT_Waveform* WaveformBlock::Wave(int branch) {
  if (branch < 1 || branch > kWaves) return nullptr;
  return &waves_[branch - 1];
}

int WaveformBlock::ConvertField(int branch, int field, int direction, KT_RecordWriter* out, KT_RecordReader* in) {
  KT_Waveform* wave = Wave(branch);
  if (wave == nullptr || (field != 1 && field != 2)) return 1;

  if (field == 1) {
    if (direction == CONVERT_ENCODE) return out != nullptr ? out->Put16(wave->GetSampleCount()) : -1;
    uint16_t count = 0;
    if (in == nullptr || in->Get16(count) < 0) return -1;
    wave->SetSampleCount(count);
    return 1;
  }

  const size_t count = wave->GetSampleCount();
  if (direction == CONVERT_ENCODE) {
    if (out == nullptr) return -1;
    // Exactly `count` samples, so that the record reads back; samples not yet delivered
    // are sent as 0.
    const std::vector<uint32_t>& raw = wave->Raw();
    for (size_t i = 0; i < count; ++i) {
      if (out->Put32(i < raw.size() ? raw[i] : 0) < 0) return -1;
    }
    return 1;
  }
  if (in == nullptr) return -1;
  if (count > in->Remaining() / 4) {
    LogError(ERR_WAVEFORM_BLOCK, FN_CONVERT, CODE_BAD_COUNT, static_cast<int32_t>(count));
    return -1;
  }
  std::vector<uint32_t> raw;
  try {
    raw.resize(count);
  } catch (const std::bad_alloc&) {
    LogError(ERR_WAVEFORM_BLOCK, FN_CONVERT, 2, GetSocketError());
    return -1;
  }
  for (uint32_t& v : raw) {
    if (in->Get32(v) < 0) return -1;
  }
  wave->TakeRaw(std::move(raw));
  return 1;
}
