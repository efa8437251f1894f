#include "core/scp/waveform_block.h"

#include <new>

namespace {

void PutBe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

}  // namespace

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

void WaveformBlock::SetAvailable(bool available) {
  for (int branch = 1; branch <= kWaves; ++branch) {
    branches_.SetFieldState(branch, 0, available ? FIELD_UNCHANGED : FIELD_NOT_AVAILABLE);
  }
}

bool WaveformBlock::IsAvailable() const {
  return branches_.GetFieldState(WAVE_INPUT_VOLTAGE, 0) != FIELD_NOT_AVAILABLE;
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
    // One write for the whole table: the record buffer grows by little more than each write
    // needs, so thousands of small writes would copy it over and over.
    const std::vector<uint32_t>& raw = wave->Raw();
    std::vector<uint8_t> bytes;
    try {
      bytes.resize(count * 4);
    } catch (const std::bad_alloc&) {
      LogError(ERR_WAVEFORM_BLOCK, FN_CONVERT, 2, GetSocketError());
      return -1;
    }
    for (size_t i = 0; i < count && i < raw.size(); ++i) PutBe32(bytes.data() + 4 * i, raw[i]);
    return out->PutBytes(bytes.data(), bytes.size());
  }
  if (in == nullptr) return -1;
  if (count > in->Remaining() / 4) {
    // The count just read has no samples behind it: the wave keeps the samples it holds,
    // and the count that describes them.
    if (wave->HasSamples()) wave->SetSampleCount(static_cast<uint16_t>(wave->Raw().size()));
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
